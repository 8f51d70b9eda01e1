// Which Linux device a COM port number opens.
//
//   1. SerialLineSettings::devicePath, when not empty, as is;
//   2. $VANTREL_COM_DIR/COMn, when VANTREL_COM_DIR is set and that file exists;
//   3. COM1-COM8 -> /dev/ttyUSB0-7, COM9-COM16 -> /dev/ttyACM0-7, COM17-COM20 -> /dev/ttyS0-3.
// Port numbers outside 1 to 20 (without 1. or 2.) map to "" (nothing to open).
#pragma once

#include <string>

#include "TransTypes.h"

std::string ComDevicePath(int n);
std::string ComDevicePath(const SerialLineSettings& settings);

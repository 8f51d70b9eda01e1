// vantrel hid and vantrel list: the HID devices present and what the protocol can use.
#pragma once

#include <string>

#include "cli/Commands.h"

// A descriptor file (descriptorFile not empty, "-" for standard input) or every hidraw
// device present: collections, reports, the pipe chosen or why refused. Exit 0 usable (any
// device), 1 refused, 2 unreadable or no device.
int RunHid(const std::string& descriptorFile, bool json);

// Every hidraw device with a usable pipe, the configured ones marked, and the serial ports;
// exit 1 when there is none.
int RunList(const GlobalOptions& g);

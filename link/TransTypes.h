// Types shared by the links, the transfer controller and the windows.
#pragma once

#include <cstdint>
#include <string>

#include "LinkDevice.h"

// State word of a link.
enum LinkState : int32_t {
  kLinkIdle = 0,    // open, no reply awaited
  kLinkClosed = 1,  // no port or device open
  kLinkBusy = 3,    // a command was written, its reply is awaited
};

// Kind of link the transfer controller holds.
enum LinkType : int {
  kLinkNone = 0,
  kLinkUsb = 1,
  kLinkCom = 2,
};

// How command strings become frames on the current link.
enum Encoding : int {
  kEncodingNone = 0,
  kEncodingAscii = 1,   // STX, hexadecimal text, CR (serial)
  kEncodingBinary = 2,  // binary frame in a zero-filled 128-byte buffer (USB)
};

// Serial line parameters of one COM port (settings record and serial link).
struct SerialLineSettings {
  int portNum = 1;            // COM number, 1 to 20 in the dialog
  uint32_t baudRate = 38400;  // bits per second
  uint8_t byteSize = 8;       // 5 to 8
  uint8_t parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;       // 0 one, 1 one and a half, 2 two
  std::string devicePath;     // when not empty, opened instead of the COM number's path
};

// Panel information reported by GetFirmwareDetail.
struct PanelInfo {
  int xCount = 0;
  int yCount = 0;
  int resolution = 0;
  int xRange = 0;
  int yRange = 0;
};

// Last decoded data report or short reply.
struct DataRecord {
  uint8_t kind = 0;   // 2 once a frame of type 0x02 has been decoded
  uint32_t time = 0;  // process clock in ms at decoding
  uint8_t group = 0;
  uint8_t code = 0;  // sub-command or data code; a short reply stores its bytes from here on
  uint8_t startX = 0;
  uint8_t startY = 0;
  uint8_t direction = 0;  // 1 = X axis, 0 = Y axis
  uint8_t count = 0;      // number of values
  const int32_t* values = nullptr;
};

// Last single-touch coordinate report.
struct CoordinateRecord {
  uint8_t kind = 0;    // 1
  uint32_t time = 0;   // process clock in ms
  uint8_t touch = 0;   // bit 0 of byte 1
  uint8_t finger = 0;  // bit 2 of byte 1
  uint16_t x = 0;
  uint16_t y = 0;
  uint16_t z = 0;
};

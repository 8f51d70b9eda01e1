#pragma once

#include "calib/framework/TKorvikUsbCommand.h"

// A received answer; its CommandIndex is the row of the command it answers.
class TKorvikUsbResponse : public TKorvikUsbCommand {
 public:
  using TKorvikUsbCommand::TKorvikUsbCommand;
};

// Acknowledgement of a data-stream command.
class TKorvikUsbResponseType1 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// Acknowledgement with a status byte (Calibrate and the settings commands).
class TKorvikUsbResponseType3 : public TKorvikUsbResponseType1 {
 public:
  using TKorvikUsbResponseType1::TKorvikUsbResponseType1;
};

// Version text.
class TKorvikUsbResponseType4 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// Firmware detail (electrode counts and coordinate ranges).
class TKorvikUsbResponseType5 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// Register read.
class TKorvikUsbResponseType6 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// IGT number.
class TKorvikUsbResponseType7 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// Bus error counter result.
class TKorvikUsbResponseType8 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

// Self test result.
class TKorvikUsbResponseType9 : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

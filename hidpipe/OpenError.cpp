#include "OpenError.h"

namespace hidpipe {

namespace {
thread_local std::string lastOpenError;
thread_local int lastSendError = 0;
}  // namespace

void setOpenError(std::string text) {
  lastOpenError = std::move(text);
}

const std::string& openError() {
  return lastOpenError;
}

void setSendError(int error, std::string text) {
  lastSendError = error;
  lastOpenError = std::move(text);
}

int sendError() {
  return lastSendError;
}

}  // namespace hidpipe

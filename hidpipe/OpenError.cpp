#include "OpenError.h"

namespace hidpipe {

namespace {
thread_local std::string lastOpenError;
}  // namespace

void setOpenError(std::string text) {
  lastOpenError = std::move(text);
}

const std::string& openError() {
  return lastOpenError;
}

}  // namespace hidpipe

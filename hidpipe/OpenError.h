// Why the calling thread's last device open failed: what hidLastError hands out.
#pragma once

#include <string>

namespace hidpipe {

void setOpenError(std::string text);
const std::string& openError();

}  // namespace hidpipe

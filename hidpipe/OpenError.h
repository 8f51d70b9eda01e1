// Why the calling thread's last device open failed: what hidLastError hands out.
#pragma once

#include <string>

namespace hidpipe {

void setOpenError(std::string text);
const std::string& openError();

// Why the calling thread's last send failed: the errno (0 after a send that went out) and,
// as the open error's text, its account.
void setSendError(int error, std::string text);
int sendError();

}  // namespace hidpipe

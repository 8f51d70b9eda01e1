// SHA-256 of a file, read in pieces (captures may be large).
#pragma once

#include <string>

namespace records {

// Lower-case hexadecimal; "" when the file cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace records

// Text from a controller, a person or a file as reports and records carry it: control
// characters (but tab) and bytes that are not UTF-8 become \xNN.
#pragma once

#include <string>

namespace records {

std::string Printable(const std::string& text);

}  // namespace records

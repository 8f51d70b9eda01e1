// One report in and out of a hidraw descriptor, framed by the interface's report layout.
// Works on any descriptor that keeps message bounds (tests use a socket pair).
#pragma once

#include <cstdint>

#include "ReportLayout.h"

namespace hidpipe {

// Writes one output report (kReportSize bytes): the output id (0 when unnumbered, which
// the driver drops) then the report, zero-padded to the output report's size. False when
// it did not all go out; errno tells why.
bool writeReport(int fd, const ReportLayout& layout, const uint8_t* report);

enum class ReadResult { Report, None, Gone };

// Reads one waiting input report into report (kReportSize bytes): the id stripped, bytes
// past kReportSize left out, a shorter report zero-filled. None when nothing is waiting or
// the report has another id (it is skipped); Gone at end of file or on an error.
ReadResult readReport(int fd, const ReportLayout& layout, uint8_t* report);

}  // namespace hidpipe

// One report in and out of a hidraw descriptor, framed by the interface's report layout.
// Works on any descriptor that keeps message bounds (tests use a socket pair).
#pragma once

#include <cstdint>
#include <string>

#include "ReportLayout.h"

namespace hidpipe {

// Why the frame at the start of report (kReportSize bytes, frame then zeros) cannot go out
// on this layout, or empty when it can: a frame type with no output id of its own (id is
// frame type), or a frame longer than the report holds (never cut).
std::string frameRefusal(const ReportLayout& layout, const uint8_t* report);

// Writes the frame at the start of report (kReportSize bytes) as one output report.
// Unnumbered: id 0 (which the driver drops), the 64 bytes, zeros to the report's size.
// Numbered pipe: the output id, the frame, zeros. Id is frame type: the frame as it stands,
// zeros to its id's size. False when it did not all go out; errno tells why (EMSGSIZE:
// refused, see frameRefusal).
bool writeReport(int fd, const ReportLayout& layout, const uint8_t* report);

enum class ReadResult { Report, None, Gone };

// Reads one waiting input report into report (kReportSize bytes), bytes past kReportSize
// left out, a shorter report zero-filled; received (when given) is set to the bytes of it
// that came from the device, at most kReportSize. Unnumbered: all of it. Numbered pipe: the input
// id's report without its id. Id is frame type: a report of one of the layout's input ids
// that are frame types, the id as byte 0; of the input id when it is no frame type, without. None when nothing is waiting or the report has another id (it is
// skipped); Gone at end of file or on an error.
ReadResult readReport(int fd, const ReportLayout& layout, uint8_t* report,
                      size_t* received = nullptr);

}  // namespace hidpipe

// Debug traces of the link layer: discarded unless VANTREL_TRACE is set (then stderr).
#pragma once

#include <cstdint>

bool LinkTraceEnabled();
void LinkTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Milliseconds of the process clock (steady, since process start), wrapping at 2^32.
uint32_t ProcessClockMs();

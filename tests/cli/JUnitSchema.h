// A JUnit report checked against the schema CI servers read (JUNIT_XSD_PATH).
#pragma once

#include <string>

#include "cli/VantrelRun.h"
#include "common/RunProgram.h"

// xmllint's verdict on a report against the JUnit schema CI servers read: "" when valid.
inline std::string JUnitProblems(const std::string& path) {
  const std::string lint = path + ".lint";
  const int code =
      RunProgram({"/usr/bin/xmllint", "--noout", "--schema", JUNIT_XSD_PATH, path}, lint, lint);
  if (code == 0) return "";
  if (code < 0) return "xmllint did not run to its end: " + Slurp(lint);
  return "invalid: " + Slurp(lint);
}

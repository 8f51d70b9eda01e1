// The report's figures for other tools: one JSON document, or CSV rows of
// section, group, name, figure, value (the same figures as the HTML report).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "records/LineData.h"
#include "records/ReportData.h"

nlohmann::json ReportJson(const records::ReportData& d, const records::LineData& line,
                          const records::LineOptions& o);
std::string ReportCsv(const records::ReportData& d, const records::LineData& line);

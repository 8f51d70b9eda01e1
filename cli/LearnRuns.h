// Statistics of golden panels as files: the document `vantrel stats --json` writes (one
// stream of one panel) and the learning file `vantrel learn --add` grows ({"runs": [...]},
// one such document per stream and panel, each naming its unit).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/LimitsLearn.h"

// The statistics document of one stream of one panel.
nlohmann::json StatsDocument(const std::string& stream, const analysis::ElectrodeStats& stats,
                             uint64_t incomplete, const std::string& firmware, int xCount,
                             int yCount);

// One document into a run; false with why when it is not one. unit: the panel's name
// when the document does not give one.
bool RunFromDocument(const nlohmann::json& doc, const std::string& unit, analysis::PanelRun& run,
                     std::string& why);
// The run as a document (its unit and its excluded electrodes included).
nlohmann::json RunDocument(const analysis::PanelRun& run);

// Every run of a statistics document or a learning file; false with why.
bool LoadRuns(const std::string& path, std::vector<analysis::PanelRun>& runs, std::string& why);
// The learning file with these runs, written whole.
bool SaveRuns(const std::string& path, const std::vector<analysis::PanelRun>& runs,
              std::string& why);

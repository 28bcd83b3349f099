// The operators' pages and exports, drawn by the server: HTML with inline
// SVG charts, no scripts. Every value that came from a report is escaped.
#pragma once

#include <string>
#include <vector>

#include "store.h"

namespace zstats {

std::string HtmlEscape(const std::string& text);
std::string JsonEscape(const std::string& text);
std::string CsvField(const std::string& text);
// "YYYY-MM-DD" of a day number (days since 1970, UTC), and back (-1: not a date).
std::string DayText(int64_t day);
int64_t ParseDay(const std::string& text);

std::string RenderLoginPage(const std::string& message);
std::string RenderDashboard(const Summary& summary, const Filter& filter, const std::vector<std::string>& channels,
                            const std::string& user);
std::string RenderRunPage(const RunRow& row, const std::vector<StoredRecord>& records);
std::string SummaryJson(const Summary& summary, const Filter& filter);
std::string SummaryCsv(const Summary& summary, const Filter& filter);
// The runs of a list: Sid, channel, times and outcome (no traces).
std::string RunsJson(const std::vector<RunRow>& runs, const Filter& filter);
std::string RunJson(const RunRow& row, const std::vector<StoredRecord>& records);

}  // namespace zstats

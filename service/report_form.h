// Parsing of an installer's statistics upload: the multipart form of
// POST /stat_report.fcgi and the report body it carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zstats {

// The fields of the report header line, in the order the installer writes them.
struct ReportHeader {
  std::string op, type, version, sid, channel, mode, pc_code, uinf, time, rnd;
  int64_t os_code = 0;
  int64_t os_build = 0;
};

// One parsed report: the header and the record line's key/value pairs in the
// order they were sent. A line with a "src" key is a one-shot record (Start,
// End, ...); a line without one is the accumulated trace map.
struct Report {
  ReportHeader header;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string line;  // the record line as sent, without the header and line end
  bool one_shot = false;
  std::string src;   // value of "src" for a one-shot record

  // Value of `key` in the record line, or empty.
  std::string Get(std::string_view key) const;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // why the upload was refused (400), for the log and the client
  Report report;
};

// Longest accepted Sid; the installer sends a 35-character GUID text.
constexpr size_t kMaxSidLength = 64;

// Splits a record line into its "key=value" pairs; false (and `why`) for a
// word without a key.
bool SplitRecordLine(std::string_view line, std::vector<std::pair<std::string, std::string>>* pairs, std::string* why);

// Parses a report body: "<header line> <record line>\r\n" (the line end is
// optional). Refuses text that is not UTF-8 or holds control characters, a
// header whose fields are missing or out of order, and an empty Sid.
ParseResult ParseReportBody(std::string_view body);

// Parses the upload form. `content_type` is the request's Content-Type header.
// Tolerates what clients vary: the boundary's letter case, the order of the
// parts and of their headers, a CRLF or a bare LF before a delimiter, and a
// missing line end after the closing delimiter. Refuses a form without the
// "userfile" part or its closing delimiter (a truncated upload), and a body
// whose length differs from a "raw_file_size" that was sent.
ParseResult ParseReportForm(std::string_view content_type, std::string_view form);

}  // namespace zstats

#pragma once

#include <cstdint>
#include <string>

#include "stat/stat_record.h"

// UTF-16 (or, on the host, UTF-32) text as UTF-8. Unpaired surrogates become
// U+FFFD, as the system converter does.
std::string WideToUtf8(const std::wstring& text);

// A header value that comes from outside the program (the channel, the run
// tag): "%", space, "=", CR and LF percent-encoded ("%25", "%20", "%3D",
// "%0D", "%0A"), so that it cannot end its field or add fields and lines of
// its own. Everything else is kept as is.
std::wstring EscapeHeaderValue(const std::wstring& value);

// "key=value " for each pair in key order; the last pair keeps its space.
std::wstring FormatStatMap(const StatMap& map);

// Folds a trace into the accumulated map: a key without a value takes the
// trace's value, else "/" and the value are appended (arrival order).
void MergeTrace(StatMap* accumulated, const StatMap& trace);

// The uploaded text: header, a space, the line and "\r\n".
std::string BuildReportBody(const std::string& header, const std::string& line);

// The form boundary as it is declared in the Content-Type header.
extern const char kReportFormBoundary[];
// The request headers of the upload.
extern const char kReportRequestHeaders[];

// The multipart form that carries one report body, byte for byte.
std::string BuildMultipartForm(const std::string& statisticsType, const std::string& body);

// Value of the "sthp" trace: "stage:error:status:failures:attempts".
std::wstring FormatOutcome(int stage, std::uint32_t lastError, int status, long failures,
                           long attempts);

#include "report_form.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace zstats {
namespace {

// ASCII letters only: the form's names and boundary are ASCII, and this
// runs on every line of every report.
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Well-formed UTF-8 without C0 control characters other than tab, CR and LF
// (the stores keep report text as text).
bool IsCleanUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) return false;
      ++i;
      continue;
    }
    size_t n;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

bool ParseInt(std::string_view s, int64_t* out) {
  if (s.empty() || s.size() > 18) return false;
  bool negative = false;
  if (s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
    if (s.empty()) return false;
  }
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = negative ? -v : v;
  return true;
}

bool IsSidText(std::string_view sid) {
  if (sid.empty() || sid.size() > kMaxSidLength) return false;
  return std::all_of(sid.begin(), sid.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '{' || c == '}';
  });
}

// Value of a parameter (name="value", name=value) in a header's value.
std::optional<std::string> HeaderParam(std::string_view value, std::string_view name) {
  size_t pos = 0;
  while (pos < value.size()) {
    size_t semi = value.find(';', pos);
    std::string_view item = Trim(value.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos));
    pos = semi == std::string_view::npos ? value.size() : semi + 1;
    size_t eq = item.find('=');
    if (eq == std::string_view::npos || !EqualsNoCase(Trim(item.substr(0, eq)), name)) continue;
    std::string_view v = Trim(item.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"') {
      size_t close = v.find('"', 1);
      if (close == std::string_view::npos) return std::nullopt;
      v = v.substr(1, close - 1);
    }
    return std::string(v);
  }
  return std::nullopt;
}

struct FormPart {
  std::string name;
  std::string_view content;
};

// A delimiter counts only at the start of the form or of a line, so only
// line starts are compared.
size_t FindDelimiter(std::string_view form, std::string_view delimiter, size_t from) {
  for (size_t at = from; at + delimiter.size() <= form.size();) {
    if ((at == 0 || form[at - 1] == '\n') && EqualsNoCase(form.substr(at, delimiter.size()), delimiter)) return at;
    size_t line_end = form.find('\n', at);
    if (line_end == std::string_view::npos) break;
    at = line_end + 1;
  }
  return std::string_view::npos;
}

// Content before a delimiter loses the line end that belongs to the delimiter.
std::string_view StripLineEnd(std::string_view s) {
  if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

}  // namespace

bool SplitRecordLine(std::string_view line, std::vector<std::pair<std::string, std::string>>* pairs, std::string* why) {
  // Pairs are "key=value" separated by single spaces; a word without "=" is
  // taken as the rest of the previous value (a value with a space in it).
  size_t at = 0;
  while (at < line.size()) {
    size_t space = line.find(' ', at);
    std::string_view word = line.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at);
    at = space == std::string_view::npos ? line.size() : space + 1;
    if (word.empty()) continue;
    size_t eq = word.find('=');
    if (eq == 0) {
      *why = "record line has a pair without a key";
      return false;
    }
    if (eq == std::string_view::npos) {
      if (pairs->empty()) {
        *why = "record line does not start with a key=value pair";
        return false;
      }
      pairs->back().second += " ";
      pairs->back().second += word;
      continue;
    }
    pairs->emplace_back(std::string(word.substr(0, eq)), std::string(word.substr(eq + 1)));
  }
  return true;
}

std::string Report::Get(std::string_view key) const {
  for (const auto& [k, v] : pairs) {
    if (k == key) return v;
  }
  return {};
}

ParseResult ParseReportBody(std::string_view body) {
  ParseResult result;
  auto fail = [&](std::string why) {
    result.ok = false;
    result.error = std::move(why);
    return result;
  };
  if (!IsCleanUtf8(body)) return fail("report is not clean UTF-8 text");
  if (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") body.remove_suffix(2);
  else if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  if (body.find_first_of("\r\n") != std::string_view::npos) return fail("report holds more than one line");

  // Header fields come in this order; each value runs to the next field's
  // " Key=" (a channel name may hold spaces).
  static const char* const kKeys[] = {"Op", "Type", "Version", "Sid", "From", "Mode",
                                      "PcCode", "Uinf", "Time", "Rnd", "Osv", "Osvi"};
  constexpr size_t kCount = sizeof(kKeys) / sizeof(kKeys[0]);
  std::string_view values[kCount];
  size_t pos = 0;
  for (size_t i = 0; i < kCount; ++i) {
    std::string prefix = std::string(i == 0 ? "" : " ") + kKeys[i] + "=";
    if (body.compare(pos, prefix.size(), prefix) != 0) return fail(std::string("header field ") + kKeys[i] + " missing");
    pos += prefix.size();
    size_t end;
    if (i + 1 < kCount) {
      end = body.find(std::string(" ") + kKeys[i + 1] + "=", pos);
      if (end == std::string_view::npos) return fail(std::string("header field ") + kKeys[i + 1] + " missing");
    } else {
      end = body.find(' ', pos);
      if (end == std::string_view::npos) end = body.size();
    }
    values[i] = body.substr(pos, end - pos);
    pos = end;
  }
  ReportHeader& h = result.report.header;
  h.op = values[0];
  h.type = values[1];
  h.version = values[2];
  h.sid = values[3];
  h.channel = values[4];
  h.mode = values[5];
  h.pc_code = values[6];
  h.uinf = values[7];
  h.time = values[8];
  h.rnd = values[9];
  if (h.op.empty()) return fail("header field Op empty");
  if (!IsSidText(h.sid)) return fail("Sid missing or not an identifier");
  if (!ParseInt(values[10], &h.os_code)) return fail("Osv is not a number");
  if (!ParseInt(values[11], &h.os_build)) return fail("Osvi is not a number");

  std::string_view line = pos < body.size() ? body.substr(pos + 1) : std::string_view();
  result.report.line = std::string(Trim(line));
  std::string why;
  if (!SplitRecordLine(line, &result.report.pairs, &why)) return fail(why);
  for (const auto& [k, v] : result.report.pairs) {
    if (k == "src") {
      result.report.one_shot = true;
      result.report.src = v;
    }
  }
  if (result.report.one_shot && result.report.src.empty()) return fail("record with an empty src");
  result.ok = true;
  return result;
}

ParseResult ParseReportForm(std::string_view content_type, std::string_view form) {
  ParseResult result;
  auto fail = [&](std::string why) {
    result.ok = false;
    result.error = std::move(why);
    return result;
  };
  size_t semi = content_type.find(';');
  if (!EqualsNoCase(Trim(content_type.substr(0, semi)), "multipart/form-data")) return fail("not a multipart/form-data upload");
  std::optional<std::string> boundary = HeaderParam(content_type.substr(semi == std::string_view::npos ? content_type.size() : semi), "boundary");
  if (!boundary || boundary->empty() || boundary->size() > 200) return fail("multipart boundary missing");
  const std::string delimiter = "--" + *boundary;

  size_t next = FindDelimiter(form, delimiter, 0);
  if (next == std::string_view::npos) return fail("form has no delimiter");
  // The closing delimiter is the last one; the report body is the last part
  // and runs to it, so a body that happens to hold the delimiter text stays whole.
  size_t closing = std::string_view::npos;
  for (size_t at = FindDelimiter(form, delimiter, 0); at != std::string_view::npos;
       at = FindDelimiter(form, delimiter, at + 1)) {
    if (form.compare(at + delimiter.size(), 2, "--") == 0) closing = at;
  }
  if (closing == std::string_view::npos) return fail("form is truncated (no closing delimiter)");
  // Text after the closing delimiter is an epilogue, ignored as MIME says.

  std::vector<FormPart> parts;
  std::optional<std::string_view> userfile;
  std::string_view userfile_unstripped;
  while (next < closing && !userfile) {
    size_t start = next + delimiter.size();
    size_t eol = form.find('\n', start);
    if (eol == std::string_view::npos || eol > closing) return fail("form delimiter line is cut");
    if (!Trim(form.substr(start, eol - start)).empty()) return fail("form delimiter line has trailing text");
    size_t headers = eol + 1;
    // Part headers end at the first empty line (CRLF CRLF or LF LF).
    std::string name;
    bool found_disposition = false;
    size_t line_start = headers;
    size_t content_start = std::string_view::npos;
    while (line_start < closing) {
      size_t line_end = form.find('\n', line_start);
      if (line_end == std::string_view::npos || line_end > closing) return fail("form part headers are cut");
      std::string_view header_line = Trim(form.substr(line_start, line_end - line_start));
      line_start = line_end + 1;
      if (header_line.empty()) {
        content_start = line_start;
        break;
      }
      size_t colon = header_line.find(':');
      if (colon == std::string_view::npos) return fail("form part header without a colon");
      if (EqualsNoCase(Trim(header_line.substr(0, colon)), "Content-Disposition")) {
        std::string_view value = header_line.substr(colon + 1);
        if (!EqualsNoCase(Trim(value.substr(0, value.find(';'))), "form-data")) return fail("form part is not form-data");
        std::optional<std::string> n = HeaderParam(value, "name");
        if (!n) return fail("form part without a name");
        name = *n;
        found_disposition = true;
      }
    }
    if (content_start == std::string_view::npos) return fail("form part headers are cut");
    if (!found_disposition) return fail("form part without Content-Disposition");
    if (name == "userfile") {
      userfile_unstripped = form.substr(content_start, closing - content_start);
      userfile = StripLineEnd(userfile_unstripped);
      break;
    }
    next = FindDelimiter(form, delimiter, content_start);
    if (next == std::string_view::npos || next > closing) next = closing;
    parts.push_back({name, StripLineEnd(form.substr(content_start, next - content_start))});
  }
  if (!userfile) return fail("form has no userfile part");
  for (const FormPart& part : parts) {
    if (part.name != "raw_file_size") continue;
    int64_t size = 0;
    if (!ParseInt(Trim(part.content), &size)) return fail("raw_file_size is not a number");
    // A client that puts no line end of its own before the closing delimiter
    // leaves the body's CRLF to it.
    if (static_cast<uint64_t>(size) == userfile_unstripped.size()) userfile = userfile_unstripped;
    if (static_cast<uint64_t>(size) != userfile->size()) return fail("report body length differs from raw_file_size");
  }
  result = ParseReportBody(*userfile);
  return result;
}

}  // namespace zstats

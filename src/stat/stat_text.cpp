#include "stat/stat_text.h"
#include "sys/text_format.h"

#include <cstring>

namespace {

const char32_t kReplacement = 0xFFFD;

void PutCodePoint(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
    return;
  }
  if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  }
  out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

const char kDelimiterLine[] = "----MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG\r\n";
const char kFinalDelimiter[] = "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG--\r\n";

// Writes the pieces of the form into a buffer sized beforehand.
class FormWriter {
 public:
  explicit FormWriter(std::string* buffer) : buffer_(buffer) {}
  void Put(const std::string& text) { Put(text.data(), text.size()); }
  void Put(const char* text) { Put(text, std::strlen(text)); }
  void Put(const char* data, std::size_t size) {
    if (buffer_ != nullptr) buffer_->replace(position_, size, data, size);
    position_ += size;
  }
  std::size_t position() const { return position_; }

 private:
  std::string* buffer_;
  std::size_t position_ = 0;
};

// The form's parts in order. Run once without a buffer to measure the exact
// length, then again to fill a buffer of that length.
void WriteForm(FormWriter& w, const std::string& type, const std::string& body,
               const std::string& bodyLength) {
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"product_name\";\r\n\r\nbrowser\r\n");
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"product_version\";\r\n\r\n1.0\r\n");
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"statistics_type\";\r\n\r\n");
  w.Put(type);
  w.Put("\r\n");
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"security_level\";\r\n\r\n4\r\n");
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"raw_file_size\";\r\n\r\n");
  w.Put(bodyLength);
  w.Put("\n");  // a bare line feed: the receiving side expects exactly this
  w.Put(kDelimiterLine);
  w.Put("Content-Disposition: form-data; name=\"userfile\"; filename=\"data.dat\";\r\n");
  w.Put("Content-Type: application/x-gzip\r\n\r\n");
  w.Put(body);
  w.Put(kFinalDelimiter);
}

}  // namespace

const char kReportFormBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG";
const char kReportRequestHeaders[] =
    "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY-REPORTLOG\r\n"
    "Connection: close\r\n";

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2) c &= 0xFFFF;
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char32_t>(text[i + 1]) & 0xFFFF)) {
      const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) {
      c = kReplacement;
    }
    PutCodePoint(c, &out);
  }
  return out;
}

std::wstring FormatStatMap(const StatMap& map) {
  std::wstring text;
  for (const auto& pair : map) {
    text += pair.first;
    text += L'=';
    text += pair.second;
    text += L' ';
  }
  return text;
}

void MergeTrace(StatMap* accumulated, const StatMap& trace) {
  for (const auto& pair : trace) {
    std::wstring& value = (*accumulated)[pair.first];
    if (value.empty()) {
      value = pair.second;
    } else {
      value += L'/';
      value += pair.second;
    }
  }
}

std::string BuildReportBody(const std::string& header, const std::string& line) {
  return header + " " + line + "\r\n";
}

std::string BuildMultipartForm(const std::string& statisticsType, const std::string& body) {
  const std::string bodyLength = std::to_string(body.size());
  FormWriter measure(nullptr);
  WriteForm(measure, statisticsType, body, bodyLength);
  std::string form(measure.position(), '\0');
  FormWriter fill(&form);
  WriteForm(fill, statisticsType, body, bodyLength);
  return form;
}

std::wstring FormatOutcome(int stage, std::uint32_t lastError, int status, long failures,
                           long attempts) {
  return DecimalText(stage) + L":" + DecimalText(lastError) + L":" +
         DecimalText(status) + L":" + DecimalText(failures) + L":" +
         DecimalText(attempts);
}

std::wstring EscapeHeaderValue(const std::wstring& value) {
  std::wstring out;
  out.reserve(value.size());
  for (wchar_t c : value) {
    switch (c) {
      case L'%': out += L"%25"; break;
      case L' ': out += L"%20"; break;
      case L'=': out += L"%3D"; break;
      case L'\r': out += L"%0D"; break;
      case L'\n': out += L"%0A"; break;
      default: out += c; break;
    }
  }
  return out;
}

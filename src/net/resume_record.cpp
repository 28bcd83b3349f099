#include "net/resume_record.h"

#include <algorithm>

namespace net {

namespace {

constexpr std::size_t kPathOffset = 0;
constexpr std::size_t kUrlOffset = 1032;
constexpr std::size_t kTextBytes = 1024;
constexpr std::size_t kReservedOffset = 3088;
constexpr std::size_t kCreationOffset = 3092;
constexpr std::size_t kLastModifiedOffset = 3100;
constexpr std::size_t kFileSizeOffset = 3116;
constexpr std::size_t kCountOffset = 3120;
constexpr std::size_t kRangesOffset = 3124;
constexpr std::size_t kTrailerSize = 8;

void PutU16(std::vector<uint8_t>* out, std::size_t at, uint16_t value) {
  (*out)[at] = static_cast<uint8_t>(value);
  (*out)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(std::vector<uint8_t>* out, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t GetU16(const uint8_t* data, std::size_t at) {
  return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
}

uint32_t GetU32(const uint8_t* data, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | data[at + i];
  return value;
}

void PutText(std::vector<uint8_t>* out, std::size_t at, const std::u16string& text) {
  const std::size_t count = std::min(text.size(), ResumeRecord::kMaxTextChars);
  for (std::size_t i = 0; i < count; ++i) PutU16(out, at + 2 * i, text[i]);
}

// Up to the first zero unit within the field; a field without one is taken whole.
std::u16string GetText(const uint8_t* data, std::size_t at) {
  std::u16string text;
  for (std::size_t i = 0; i < kTextBytes / 2; ++i) {
    const uint16_t unit = GetU16(data, at + 2 * i);
    if (unit == 0) break;
    text.push_back(static_cast<char16_t>(unit));
  }
  return text;
}

void PutTime(std::vector<uint8_t>* out, std::size_t at, const SystemTime& time) {
  const uint16_t fields[8] = {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                              time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
  for (int i = 0; i < 8; ++i) PutU16(out, at + 2 * i, fields[i]);
}

SystemTime GetTime(const uint8_t* data, std::size_t at) {
  SystemTime time;
  time.wYear = GetU16(data, at);
  time.wMonth = GetU16(data, at + 2);
  time.wDayOfWeek = GetU16(data, at + 4);
  time.wDay = GetU16(data, at + 6);
  time.wHour = GetU16(data, at + 8);
  time.wMinute = GetU16(data, at + 10);
  time.wSecond = GetU16(data, at + 12);
  time.wMilliseconds = GetU16(data, at + 14);
  return time;
}

}  // namespace

std::vector<uint8_t> SerializeResumeRecord(const ResumeRecord& record) {
  std::vector<uint8_t> out(ResumeRecord::kFixedSize + 8 * record.ranges.size(), 0);
  PutText(&out, kPathOffset, record.path);
  PutText(&out, kUrlOffset, record.url);
  PutU32(&out, kCreationOffset, record.creationLow);
  PutU32(&out, kCreationOffset + 4, record.creationHigh);
  PutTime(&out, kLastModifiedOffset, record.lastModified);
  PutU32(&out, kFileSizeOffset, record.fileSize);
  PutU32(&out, kCountOffset, static_cast<uint32_t>(record.ranges.size()));
  for (std::size_t i = 0; i < record.ranges.size(); ++i) {
    PutU32(&out, kRangesOffset + 8 * i, record.ranges[i].first);
    PutU32(&out, kRangesOffset + 8 * i + 4, record.ranges[i].last);
  }
  return out;
}

bool ParseResumeRecord(const uint8_t* data, std::size_t size, ResumeRecord* out) {
  if (!data || size < ResumeRecord::kFixedSize || size > ResumeRecord::kMaxFileSize) return false;
  if (GetU32(data, kReservedOffset) != 0) return false;
  const uint32_t count = GetU32(data, kCountOffset);
  // Checked in 64 bits: a huge N must not wrap around to a small size.
  if (kRangesOffset + 8ull * count + kTrailerSize > size) return false;
  ResumeRecord record;
  record.path = GetText(data, kPathOffset);
  record.url = GetText(data, kUrlOffset);
  record.creationLow = GetU32(data, kCreationOffset);
  record.creationHigh = GetU32(data, kCreationOffset + 4);
  record.lastModified = GetTime(data, kLastModifiedOffset);
  record.fileSize = GetU32(data, kFileSizeOffset);
  record.ranges.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const ByteRange range{GetU32(data, kRangesOffset + 8 * i),
                          GetU32(data, kRangesOffset + 8 * i + 4)};
    // A range outside the file would make the download fetch and write
    // bytes past its end.
    if (range.first > range.last || range.last >= record.fileSize) return false;
    record.ranges.push_back(range);
  }
  *out = std::move(record);
  return true;
}

bool ResumeRecordMatches(const ResumeRecord& stored, const std::u16string& path,
                         const std::u16string& url, uint32_t creationLow,
                         uint32_t creationHigh) {
  return stored.creationLow == creationLow && stored.creationHigh == creationHigh &&
         stored.path == path && stored.url == url;
}

bool ResumeSaveDue(bool sized, uint32_t fileSize, uint32_t lastSaveMs, uint32_t nowMs,
                   const SystemTime& lastModified) {
  return sized && fileSize >= kMinResumeFileSize &&
         static_cast<uint32_t>(nowMs - lastSaveMs) >= kResumeSaveIntervalMs &&
         lastModified.wYear != 0;
}

bool ResumeRecordWorthFlushing(uint64_t missingBytes, uint64_t writtenSinceRecord) {
  return missingBytes >= writtenSinceRecord;
}

std::u16string ToUtf16(const std::wstring& text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF && code <= 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

}  // namespace net

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/http_types.h"
#include "net/range_list.h"

namespace net {

// The resume file: everything needed to continue a download of one URL into
// one file. Little-endian, 3132 + 8 × N bytes:
//      0  data file path, UTF-16, zero-terminated, zero-filled to 1024 bytes
//   1024  8 zero bytes
//   1032  URL, UTF-16, zero-terminated, zero-filled to 1024 bytes
//   2056  1032 zero bytes
//   3088  u32 0 (anything else makes the record invalid)
//   3092  u32 creation time of the data file, low word, then 3096 high word
//   3100  Last-Modified as eight u16 SYSTEMTIME fields
//   3116  u32 file size
//   3120  u32 N, then N ranges {first u32, last u32}, then 8 zero bytes
struct ResumeRecord {
  static constexpr std::size_t kFixedSize = 3132;
  static constexpr std::size_t kMaxTextChars = 511;
  // Past this a record is refused rather than read (about 2 million ranges).
  static constexpr std::size_t kMaxFileSize = 16u << 20;

  std::u16string path;
  std::u16string url;
  uint32_t creationLow = 0;
  uint32_t creationHigh = 0;
  SystemTime lastModified{};
  uint32_t fileSize = 0;
  std::vector<ByteRange> ranges;
};

// The record's bytes. Path and URL longer than 511 characters are cut, so
// such a record never matches its download again.
std::vector<uint8_t> SerializeResumeRecord(const ResumeRecord& record);

// Reads a record's structure: at least kFixedSize bytes, the word at 3088 is
// 0, the N ranges and the trailer fit in the data, and every range lies
// inside [0, fileSize - 1]. Does not compare it with any download.
bool ParseResumeRecord(const uint8_t* data, std::size_t size, ResumeRecord* out);

// Whether a parsed record belongs to this download: the same path and URL
// (exactly, case-sensitive) and the same creation time of the data file.
bool ResumeRecordMatches(const ResumeRecord& stored, const std::u16string& path,
                         const std::u16string& url, uint32_t creationLow,
                         uint32_t creationHigh);

// The record is rewritten only for a file that has taken its size, of at
// least 512 KiB, with a Last-Modified, and at most once every kResumeSaveIntervalMs: often enough
// that a killed download loses only the last fraction of a second, rarely
// enough that the flushes stay cheap. Times are millisecond ticks, which
// wrap.
constexpr uint32_t kMinResumeFileSize = 524288;
constexpr uint32_t kResumeSaveIntervalMs = 250;
bool ResumeSaveDue(bool sized, uint32_t fileSize, uint32_t lastSaveMs, uint32_t nowMs,
                   const SystemTime& lastModified);

// A due record is skipped while fewer bytes are missing than arrived since
// the last one: at that rate the download ends before another record would
// be due, and the flush that must precede a record would only delay the end
// (the whole file, written at full speed, goes to the disk first).
bool ResumeRecordWorthFlushing(uint64_t missingBytes, uint64_t writtenSinceRecord);

// UTF-16 text of a wide string (wchar_t is 16 bits on Windows, 32 elsewhere).
std::u16string ToUtf16(const std::wstring& text);

}  // namespace net

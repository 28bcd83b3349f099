// Feeds arbitrary resume files to the loader. A record it accepts must
// write back to the same bytes' meaning and match its own identity.
#include <cstdlib>

#include "net/resume_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  net::ResumeRecord record;
  if (!net::ParseResumeRecord(data, size, &record)) return 0;
  for (const net::ByteRange& range : record.ranges) {
    if (range.first > range.last || range.last >= record.fileSize) std::abort();
  }
  const std::vector<uint8_t> again = net::SerializeResumeRecord(record);
  net::ResumeRecord reparsed;
  if (!net::ParseResumeRecord(again.data(), again.size(), &reparsed)) std::abort();
  if (reparsed.ranges != record.ranges || reparsed.fileSize != record.fileSize ||
      reparsed.lastModified != record.lastModified) {
    std::abort();
  }
  if (record.path.size() <= net::ResumeRecord::kMaxTextChars &&
      record.url.size() <= net::ResumeRecord::kMaxTextChars &&
      !net::ResumeRecordMatches(reparsed, record.path, record.url, record.creationLow,
                                record.creationHigh)) {
    std::abort();
  }
  return 0;
}

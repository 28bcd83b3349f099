#include "net/resume_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace net {
namespace {

ResumeRecord SampleRecord() {
  ResumeRecord record;
  record.path = u"C:\\d\\a.exe";
  record.url = u"http://h/a.exe?x=1";
  record.creationLow = 0x11223344;
  record.creationHigh = 0x55667788;
  record.lastModified = SystemTime{2023, 11, 2, 14, 22, 13, 20, 0};
  record.fileSize = 0x00A00000;
  record.ranges = {{0x100, 0x1FF}, {0x9FFF00, 0x9FFFFF}};
  return record;
}

// The expected bytes written out field by field, independently of the code.
std::vector<uint8_t> GoldenBytes() {
  std::vector<uint8_t> bytes(3132 + 16, 0);
  auto text = [&](std::size_t at, const char* ascii) {
    for (std::size_t i = 0; ascii[i]; ++i) bytes[at + 2 * i] = static_cast<uint8_t>(ascii[i]);
  };
  auto u32 = [&](std::size_t at, uint32_t v) {
    bytes[at] = v & 0xFF;
    bytes[at + 1] = (v >> 8) & 0xFF;
    bytes[at + 2] = (v >> 16) & 0xFF;
    bytes[at + 3] = v >> 24;
  };
  text(0, "C:\\d\\a.exe");
  text(1032, "http://h/a.exe?x=1");
  u32(3092, 0x11223344);
  u32(3096, 0x55667788);
  const uint16_t time[8] = {2023, 11, 2, 14, 22, 13, 20, 0};
  for (int i = 0; i < 8; ++i) {
    bytes[3100 + 2 * i] = time[i] & 0xFF;
    bytes[3101 + 2 * i] = time[i] >> 8;
  }
  u32(3116, 0x00A00000);
  u32(3120, 2);
  u32(3124, 0x100);
  u32(3128, 0x1FF);
  u32(3132, 0x9FFF00);
  u32(3136, 0x9FFFFF);
  return bytes;
}

TEST(ResumeRecordTest, BytesMatchTheLayoutExactly) {
  EXPECT_EQ(SerializeResumeRecord(SampleRecord()), GoldenBytes());
}

TEST(ResumeRecordTest, ParsesWhatItWrites) {
  const std::vector<uint8_t> bytes = GoldenBytes();
  ResumeRecord parsed;
  ASSERT_TRUE(ParseResumeRecord(bytes.data(), bytes.size(), &parsed));
  const ResumeRecord sample = SampleRecord();
  EXPECT_EQ(parsed.path, sample.path);
  EXPECT_EQ(parsed.url, sample.url);
  EXPECT_EQ(parsed.lastModified, sample.lastModified);
  EXPECT_EQ(parsed.fileSize, sample.fileSize);
  EXPECT_EQ(parsed.ranges, sample.ranges);
  EXPECT_TRUE(ResumeRecordMatches(parsed, sample.path, sample.url, 0x11223344, 0x55667788));
}

TEST(ResumeRecordTest, ExactlyTheFixedSizeWithNoRangesLoadsEmpty) {
  ResumeRecord record = SampleRecord();
  record.ranges.clear();
  const std::vector<uint8_t> bytes = SerializeResumeRecord(record);
  ASSERT_EQ(bytes.size(), 3132u);
  ResumeRecord parsed;
  ASSERT_TRUE(ParseResumeRecord(bytes.data(), bytes.size(), &parsed));
  EXPECT_TRUE(parsed.ranges.empty());
}

TEST(ResumeRecordTest, RefusesDamagedRecords) {
  const std::vector<uint8_t> good = GoldenBytes();
  ResumeRecord parsed;
  EXPECT_FALSE(ParseResumeRecord(good.data(), 3131, &parsed));

  std::vector<uint8_t> reserved = good;
  reserved[3090] = 1;  // the word at 3088
  EXPECT_FALSE(ParseResumeRecord(reserved.data(), reserved.size(), &parsed));

  std::vector<uint8_t> huge_count = good;
  huge_count[3123] = 0x20;  // N = 0x20000002: 8 × N wraps 32 bits
  EXPECT_FALSE(ParseResumeRecord(huge_count.data(), huge_count.size(), &parsed));

  std::vector<uint8_t> short_trailer(good.begin(), good.end() - 1);
  EXPECT_FALSE(ParseResumeRecord(short_trailer.data(), short_trailer.size(), &parsed));

  std::vector<uint8_t> outside = good;
  outside[3138] = 0xA0;  // last of the second range: 0xA0FFFF, past the file
  EXPECT_FALSE(ParseResumeRecord(outside.data(), outside.size(), &parsed));

  std::vector<uint8_t> inverted = good;
  inverted[3125] = 0x03;  // first 0x300 > last 0x1FF
  EXPECT_FALSE(ParseResumeRecord(inverted.data(), inverted.size(), &parsed));
}

TEST(ResumeRecordTest, BelongsOnlyToTheSamePathUrlAndCreationTime) {
  const ResumeRecord record = SampleRecord();
  const std::u16string path = record.path;
  const std::u16string url = record.url;
  EXPECT_TRUE(ResumeRecordMatches(record, path, url, 0x11223344, 0x55667788));
  EXPECT_FALSE(ResumeRecordMatches(record, u"c:\\d\\a.exe", url, 0x11223344, 0x55667788));
  EXPECT_FALSE(ResumeRecordMatches(record, path, u"http://h/a.exe?x=2", 0x11223344, 0x55667788));
  EXPECT_FALSE(ResumeRecordMatches(record, path, url, 0x11223345, 0x55667788));
  EXPECT_FALSE(ResumeRecordMatches(record, path, url, 0x11223344, 0x55667789));
}

TEST(ResumeRecordTest, LongTextIsCutAndThenNeverMatches) {
  ResumeRecord record = SampleRecord();
  record.url = std::u16string(600, u'u');
  const std::vector<uint8_t> bytes = SerializeResumeRecord(record);
  EXPECT_EQ(bytes[1032 + 2 * 511], 0);  // the terminator survives
  ResumeRecord parsed;
  ASSERT_TRUE(ParseResumeRecord(bytes.data(), bytes.size(), &parsed));
  EXPECT_EQ(parsed.url.size(), 511u);
  EXPECT_FALSE(ResumeRecordMatches(parsed, record.path, record.url, 0x11223344, 0x55667788));
}

TEST(ResumeRecordTest, SavedOnlyForSizedLargeDatedFilesAtTheInterval) {
  const SystemTime dated{2023, 1, 0, 1, 0, 0, 0, 0};
  const SystemTime undated{};
  const uint32_t due = 100 + kResumeSaveIntervalMs;
  EXPECT_FALSE(ResumeSaveDue(true, 524288, 100, due - 1, dated));
  EXPECT_TRUE(ResumeSaveDue(true, 524288, 100, due, dated));
  EXPECT_FALSE(ResumeSaveDue(true, 524287, 100, due, dated));
  EXPECT_FALSE(ResumeSaveDue(false, 524288, 100, due, dated));
  EXPECT_FALSE(ResumeSaveDue(true, 524288, 100, due, undated));
  // The tick wraps: the interval counts across the wrap.
  EXPECT_TRUE(ResumeSaveDue(true, 524288, 0xFFFFFFF0u, kResumeSaveIntervalMs, dated));
  EXPECT_FALSE(ResumeSaveDue(true, 524288, 0xFFFFFFF0u, 5, dated));
}

TEST(ResumeRecordTest, WideTextBecomesUtf16) {
  EXPECT_EQ(ToUtf16(L"a\u4E2Dz"), u"a\u4E2Dz");
}

}  // namespace
}  // namespace net

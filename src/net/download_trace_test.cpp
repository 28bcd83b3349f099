// The download trace text as the statistics server receives it, and the
// buffer it is stored in.
#include "net/download_trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

struct TraceFixture {
  std::uint32_t now = 0;
  TraceBuffer buffer;
  DownloadTrace trace{&buffer, [this] { return now; }};
};

TEST(DownloadTrace, FreshAndResumedStartsAreTenCharacters) {
  TraceFixture fresh;
  fresh.trace.Record(0, L"ds", 0, 0);
  EXPECT_EQ(fresh.buffer.Text(), L"0:ds0:0,0;");
  EXPECT_EQ(fresh.buffer.Text().size(), 10u);

  TraceFixture resumed;
  resumed.trace.Record(0, L"ds", 0, 1);
  EXPECT_EQ(resumed.buffer.Text(), L"0:ds0:0,1;");
}

TEST(DownloadTrace, BodiesOfEveryForm) {
  TraceFixture f;
  f.trace.Record(2, L"sts");
  f.now = 1;
  f.trace.Record(2, L"cofm", 0);
  f.trace.Record(7, L"rscc", 3, 2);
  f.now = 12;
  f.trace.RecordIdle(5, 1200, 8, 4096);
  f.trace.Record(0, L"dmjfru:http://127.0.0.1/a?rnd=1");
  EXPECT_EQ(f.buffer.Text(),
            L"0:sts;1:cofm2:0;1:rscc7:3,2;12:did5:1200,8,4096;12:dmjfru:http://127.0.0.1/a?rnd=1;");
}

TEST(DownloadTrace, IdleEntriesCollapseWithinTwentySeconds) {
  TraceFixture close;
  close.trace.RecordIdle(5, 1, 1, 1);
  close.now = 5;
  close.trace.RecordIdle(5, 2, 2, 2);
  EXPECT_EQ(close.buffer.Text(), L"0:did5:1,1,1;");
  // The window counts from the last shown idle entry, not the last recorded.
  close.now = 19;
  close.trace.RecordIdle(5, 3, 3, 3);
  close.now = 20;
  close.trace.RecordIdle(5, 4, 4, 4);
  EXPECT_EQ(close.buffer.Text(), L"0:did5:1,1,1;20:did5:4,4,4;");

  TraceFixture apart;
  apart.trace.RecordIdle(5, 1, 1, 1);
  apart.now = 25;
  apart.trace.RecordIdle(5, 2, 2, 2);
  EXPECT_EQ(apart.buffer.Text(), L"0:did5:1,1,1;25:did5:2,2,2;");
}

TEST(DownloadTrace, AnotherKeyRestartsTheIdleComparison) {
  TraceFixture f;
  f.trace.RecordIdle(5, 1, 1, 1);
  f.now = 1;
  f.trace.Record(5, L"riaj");
  f.now = 2;
  f.trace.RecordIdle(5, 2, 2, 2);
  f.now = 3;
  f.trace.RecordIdle(5, 3, 3, 3);
  EXPECT_EQ(f.buffer.Text(), L"0:did5:1,1,1;1:riaj;2:did5:2,2,2;");
}

TEST(DownloadTrace, LongEntriesAreCutToTheEntryWidth) {
  TraceFixture f;
  const std::wstring url = L"http://127.0.0.1/" + std::wstring(600, L'x');
  f.trace.Record(0, L"dmjfru:" + url);
  const std::wstring text = f.buffer.Text();
  ASSERT_EQ(text.size(), DownloadTrace::kMaxEntryLength + 1);
  EXPECT_EQ(text.substr(0, 9), L"0:dmjfru:");
  EXPECT_EQ(text.back(), L';');
}

TEST(DownloadTrace, LongTraceKeepsItsStartTheNewestEntriesAndItsEnd) {
  TraceFixture f;
  f.trace.Record(0, L"ds", 0, 0);
  const std::uint32_t kRecorded = 3000;
  for (std::uint32_t i = 0; i < kRecorded; ++i) {
    f.now = i / 10;
    f.trace.Record(5, L"riej", i);
  }
  f.trace.Record(0, L"dse", 1460, 300000);
  const std::wstring text = f.buffer.Text();
  EXPECT_EQ(text, f.trace.Join());
  EXPECT_LE(text.size(), TraceBuffer::kTraceCapacity);
  EXPECT_GT(text.size(), TraceBuffer::kTraceCapacity / 2);
  EXPECT_EQ(text.find(L"0:ds0:0,0;0:riej5:0;0:riej5:1;"), 0u);
  const std::wstring end = L"299:riej5:2999;299:dse0:1460,300000;";
  EXPECT_EQ(text.rfind(end), text.size() - end.size()) << text;
  // One "tcut" entry counts the entries left out between start and end.
  const std::size_t cut = text.find(L":tcut0:");
  ASSERT_NE(cut, std::wstring::npos) << text;
  const std::uint32_t left = static_cast<std::uint32_t>(std::stoul(text.substr(cut + 7)));
  std::uint32_t shown = 0;
  for (wchar_t c : text) shown += c == L';' ? 1 : 0;
  EXPECT_EQ(shown - 1 + left, kRecorded + 2);
}

TEST(TraceBuffer, ClosedBufferStoresAndYieldsNothing) {
  TraceFixture f;
  f.trace.Record(0, L"ds", 0, 0);
  f.buffer.Close();
  f.trace.Record(2, L"sts");
  EXPECT_TRUE(f.buffer.Text().empty());
  wchar_t copy[16] = {L'z'};
  EXPECT_FALSE(f.buffer.Copy(copy, 16));
}

TEST(TraceBuffer, CopyIsCutToTheCallersCapacity) {
  TraceBuffer buffer;
  ASSERT_TRUE(buffer.Store(L"0:ds0:0,0;"));
  wchar_t copy[5];
  ASSERT_TRUE(buffer.Copy(copy, 5));
  EXPECT_EQ(std::wstring(copy), L"0:ds");
  EXPECT_FALSE(buffer.Copy(copy, 0));
}

TEST(TraceBuffer, ReadersNeverSeeAHalfWrittenText) {
  TraceBuffer buffer;
  const std::wstring shortText(100, L'a');
  const std::wstring longText(8000, L'b');
  buffer.Store(shortText);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) buffer.Store(i % 2 ? longText : shortText);
    stop = true;
  });
  static wchar_t copy[TraceBuffer::kTraceCapacity + 1];
  int torn = 0;
  while (!stop) {
    buffer.Copy(copy, TraceBuffer::kTraceCapacity + 1);
    const std::wstring seen(copy);
    if (seen != shortText && seen != longText) ++torn;
  }
  writer.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace

// Resuming across runs through real WinINet under Wine: a throttled package
// download is cancelled after resume records were written (they follow the
// progress every quarter second), then requested again with another "rnd"
// value, as the installer does on its next run.
#include <gtest/gtest.h>

#include <string>

#include "net/testing/download_runner_win.h"
#include "net/testing/httpd_client_win.h"

namespace {

// A resumable package download (resume on, 120 s), as the installer makes it.
DownloadOutcome ResumableDownload(const std::wstring& url, const std::wstring& path,
                                  DWORD cancelAfterMs = 0) {
  return RunDownload(url, path, 120, 1, cancelAfterMs);
}

TEST(DownloadResume, NextRunWithAnotherRndFetchesOnlyWhatWasMissing) {
  HttpdClient server;
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(server.Reset());
  const std::uint32_t size = 2 * 1024 * 1024;
  ASSERT_TRUE(server.ServePattern("/pkg.exe", size, 9));
  // Four connections at 25,000 bytes/s each: about 21 s for the whole file.
  ASSERT_TRUE(server.Rule("/pkg.exe", "rate=25000"));
  const std::wstring dir = MakeTestDirectory(L"zwi-resume");
  const std::wstring path = dir + L"\\pkg.exe.tmp";

  DownloadOutcome o = ResumableDownload(server.Url("/pkg.exe?ver=2&rnd=111"), path, 12500);
  EXPECT_EQ(o.result, 1223) << o.trace;
  const std::uint64_t firstRun = server.BytesServed("/pkg.exe");
  ASSERT_GT(firstRun, 600000u);
  ASSERT_LT(firstRun, size);
  const std::string resumeRecord = ReadWholeFile(path + L".resume");
  ASSERT_GE(resumeRecord.size(), 3132u) << "no resume record after 12 s";

  ASSERT_TRUE(RestampResumeRecord(path));

  ASSERT_TRUE(server.Reset());
  ASSERT_TRUE(server.ServePattern("/pkg.exe", size, 9));
  o = ResumableDownload(server.Url("/pkg.exe?ver=2&rnd=222"), path);
  EXPECT_EQ(o.result, 0) << o.trace;
  EXPECT_EQ(o.trace.substr(0, 10), L"0:ds0:0,1;");
  EXPECT_TRUE(ReadWholeFile(path) == PatternBytes(size, 9));
  const std::uint64_t secondRun = server.BytesServed("/pkg.exe");
  // Only what the last record did not have on disk is fetched again.
  EXPECT_LT(secondRun, size - 500000u);
  EXPECT_GT(secondRun, 0u);
  for (const auto& line : server.Log("/pkg.exe")) EXPECT_NE(line.range, "-");
}

TEST(DownloadResume, AnotherUrlStartsFromScratch) {
  HttpdClient server;
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(server.Reset());
  const std::uint32_t size = 1024 * 1024;
  ASSERT_TRUE(server.ServePattern("/a.exe", size, 1));
  ASSERT_TRUE(server.ServePattern("/b.exe", size, 2));
  const std::wstring dir = MakeTestDirectory(L"zwi-resume-other");
  const std::wstring path = dir + L"\\pkg.tmp";
  DownloadOutcome o = ResumableDownload(server.Url("/a.exe?rnd=1"), path);
  EXPECT_EQ(o.result, 0) << o.trace;
  // The same file for another URL never continues from the first record.
  o = ResumableDownload(server.Url("/b.exe?rnd=1"), path);
  EXPECT_EQ(o.result, 0) << o.trace;
  EXPECT_EQ(o.trace.substr(0, 10), L"0:ds0:0,0;");
  EXPECT_TRUE(ReadWholeFile(path) == PatternBytes(size, 2));
}

}  // namespace

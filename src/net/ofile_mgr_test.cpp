// The output file manager on real files in a fresh temporary directory, with
// a hand-driven clock instead of waiting for the resume interval.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include <cstring>
#include <atomic>
#include <string>
#include <vector>

#include "net/com_object.h"
#include "net/http_common_win.h"
#include "net/ofile_mgr_win.h"
#include "net/resume_record.h"
#include "net/testing/httpd_client_win.h"
#include "sys/scoped_handle_win.h"

namespace net {
namespace {

using Manager = CMyComObject<COFileMgr>;

const SystemTime kLastModified{2023, 11, 2, 14, 22, 13, 20, 0};
const wchar_t kUrl[] = L"http://127.0.0.1/pkg.exe?rnd=1";

uint64_t FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// The creation time without opening the file (the manager holds it exclusively).
FILETIME CreationTimeOf(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  ScopedFindHandle search(FindFirstFileW(path.c_str(), &found));
  FILETIME time{};
  if (search.IsValid()) time = found.ftCreationTime;
  return time;
}

void WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  DWORD done = 0;
  WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

std::vector<uint8_t> Bytes(uint32_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 3);
  return bytes;
}

class OFileMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDirectory(L"net_ofile");
    path_ = dir_ + L"\\pkg.exe";
  }

  // A manager on path_ whose clock reads now_.
  ScopedRef<Manager> NewManager(bool open = true) {
    ScopedRef<Manager> manager(new Manager([this] { return now_; }));
    if (open) {
      EXPECT_TRUE(manager->Open(path_, true, kUrl));
    }
    return manager;
  }

  int Write(COFileMgr* manager, uint32_t position, uint32_t length, uint32_t jobId,
            uint32_t limit = 0) {
    const std::vector<uint8_t> data = Bytes(length, static_cast<uint8_t>(position));
    int stop = 0;
    manager->Write(position, length, data.data(), limit, jobId, &stop);
    return stop;
  }

  // Windows keeps a file's creation time. Wine on a file system without a
  // birth time reports the last change instead, so a file that was written
  // to no longer matches its record; re-stamp the record with the time the
  // data file reports now, as Windows would have kept it.
  void RestampCreationTime() {
    const std::string text = ReadWholeFile(path_ + L".resume");
    std::vector<uint8_t> bytes(text.begin(), text.end());
    ASSERT_GE(bytes.size(), 3132u);
    const FILETIME now = CreationTimeOf(path_);
    std::memcpy(&bytes[3092], &now.dwLowDateTime, 4);
    std::memcpy(&bytes[3096], &now.dwHighDateTime, 4);
    WriteWholeFile(path_ + L".resume", bytes);
  }

  std::wstring dir_;
  std::wstring path_;
  uint32_t now_ = 1700000000;
};

TEST_F(OFileMgrTest, SetSizeExtendsASparseFileAndTrimsTheFreshRangeList) {
  ScopedRef<Manager> manager = NewManager();
  ASSERT_EQ(manager->remaining().ranges().size(), 1u);
  EXPECT_EQ(manager->RemainingBytes(), 0x100000000ull);
  ASSERT_TRUE(manager->SetSize(123457, &kLastModified));
  ASSERT_EQ(manager->remaining().ranges().size(), 1u);
  EXPECT_EQ(manager->remaining().ranges()[0], (ByteRange{0, 123456}));
  EXPECT_TRUE(manager->sized());
  EXPECT_TRUE(manager->sparse()) << "FSCTL_SET_SPARSE failed";
  EXPECT_EQ(FileSizeOf(path_), 123457u);
  EXPECT_FALSE(manager->SetSize(0, nullptr));  // 0 is "unknown", never a size
  EXPECT_EQ(manager->fileSize(), 123457u);
}

TEST_F(OFileMgrTest, BlocksWaitForTheSizeAndForTheirJobToBeAccepted) {
  ScopedRef<Manager> manager = NewManager();
  Write(manager.get(), 0, 1000, 1);
  Write(manager.get(), 1000, 1000, 2);
  manager->AcceptJob(1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(manager->Flush());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Flush Error\r\n"), std::string::npos);
  EXPECT_EQ(manager->QueuedCount(), 2u);

  ASSERT_TRUE(manager->SetSize(3000, &kLastModified));
  ASSERT_TRUE(manager->Flush());
  ASSERT_TRUE(manager->Flush());
  EXPECT_EQ(manager->QueuedCount(), 1u);  // job 2 is not accepted yet
  EXPECT_EQ(manager->written(), 1000u);
  manager->AcceptJob(2);
  Write(manager.get(), 2000, 1000, 2);
  ASSERT_TRUE(manager->Flush());
  EXPECT_EQ(manager->QueuedCount(), 0u);
  EXPECT_EQ(manager->received(), 3000u);
  EXPECT_TRUE(manager->IsComplete());
  manager->Close();

  std::vector<uint8_t> expected;
  for (uint32_t at : {0u, 1000u, 2000u}) {
    const std::vector<uint8_t> part = Bytes(1000, static_cast<uint8_t>(at));
    expected.insert(expected.end(), part.begin(), part.end());
  }
  const std::string onDisk = ReadWholeFile(path_);
  EXPECT_TRUE(onDisk == std::string(expected.begin(), expected.end()));
}

TEST_F(OFileMgrTest, BlockOverWrittenBytesLogsDeleteRangeAndCountsEachByteOnce) {
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(4000, &kLastModified));
  manager->AcceptJob(0x0F000007);
  Write(manager.get(), 0, 2000, 0x0F000007);
  ASSERT_TRUE(manager->Flush());
  Write(manager.get(), 1000, 2000, 0x0F000007);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(manager->Flush());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("DeleteRange  error [1000-2999] 0f000007\r\n"),
            std::string::npos);
  EXPECT_EQ(manager->written(), 3000u);  // [1000, 1999] came twice
  EXPECT_EQ(manager->RemainingBytes(), 1000u);
  EXPECT_FALSE(manager->IsComplete());
}

TEST_F(OFileMgrTest, BytesPastTheEndOfTheFileAreNeverWritten) {
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(1000, &kLastModified));
  manager->AcceptJob(1);
  Write(manager.get(), 900, 200, 1);    // half inside
  Write(manager.get(), 5000, 100, 1);  // wholly outside
  testing::internal::CaptureStderr();
  ASSERT_TRUE(manager->Flush());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(manager->remaining().ranges()[0], (ByteRange{0, 899}));
  manager->Close();
  EXPECT_EQ(FileSizeOf(path_), 1000u);
}

TEST_F(OFileMgrTest, QueueOverTheCapDropsTheChunkAndStopsTheJob) {
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(1000, &kLastModified));
  EXPECT_EQ(Write(manager.get(), 0, 3001, 1), 0);
  EXPECT_EQ(Write(manager.get(), 0, 10, 1), 1);
  EXPECT_EQ(manager->QueuedCount(), 1u);
  EXPECT_EQ(manager->received(), 3001u);
  // A chunk at the job's stop offset stops it once ranges are known to work.
  manager->DropQueued(true);
  EXPECT_EQ(Write(manager.get(), 0, 10, 1, /*limit=*/5), 0);
  manager->SetResumeSupport(1);
  manager->SetResumeSupport(2);  // once 1, it stays 1
  EXPECT_TRUE(manager->ResumeAllowed());
  EXPECT_EQ(Write(manager.get(), 10, 10, 1, 15), 1);
}

TEST_F(OFileMgrTest, ResumeRecordFollowsProgressAtTheIntervalInTheExactLayout) {
  const uint32_t size = 600000;
  ScopedRef<Manager> manager = NewManager();
  const FILETIME created = CreationTimeOf(path_);  // before anything is written
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  manager->AcceptJob(1);
  Write(manager.get(), 0, 100000, 1);
  now_ += kResumeSaveIntervalMs - 1;
  ASSERT_TRUE(manager->Flush());
  manager->WaitForSave();  // a due record is written in the background
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 0u);
  now_ += 1;
  Write(manager.get(), 200000, 100000, 1);
  ASSERT_TRUE(manager->Flush());
  manager->WaitForSave();
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 3132u + 16);  // two ranges

  // The next save waits for the interval again.
  Write(manager.get(), 100000, 100000, 1);
  now_ += kResumeSaveIntervalMs - 1;
  ASSERT_TRUE(manager->Flush());
  manager->WaitForSave();
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 3132u + 16);
  now_ += 1;
  ASSERT_TRUE(manager->Flush());
  manager->WaitForSave();
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 3132u + 8);
  manager->Close();  // the manager holds both files exclusively until now

  ResumeRecord expected;
  expected.path = ToUtf16(path_);
  expected.url = ToUtf16(kUrl);
  expected.creationLow = created.dwLowDateTime;
  expected.creationHigh = created.dwHighDateTime;
  expected.lastModified = kLastModified;
  expected.fileSize = size;
  expected.ranges = {{300000, size - 1}};
  const std::vector<uint8_t> bytes = SerializeResumeRecord(expected);
  const std::string stored = ReadWholeFile(path_ + L".resume");
  EXPECT_TRUE(stored == std::string(bytes.begin(), bytes.end()));
}

TEST_F(OFileMgrTest, FileNearFourGigabytesKeepsItsRecord) {
  // No view of the whole file is needed: a 32-bit process could not map one
  // this large, and records are kept whenever the file has its size.
  const uint32_t size = 0xF0000000u;
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  manager->AcceptJob(1);
  Write(manager.get(), 0, 4096, 1);
  Write(manager.get(), size - 4096, 4096, 1);
  now_ += kResumeSaveIntervalMs;
  ASSERT_TRUE(manager->Flush());
  manager->WaitForSave();
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 3132u + 8);
  EXPECT_EQ(FileSizeOf(path_), size);
}

TEST_F(OFileMgrTest, SmallFilesAndFilesWithoutLastModifiedNeverGetARecord) {
  {
    ScopedRef<Manager> manager = NewManager();
    ASSERT_TRUE(manager->SetSize(524287, &kLastModified));
    manager->AcceptJob(1);
    Write(manager.get(), 0, 1000, 1);
    now_ += 1000;
    ASSERT_TRUE(manager->Flush());
    manager->Close();
    EXPECT_EQ(FileSizeOf(path_ + L".resume"), 0u);
  }
  path_ = dir_ + L"\\undated.exe";
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(1 << 20, nullptr));
  manager->AcceptJob(1);
  Write(manager.get(), 0, 1000, 1);
  now_ += 1000;
  ASSERT_TRUE(manager->Flush());
  manager->Close();
  EXPECT_EQ(FileSizeOf(path_ + L".resume"), 0u);
}

TEST_F(OFileMgrTest, InterruptedDownloadResumesWithItsRemainingRanges) {
  const uint32_t size = 1 << 20;
  {
    ScopedRef<Manager> manager = NewManager();
    ASSERT_TRUE(manager->SetSize(size, &kLastModified));
    manager->AcceptJob(1);
    Write(manager.get(), 0, 300000, 1);
    now_ += kResumeSaveIntervalMs;
    ASSERT_TRUE(manager->Flush());
  }  // released: closed without a further save
  RestampCreationTime();
  ScopedRef<Manager> again = NewManager();
  std::vector<ByteRange> ranges;
  HttpResponseInfo info;
  std::memset(&info, 0xAB, sizeof(info));
  ASSERT_TRUE(again->LoadResume(&ranges, &info));
  EXPECT_EQ(ranges, (std::vector<ByteRange>{{300000, size - 1}}));
  EXPECT_EQ(again->fileSize(), size);
  EXPECT_EQ(info.status, 200u);
  EXPECT_EQ(info.contentLength, size);
  EXPECT_EQ(info.rangeTotal, size);
  EXPECT_EQ(info.lastModified, kLastModified);
  again->Close();
  EXPECT_TRUE(ReadWholeFile(path_).substr(0, 300000) ==
              std::string(reinterpret_cast<const char*>(Bytes(300000, 0).data()), 300000));
}

// Once fewer bytes are missing than arrived since the last record, the
// download ends before the next one would be due: no flush delays the end.
TEST_F(OFileMgrTest, NoRecordWhenTheRestArrivesBeforeTheNextWouldBeDue) {
  const uint32_t size = 1 << 20;
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  manager->AcceptJob(1);
  // The second write would leave two missing ranges: a record of them would
  // be longer than the first.
  for (uint32_t first : {0u, 600000u}) {
    Write(manager.get(), first, 400000, 1);
    now_ += kResumeSaveIntervalMs;
    ASSERT_TRUE(manager->Flush());
    manager->WaitForSave();
    EXPECT_EQ(FileSizeOf(manager->resumePath()), 3132u + 8);  // one range
  }
}

TEST_F(OFileMgrTest, CloseWritesTheRecordEvenWithinTheInterval) {
  const uint32_t size = 1 << 20;
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  manager->AcceptJob(1);
  Write(manager.get(), 0, 300000, 1);
  now_ += 1;
  ASSERT_TRUE(manager->Flush());
  EXPECT_EQ(FileSizeOf(manager->resumePath()), 0u);
  manager->Close();
  ResumeRecord stored;
  const std::string bytes = ReadWholeFile(path_ + L".resume");
  ASSERT_TRUE(ParseResumeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                &stored));
  EXPECT_EQ(stored.ranges, (std::vector<ByteRange>{{300000, size - 1}}));
}

TEST_F(OFileMgrTest, CompleteFileKeepsItsLastRecord) {
  // The record from before the last bytes arrived stays: the file is not
  // flushed whole once more just to list nothing as missing.
  const uint32_t size = 1 << 20;
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  manager->AcceptJob(1);
  Write(manager.get(), 0, size / 2, 1);
  now_ += kResumeSaveIntervalMs;
  ASSERT_TRUE(manager->Flush());
  Write(manager.get(), size / 2, size / 2, 1);
  now_ += kResumeSaveIntervalMs;
  ASSERT_TRUE(manager->Flush());
  ASSERT_TRUE(manager->IsComplete());
  manager->Close();
  const std::string before = ReadWholeFile(path_ + L".resume");
  ResumeRecord stored;
  ASSERT_TRUE(ParseResumeRecord(reinterpret_cast<const uint8_t*>(before.data()), before.size(),
                                &stored));
  EXPECT_EQ(stored.ranges, (std::vector<ByteRange>{{size / 2, size - 1}}));
}

// The task sleeps in WaitForData on a fast link: it wakes once a mebibyte
// is queued, and when a request reports its response or end (a connection
// that ended waited out the whole time-out before its next piece).
TEST_F(OFileMgrTest, WaitForDataReturnsOnceAMebibyteIsQueuedOrARequestHasNews) {
  for (const bool news : {false, true}) {
    ScopedRef<Manager> manager = NewManager();
    ASSERT_TRUE(manager->SetSize(8u << 20, &kLastModified));
    std::thread waker([&] {
      Sleep(100);
      if (news) {
        SetEvent(RequestNewsEvent());
      } else {
        Write(manager.get(), 0, 600 * 1024, 1);
        Write(manager.get(), 600 * 1024, 600 * 1024, 1);  // crosses the mark
      }
    });
    const DWORD start = GetTickCount();
    manager->WaitForData(20000);
    const DWORD waited = GetTickCount() - start;
    waker.join();
    EXPECT_LT(waited, 10000u) << news;
    if (!news) {
      EXPECT_GE(manager->QueuedBytes(), COFileMgr::kWakeWriterBytes);
    }
    manager->Close();
  }
}

TEST_F(OFileMgrTest, AcceptedChunksGoToTheFileFromTheirOwnThreads) {
  // Eight jobs write interleaved chunks at once: each lands at its own offset
  // (the writers share no file pointer), and only ranges are queued. The
  // last job is accepted only once the writers run, so its first chunks are
  // queued and written by flushes beside the others' writes. The odd chunk
  // size gives every chunk its own bytes.
  const uint32_t chunk = 4096 + 3;
  const uint32_t threads = 8;
  const uint32_t perThread = 256;
  const uint32_t size = chunk * threads * perThread;
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(size, &kLastModified));
  for (uint32_t job = 1; job < threads; ++job) manager->AcceptJob(job);
  std::atomic<uint32_t> writing{threads};
  std::vector<std::thread> writers;
  for (uint32_t t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      for (uint32_t i = 0; i < perThread; ++i) {
        Write(manager.get(), (i * threads + t) * chunk, chunk, t + 1);
      }
      --writing;
    });
  }
  manager->AcceptJob(threads);
  while (writing.load() != 0) ASSERT_TRUE(manager->Flush());
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(manager->received(), size);
  ASSERT_TRUE(manager->Flush());
  EXPECT_EQ(manager->QueuedBytes(), 0u);
  EXPECT_TRUE(manager->IsComplete());
  manager->Close();

  std::string expected;
  for (uint32_t at = 0; at < size; at += chunk) {
    const std::vector<uint8_t> part = Bytes(chunk, static_cast<uint8_t>(at));
    expected.append(part.begin(), part.end());
  }
  EXPECT_TRUE(ReadWholeFile(path_) == expected);
}

TEST_F(OFileMgrTest, OnlyAPieceOfTheHeldFileIsAcceptedAtItsResponse) {
  const uint32_t size = 800000;
  SystemTime otherDay = kLastModified;
  otherDay.wDay += 1;
  struct Case {
    const char* name;
    uint32_t status, contentLength, total, support;
    SystemTime modified;
    bool accepted;
  } cases[] = {
      {"the held file's piece", 206, 1000, size, 1, kLastModified, true},
      {"whole answer", 200, size, 0, 1, kLastModified, false},
      {"another size", 206, 1000, size + 1, 1, kLastModified, false},
      {"another date", 206, 1000, size, 1, otherDay, false},
      {"no length", 206, kNoLength, size, 1, kLastModified, false},
      {"ranges not yet confirmed", 206, 1000, size, 0, kLastModified, false},
  };
  for (const Case& c : cases) {
    ScopedRef<Manager> manager = NewManager();
    ASSERT_TRUE(manager->SetSize(size, &kLastModified));
    if (c.support) manager->SetResumeSupport(c.support);
    HttpResponseInfo response = {};
    response.status = c.status;
    response.contentLength = c.contentLength;
    response.rangeTotal = c.total;
    response.lastModified = c.modified;
    manager->OnJobResponse(7, response);
    EXPECT_EQ(manager->IsJobAccepted(7), c.accepted) << c.name;
    // An accepted job's chunk goes straight to the file: nothing is queued.
    Write(manager.get(), 0, 1000, 7);
    EXPECT_EQ(manager->QueuedBytes(), c.accepted ? 0u : 1000u) << c.name;
    manager->Close();
  }
}

TEST_F(OFileMgrTest, ResumedFileIsCompleteOnceTheRestIsWritten) {
  const uint32_t size = 1 << 20;
  {
    ScopedRef<Manager> manager = NewManager();
    ASSERT_TRUE(manager->SetSize(size, &kLastModified));
    manager->AcceptJob(1);
    Write(manager.get(), 0, size / 2, 1);
    manager->Close();
  }
  RestampCreationTime();
  ScopedRef<Manager> again = NewManager();
  std::vector<ByteRange> ranges;
  HttpResponseInfo info;
  ASSERT_TRUE(again->LoadResume(&ranges, &info));
  ASSERT_TRUE(again->SetSize(size, &kLastModified));
  again->remaining().Assign(ranges);
  again->AcceptJob(2);
  Write(again.get(), size / 2, size / 2, 2);
  ASSERT_TRUE(again->Flush());
  EXPECT_EQ(again->written(), size);
  EXPECT_TRUE(again->IsComplete());
}

TEST_F(OFileMgrTest, ClosedManagerRefusesChunksAndStopsTheirJob) {
  ScopedRef<Manager> manager = NewManager();
  ASSERT_TRUE(manager->SetSize(4000, &kLastModified));
  manager->AcceptJob(1);
  manager->Close();
  EXPECT_EQ(Write(manager.get(), 0, 1000, 1), 1);
  EXPECT_EQ(manager->QueuedCount(), 0u);
  EXPECT_EQ(manager->received(), 0u);
}

class LoadResumeTest : public OFileMgrTest {
 protected:
  // A data file (created by a manager) and a record that matches it.
  ResumeRecord MatchingRecord() {
    NewManager()->Close();
    ResumeRecord record;
    record.path = ToUtf16(path_);
    record.url = ToUtf16(kUrl);
    const FILETIME created = CreationTimeOf(path_);
    record.creationLow = created.dwLowDateTime;
    record.creationHigh = created.dwHighDateTime;
    record.lastModified = kLastModified;
    record.fileSize = 5000000;
    return record;
  }

  bool Load(const std::vector<uint8_t>& bytes, std::vector<ByteRange>* ranges) {
    WriteWholeFile(path_ + L".resume", bytes);
    ScopedRef<Manager> manager = NewManager();
    HttpResponseInfo info;
    return manager->LoadResume(ranges, &info);
  }
};

TEST_F(LoadResumeTest, ExactlyTheFixedSizeWithNoRangesLoadsAnEmptyList) {
  const std::vector<uint8_t> bytes = SerializeResumeRecord(MatchingRecord());
  ASSERT_EQ(bytes.size(), 3132u);
  std::vector<ByteRange> ranges{{1, 2}};
  EXPECT_TRUE(Load(bytes, &ranges));
  EXPECT_EQ(ranges, (std::vector<ByteRange>{{1, 2}}));  // appended to, nothing added
}

TEST_F(LoadResumeTest, RecordOfAnotherFileUrlOrCreationTimeIsRefused) {
  const ResumeRecord good = MatchingRecord();
  std::vector<ByteRange> ranges;
  ResumeRecord other = good;
  other.path[0] = other.path[0] == u'C' ? u'c' : u'C';  // case counts
  EXPECT_FALSE(Load(SerializeResumeRecord(other), &ranges));
  other = good;
  other.url += u"2";
  EXPECT_FALSE(Load(SerializeResumeRecord(other), &ranges));
  other = good;
  other.creationLow += 1;
  EXPECT_FALSE(Load(SerializeResumeRecord(other), &ranges));
  std::vector<uint8_t> reserved = SerializeResumeRecord(good);
  reserved[3088] = 1;
  EXPECT_FALSE(Load(reserved, &ranges));
  std::vector<uint8_t> truncated = SerializeResumeRecord(good);
  truncated.resize(3131);
  EXPECT_FALSE(Load(truncated, &ranges));
  EXPECT_TRUE(Load(SerializeResumeRecord(good), &ranges));
}

// Where the file system reports the last change as the creation time (Wine
// here), a written data file is known by its full size instead.
TEST_F(LoadResumeTest, MovedCreationTimeMatchesOnlyAFileOfTheRecordedSize) {
  ResumeRecord record = MatchingRecord();
  record.creationLow += 1;
  std::vector<ByteRange> ranges;
  EXPECT_FALSE(Load(SerializeResumeRecord(record), &ranges));  // size 0: made afresh

  WriteWholeFile(path_, std::vector<uint8_t>(record.fileSize, 7));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data));
  const bool creationMoves = CompareFileTime(&data.ftCreationTime, &data.ftLastWriteTime) == 0;
  EXPECT_EQ(Load(SerializeResumeRecord(record), &ranges), creationMoves);
  record.fileSize -= 1;
  EXPECT_FALSE(Load(SerializeResumeRecord(record), &ranges));
}

}  // namespace
}  // namespace net

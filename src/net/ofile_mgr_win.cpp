#include "net/ofile_mgr_win.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>

#include "net/http_common_win.h"
#include "net/monotonic_clock.h"
#include "net/resume_record.h"
#include "sys/diag.h"

namespace net {

namespace {

uint32_t SystemClock() { return static_cast<uint32_t>(MonotonicMs()); }

HANDLE OpenExclusive(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// SetFilePointer with a high word, so offsets past 2 GiB stay unsigned.
bool SeekTo(HANDLE file, uint32_t position) {
  LONG high = 0;
  const DWORD low = SetFilePointer(file, static_cast<LONG>(position), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

// A write at its own offset: the handle's file pointer is not shared
// between the writers, so connections write at once, each its own range.
bool WriteAt(HANDLE file, uint32_t position, const uint8_t* data, uint32_t length) {
  OVERLAPPED at = {};
  at.Offset = position;
  DWORD done = 0;
  return WriteFile(file, data, length, &done, &at) && done == length;
}

}  // namespace

uint64_t FileTimeValue(const SystemTime& time) {
  if (time.wYear == 0) return 0;
  SYSTEMTIME system;
  static_assert(sizeof(system) == sizeof(time), "same layout");
  std::memcpy(&system, &time, sizeof(system));
  FILETIME file;
  if (!SystemTimeToFileTime(&system, &file)) return 0;
  return (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

COFileMgr::COFileMgr(Clock clock)
    : clock_(clock ? std::move(clock) : Clock(SystemClock)),
      dataEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  lastResumeSave_ = clock_();
}

COFileMgr::~COFileMgr() { Close(); }

bool COFileMgr::Open(const std::wstring& path, bool withResume, const std::wstring& url) {
  url_ = url;
  path_ = path;
  resumePath_ = path + L".resume";
  resumeFile_.Close();
  dataFile_.Set(OpenExclusive(path_));
  if (!dataFile_.IsValid()) return false;
  closed_.store(false);
  FILETIME lastWrite{};
  if (!GetFileTime(dataFile_.Get(), &creationTime_, nullptr, &lastWrite)) {
    creationTime_ = lastWrite = FILETIME{};
  }
  // A file that was ever written keeps a creation time older than its last
  // write; the two are equal only for a file just created or where the
  // creation time follows every change.
  creationTimeMoves_ = CompareFileTime(&creationTime_, &lastWrite) == 0;
  if (withResume) resumeFile_.Set(OpenExclusive(resumePath_));
  return true;
}

IOutFile* COFileMgr::CreateSubStream(uint32_t first, uint32_t last) {
  IOutFile* sink = new CMyComObject<COFileSubStream>(this, first, last);
  sink->AddRef();
  return sink;
}

int COFileMgr::Write(uint32_t position, uint32_t length, const uint8_t* data, uint32_t limit,
                     uint32_t jobId, int* stop) {
  if (closed_.load()) {
    *stop = 1;
    return 0;
  }
  if (WriteThrough(position, length, data, limit, jobId, stop)) return 0;
  // Back-pressure: while more than kBackPressureBytes of accepted data wait
  // for the disk, a network thread waits (at most kBackPressureWaitMs) for
  // the task's flush, so a fast link cannot fill memory with the file.
  for (uint32_t waited = 0; waited < kBackPressureWaitMs && fileSize_.load() != 0 &&
                            queue_.QueuedBytes() > kBackPressureBytes;
       waited += 5) {
    Sleep(5);
  }
  uint64_t queued = 0;
  const bool offered = queue_.Offer(position, data, length, limit, jobId, fileSize_.load(),
                                    resumeSupport_.load(), stop, &queued);
  // Only the chunk that takes the queue over the mark wakes the writer: one
  // system call per fill, not one per chunk.
  if (offered && queued >= kWakeWriterBytes && queued - length < kWakeWriterBytes) {
    SetEvent(dataEvent_.Get());
  }
  return 0;
}

bool COFileMgr::WriteThrough(uint32_t position, uint32_t length, const uint8_t* data,
                             uint32_t limit, uint32_t jobId, int* stop) {
  // The lock is held only to check in and out: the write itself runs
  // beside the other connections' writes. SetSize and Close wait until no
  // write is checked in, so the file keeps its size and handle meanwhile,
  // and a written range is queued before Close's last flush.
  uint32_t inside = 0;
  {
    AutoLock hold(fileLock_);
    const uint32_t size = fileSize_.load();
    if (closed_.load() || resizing_ || size == 0 || !queue_.IsJobAccepted(jobId)) return false;
    // Bytes past the end of the file are never written: the file keeps
    // its size.
    inside = position >= size ? 0 : std::min(length, size - position);
    ++writesInFlight_;
  }
  const bool written = inside == 0 || WriteAt(dataFile_.Get(), position, data, inside);
  AutoLock hold(fileLock_);
  --writesInFlight_;
  if (!written) {
    // The range stays missing; the task sees the failure at its next flush.
    DiagPrintf(L"WriteFile Error %lu\r\n", static_cast<unsigned long>(GetLastError()));
    writeFailed_.store(true);
    *stop = 1;
    return true;
  }
  queue_.OfferWritten(position, length, limit, jobId, resumeSupport_.load(), stop);
  return true;
}

void COFileMgr::WaitForWritesInFlight() {
  // Called with fileLock_ held and new write-throughs refused; a write in
  // flight is one system call, so the wait is short.
  while (writesInFlight_ != 0) {
    fileLock_.Release();
    Sleep(0);
    fileLock_.Acquire();
  }
}

void COFileMgr::OnJobResponse(uint32_t jobId, const HttpResponseInfo& response) {
  if (response.status != 206 || response.contentLength == kNoLength ||
      response.contentLength == 0 || resumeSupport_.load() != 1) {
    return;
  }
  AutoLock hold(fileLock_);  // the size and date are set under it
  const uint32_t size = fileSize_.load();
  const uint64_t modified = FileTimeValue(lastModified_);
  if (closed_.load() || size == 0 || response.rangeTotal != size || modified == 0 ||
      FileTimeValue(response.lastModified) != modified) {
    return;
  }
  queue_.AcceptJob(jobId);
}

void COFileMgr::WaitForData(uint32_t timeoutMs) {
  if (queue_.QueuedBytes() >= kWakeWriterBytes) return;
  // A request's response or end wakes the task too: on a fast link it
  // sleeps here most of the time, and a connection that ended would
  // otherwise wait out the time-out before the next piece is asked for.
  const HANDLE wakers[] = {dataEvent_.Get(), RequestNewsEvent()};
  WaitForMultipleObjects(wakers[1] != nullptr ? 2 : 1, wakers, FALSE, timeoutMs);
}

void COFileMgr::SetResumeSupport(uint32_t value) {
  if (value != 0 && resumeSupport_.load() != 1) resumeSupport_.store(value);
}

bool COFileMgr::ResumeAllowed() const {
  const uint32_t support = resumeSupport_.load();
  return support == 0 || support == 1;
}

bool COFileMgr::SetSize(uint32_t size, const SystemTime* lastModified) {
  // 0 means "unknown".
  if (size == 0 || !dataFile_.IsValid()) return false;
  WaitForSave();  // the size is about to change under it
  AutoLock hold(fileLock_);
  // No chunk is written through while the size changes.
  struct Resizing {
    bool& flag;
    explicit Resizing(bool& f) : flag(f) { flag = true; }
    ~Resizing() { flag = false; }
  } resizing(resizing_);
  WaitForWritesInFlight();
  if (lastModified) lastModified_ = *lastModified;
  fileSize_.store(size);
  remaining_.DeleteRange(size, 0xFFFFFFFFu);
  resumeChanged_ = true;
  sized_ = false;
  HANDLE file = dataFile_.Get();
  // A sparse file is extended without being zero-filled: on NTFS, a write
  // past the data written so far would otherwise fill the gap with zeros
  // first, in the writing thread and under fileLock_, so the first write
  // near the end of a large file would hold every other connection, the
  // flush and the cancel check for as long as most of the file takes to
  // reach the disk. Where the file system has no sparse files, the file is
  // extended as before.
  DWORD returned = 0;
  sparse_ = DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) !=
            FALSE;
  if (!SeekTo(file, size) || !SetEndOfFile(file)) return false;
  // SetFileValidData is not attempted: it needs a privilege the installer
  // lacks.
  FlushFileBuffers(file);
  SeekTo(file, 0);
  sized_ = true;
  return true;
}

bool COFileMgr::WriteBlock(const QueuedBlock& block, uint32_t length) {
  // Through WriteFile, never a view of the file: a full disk under a sparse
  // file turns a store into a view into an access violation that ends the
  // process, while WriteFile reports ERROR_DISK_FULL.
  if (WriteAt(dataFile_.Get(), block.position, block.data(), length)) return true;
  DiagPrintf(L"WriteFile Error %lu\r\n", static_cast<unsigned long>(GetLastError()));
  return false;
}

bool COFileMgr::Flush() {
  if (!dataFile_.IsValid()) return false;
  const uint32_t size = fileSize_.load();
  if (size == 0) {
    DiagPrintf(L"Flush Error\r\n");
    return false;
  }
  std::vector<QueuedBlockPtr> blocks = queue_.TakeAccepted();
  for (const QueuedBlockPtr& block : blocks) {
    // Bytes past the end of the file are never written: the file keeps its
    // size.
    const uint32_t inside =
        block->position >= size ? 0 : std::min(block->length, size - block->position);
    if (inside != 0 && !block->written && !WriteBlock(*block, inside)) {
      writeFailed_.store(true);  // the range stays missing; the download ends
      continue;
    }
    if (block->length != 0) {
      const uint32_t last = static_cast<uint32_t>(
          std::min<uint64_t>(uint64_t{block->position} + block->length - 1, 0xFFFFFFFFu));
      // written counts what left the remaining list, so a duplicate block
      // is not counted twice.
      const uint64_t before = remaining_.TotalBytes();
      if (!remaining_.DeleteRange(block->position, last)) {
        DiagPrintf(L"DeleteRange  error [%u-%u] %08x\r\n", block->position, last, block->jobId);
      }
      written_ += before - remaining_.TotalBytes();
      if (before != remaining_.TotalBytes()) resumeChanged_ = true;
    }
  }
  SaveResume(false);
  return !writeFailed_.load();
}

void COFileMgr::SetRemaining(const std::vector<ByteRange>& ranges) {
  remaining_.Assign(ranges);
  const uint64_t size = fileSize_.load();
  written_ = size - std::min<uint64_t>(remaining_.TotalBytes(), size);
  writtenAtRecord_ = written_;
  resumeChanged_ = true;
}

void COFileMgr::SaveResume(bool force) {
  if (!resumeFile_.IsValid() || (!force && !resumeChanged_)) return;
  // A complete file needs no record (the caller removes it once the file is
  // used): the last one written stays, listing less than the file holds,
  // and the download does not end waiting for the whole file to reach the
  // disk.
  if (IsComplete()) return;
  const uint32_t now = clock_();
  // Forced: the interval is met by pretending the last save was long ago.
  const uint32_t lastSave = force ? now - kResumeSaveIntervalMs : lastResumeSave_;
  if (!ResumeSaveDue(sized_, fileSize_.load(), lastSave, now, lastModified_)) return;
  if (!force && !ResumeRecordWorthFlushing(remaining_.TotalBytes(), written_ - writtenAtRecord_)) return;
  // One record at a time: a due save waits for the next Flush, a forced one
  // for the record under way.
  if (SaveInProgress()) {
    if (!force) return;
    WaitForSave();
  }
  lastResumeSave_ = now;
  writtenAtRecord_ = written_;
  resumeChanged_ = false;
  ResumeRecord record;
  record.path = ToUtf16(path_);
  record.url = ToUtf16(url_);
  record.creationLow = creationTime_.dwLowDateTime;
  record.creationHigh = creationTime_.dwHighDateTime;
  record.lastModified = lastModified_;
  record.fileSize = fileSize_.load();
  record.ranges = remaining_.ranges();
  pendingRecord_ = SerializeResumeRecord(record);
  // Every byte this record lists as held went to WriteFile before now, so
  // the flush that precedes the record covers it. Flushing waits for the
  // disk, and the writer must go on taking blocks meanwhile: a due record is
  // written on a thread of its own, a forced one (closing) here.
  if (!force) {
    saveThread_.Set(CreateThread(nullptr, 0, SaveThread, this, 0, nullptr));
    if (saveThread_.IsValid()) return;
  }
  WritePendingRecord();
}

DWORD WINAPI COFileMgr::SaveThread(void* self) {
  static_cast<COFileMgr*>(self)->WritePendingRecord();
  return 0;
}

void COFileMgr::WritePendingRecord() {
  // The data reaches the disk before the record that lists it as held, so
  // the record never claims bytes the file lacks, whatever ends the run.
  FlushFileBuffers(dataFile_.Get());
  DWORD done = 0;
  const bool written = SeekTo(resumeFile_.Get(), 0) &&
                       WriteFile(resumeFile_.Get(), pendingRecord_.data(),
                                 static_cast<DWORD>(pendingRecord_.size()), &done, nullptr) &&
                       done == pendingRecord_.size();
  // A record cut short (a full disk) is emptied: no record is better than a
  // mix of two that could claim missing bytes.
  if (!written) SeekTo(resumeFile_.Get(), 0);
  SetEndOfFile(resumeFile_.Get());
  FlushFileBuffers(resumeFile_.Get());
}

bool COFileMgr::SaveInProgress() {
  if (!saveThread_.IsValid()) return false;
  if (WaitForSingleObject(saveThread_.Get(), 0) == WAIT_TIMEOUT) return true;
  saveThread_.Close();
  return false;
}

void COFileMgr::WaitForSave() {
  if (!saveThread_.IsValid()) return;
  WaitForSingleObject(saveThread_.Get(), INFINITE);
  saveThread_.Close();
}

bool COFileMgr::LoadResume(std::vector<ByteRange>* ranges, HttpResponseInfo* info) {
  if (!resumeFile_.IsValid() || !dataFile_.IsValid()) return false;
  DWORD high = 0;
  const DWORD size = GetFileSize(resumeFile_.Get(), &high);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  if (high != 0 || size < ResumeRecord::kFixedSize || size > ResumeRecord::kMaxFileSize) {
    return false;
  }
  std::vector<uint8_t> bytes(size);
  DWORD done = 0;
  if (!SeekTo(resumeFile_.Get(), 0) ||
      !ReadFile(resumeFile_.Get(), bytes.data(), size, &done, nullptr) ||
      done != size) {
    return false;
  }
  ResumeRecord record;
  if (!ParseResumeRecord(bytes.data(), bytes.size(), &record)) return false;
  const std::u16string path = ToUtf16(path_);
  const std::u16string url = ToUtf16(url_);
  const bool sameFile = ResumeRecordMatches(record, path, url, creationTime_.dwLowDateTime,
                                            creationTime_.dwHighDateTime);
  // Where the creation time moves with every write, the file is known by its
  // size instead: the download gives the data file its full size at once,
  // so a file made afresh since the record (size 0) never matches.
  DWORD dataHigh = 0;
  const DWORD dataSize = GetFileSize(dataFile_.Get(), &dataHigh);
  const bool sameSizedFile =
      creationTimeMoves_ && dataHigh == 0 && dataSize == record.fileSize &&
      ResumeRecordMatches(record, path, url, record.creationLow, record.creationHigh);
  if (!sameFile && !sameSizedFile) return false;
  fileSize_.store(record.fileSize);
  // What the record does not list as missing is on disk already.
  RangeList held;
  held.Assign(record.ranges);
  written_ = uint64_t{record.fileSize} - std::min<uint64_t>(held.TotalBytes(), record.fileSize);
  writtenAtRecord_ = written_;
  std::memset(info, 0, sizeof(*info));
  info->status = 200;
  info->contentLength = record.fileSize;
  info->rangeTotal = record.fileSize;
  info->lastModified = record.lastModified;
  ranges->insert(ranges->end(), record.ranges.begin(), record.ranges.end());
  return true;
}

bool COFileMgr::IsComplete() const {
  const uint32_t size = fileSize_.load();
  return size != 0 && remaining_.TotalBytes() == 0 && written_ >= size;
}

void COFileMgr::Close() {
  if (!dataFile_.IsValid()) return;
  {
    // Waits for chunks being written through; later ones see the file closed.
    AutoLock hold(fileLock_);
    closed_.store(true);
    WaitForWritesInFlight();
  }
  Flush();
  // A stop within the first seconds keeps its progress too.
  SaveResume(true);
  WaitForSave();
  dataFile_.Close();
  resumeFile_.Close();
  TrimQueuedBlockPool();
}

}  // namespace net

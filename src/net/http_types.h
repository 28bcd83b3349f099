#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/com_object.h"
#include "net/speed_ring.h"

namespace net {

// Open end of a range, and "no Content-Length".
constexpr uint32_t kNoLength = 0xFFFFFFFFu;

// Same layout as the Win32 SYSTEMTIME (eight 16-bit fields).
struct SystemTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};
static_assert(sizeof(SystemTime) == 16, "SystemTime is eight 16-bit fields");

bool operator==(const SystemTime& a, const SystemTime& b);
inline bool operator!=(const SystemTime& a, const SystemTime& b) { return !(a == b); }

// One response as the download task stores and compares it: thirteen words.
struct HttpResponseInfo {
  uint32_t status;
  uint32_t contentLength;  // kNoLength when absent or unparsable
  uint32_t rangeFirst;     // Content-Range first
  uint32_t rangeLast;      // Content-Range last
  uint32_t rangeTotal;     // Content-Range total (after "/")
  SystemTime date;
  SystemTime lastModified;
};
static_assert(sizeof(HttpResponseInfo) == 13 * 4, "HttpResponseInfo is thirteen 32-bit words");

constexpr uint32_t kMethodGet = 1;
// HttpRequestParams::useRange: a Range header is sent and a 200 answer is
// taken as the whole file (the first request of a download, which learns
// the size from either answer). Any other nonzero value wants a 206.
constexpr uint32_t kRangeOrWhole = 2;
constexpr std::size_t kUrlUnits = 1024;

// What Start was asked to fetch. Trivially copyable: it is copied into every
// state snapshot. The extra headers are owned by the request object.
struct HttpRequestParams {
  uint32_t context;  // the job id; also the WinINet request context
  uint32_t method;   // kMethodGet
  wchar_t url[kUrlUnits];
  wchar_t host[kUrlUnits];
  wchar_t path[kUrlUnits];  // path and query
  uint32_t port;
  uint32_t useProxy;
  const wchar_t* proxyName;
  uint32_t secure;
  uint32_t connectTimeout;
  uint32_t sendTimeout;
  uint32_t receiveTimeout;
  uint32_t useRange;
  uint32_t rangeFirst;
  uint32_t rangeLast;  // inclusive; 0 or kNoLength = open end (threaded jobs)
  const wchar_t* extraHeaders;
};

// Parameters with their defaults (port 80, 60 s time-outs, GET).
HttpRequestParams DefaultRequestParams();

class IOutFile;

// Reads of an asynchronous request start small and grow while they complete
// at once (data is waiting), up to the buffer's size: few callbacks, socket
// reads and file writes per megabyte on fast links (each socket read is a
// round trip to the Wine server), and on slow ones no read that waits long
// for its buffer to fill (progress, and what a kill loses).
constexpr std::size_t kReceiveBufferSize = 1024 * 1024;
constexpr std::size_t kSmallestRead = 8192;
// A synchronous request's reads.
constexpr std::size_t kSyncReadSize = 65536;
constexpr std::size_t kServerAddressUnits = 16;
constexpr std::size_t kRedirectUrlUnits = 2048;
constexpr std::size_t kHostHeaderBytes = 2048;

// Request state machine positions of the asynchronous request.
enum RequestStep : int32_t {
  kStepSend = 0,
  kStepRead = 1,
  kStepDeliver = 2,
  kStepComplete = 3,
};

// Runtime data of one request. The download task reads it only through the
// snapshot that every Wait copies, so it is plain, trivially copyable data;
// handles are opaque pointers (HINTERNET and HANDLE are both pointers).
struct HttpRequestState {
  HttpRequestParams params;
  uint32_t abortRequested;
  uint32_t sendFailed;
  uint32_t stopAtSet;
  uint32_t stopAt;  // last byte offset the job should deliver
  uint32_t lastError;
  int32_t handleUseCount;  // guarded by the request's lock
  uint32_t closing;        // guarded by the request's lock
  void* root;
  void* connect;
  void* request;
  void* endEvent;
  void* closedEvent;
  void* responseEvent;
  uint32_t bytesRead;
  IOutFile* sink;  // one reference held by the request object
  int32_t requestStep;
  uint32_t startTick;
  uint32_t completeTick;
  uint32_t openTick;
  uint32_t firstReadTick;
  int32_t firstReadCounter;    // interlocked
  int32_t responseChunkCount;  // interlocked
  uint32_t responseTime;       // seconds since 1970
  uint32_t delivered;          // body bytes passed to the sink
  uint32_t position;           // absolute offset of the next byte
  uint8_t* buffer;             // kReceiveBufferSize bytes
  SpeedRing speed;
  uint32_t partialOk;    // Content-Range parsed
  uint32_t totalLength;  // body length for 200, full-file length for 206
  HttpResponseInfo response;
  uint32_t tag;
  wchar_t serverBefore[kServerAddressUnits];  // connected address before a redirect
  wchar_t serverAfter[kServerAddressUnits];   // and after it
  uint32_t redirected;
  wchar_t redirectUrl[kRedirectUrlUnits];
  char hostHeader[kHostHeaderBytes];  // the Host request header actually sent
  // Content-Length or the Content-Range total does not fit 32 bits.
  uint32_t sizeTooLarge;
  // The request object (IHttpAsync*), set when the job table registers it.
  void* owner;
  // Nonzero while an open request handle has yet to report itself closed
  // (interlocked): a retired job stays in the table until then.
  uint32_t awaitingClose;
};

// Sink of received bytes (implemented by the output file manager).
// All methods return 0.
class IOutFile : public IUnknown {
 public:
  // position is the absolute file offset of data; limit is 0, or the job's
  // stop offset when this chunk runs past it; setting *stop = 1 makes the
  // job finish after this chunk.
  virtual int Write(uint32_t position, const uint8_t* data, uint32_t length, uint32_t limit,
                    uint32_t jobId, int* stop) = 0;
  virtual int OnClose() = 0;
  virtual int OnStart() = 0;
  // The job's response, before its first chunk; rangeFirst and rangeLast
  // are what the job asked for.
  virtual int OnResponse(const HttpResponseInfo& response, uint32_t rangeFirst,
                         uint32_t rangeLast, uint32_t jobId) = 0;
};

// Results of IHttpAsync::Wait.
enum WaitResult : int {
  kWaitFailed = 0,
  kWaitEnded = 1,
  kWaitResponse = 2,
  kWaitTimedOut = 3,
};

// One download connection.
class IHttpAsync : public IUnknown {
 public:
  virtual int Start(std::wstring url, uint32_t useRange, uint32_t rangeFirst, uint32_t rangeLast,
                    IOutFile* sink, uint32_t jobId, const wchar_t* extraHeaders) = 0;
  // Waits for the response or end event and copies the whole state into
  // *snapshot, whatever the outcome (a WaitResult).
  virtual int Wait(uint32_t timeoutMs, HttpRequestState* snapshot, int alsoResponse) = 0;
  virtual int Close() = 0;
  virtual int SetStopAt(uint32_t lastOffset) = 0;
  virtual int SetTag(uint32_t value) = 0;
  virtual int RequestAbort() = 0;
  virtual HttpRequestState* GetState() = 0;
  virtual ~IHttpAsync() = default;
};

// Interlocked helpers on plain words of the state (GCC and Clang builtins).
inline int32_t InterlockedAdd32(int32_t* value, int32_t delta) {
  return __atomic_add_fetch(value, delta, __ATOMIC_SEQ_CST);
}

}  // namespace net

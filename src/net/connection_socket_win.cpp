#include <winsock2.h>
#include <windows.h>

#include "net/connection_socket_win.h"

#include "sys/diag.h"

#include <algorithm>
#include <cstddef>

namespace net {

namespace {

// Socket handles are handle values. Without the system's handle list the
// possible values are probed: the installer's handles stay far below the
// limit, and the probe stops at a long run of values that are not sockets
// above the highest one found.
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::uintptr_t kScanLimit = 0x4000;
constexpr std::uintptr_t kScanGapAfterLast = 0x800;

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

// The connected IPv4 TCP socket behind value, if it is one.
bool Describe(std::uintptr_t value, ConnectionSocket::Entry* entry) {
  const SOCKET socket = static_cast<SOCKET>(value);
  sockaddr_in peer = {};
  int length = sizeof(peer);
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET) {
    return false;
  }
  sockaddr_in local = {};
  length = sizeof(local);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return false;
  *entry = {value, ntohs(local.sin_port), ntohs(peer.sin_port), peer.sin_addr.s_addr};
  return true;
}

// One connection is made at a time, so that each finds its own socket. A turn
// not given back within the wait goes on without it (the socket then stays
// unknown) rather than stall a download.
constexpr DWORD kTurnWaitMs = 5000;

HANDLE ConnectTurn() {
  static HANDLE const turn = CreateSemaphoreW(nullptr, 1, 1, nullptr);
  return turn;
}

// The handle values this process has open, from the system's handle list
// (one call instead of probing every possible value); empty when the list is
// not available.
std::vector<std::uintptr_t> OwnHandles() {
  struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  struct HandleList {
    ULONG count;
    HandleEntry entries[1];
  };
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<std::uintptr_t> handles;
  if (!query) return handles;
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<unsigned char> buffer(256 * 1024);
  LONG status = kInfoLengthMismatch;
  for (int attempt = 0; attempt < 6 && status == kInfoLengthMismatch; ++attempt) {
    ULONG needed = 0;
    status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                   &needed);
    if (status == kInfoLengthMismatch) buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
  }
  if (status != 0) return handles;
  const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
  const size_t fits = (buffer.size() - offsetof(HandleList, entries)) / sizeof(HandleEntry);
  const ULONG self = GetCurrentProcessId();
  for (size_t i = 0; i < std::min<size_t>(list->count, fits); ++i) {
    if (list->entries[i].ownerPid == self) handles.push_back(list->entries[i].value);
  }
  return handles;
}

std::vector<ConnectionSocket::Entry> ConnectedSockets() {
  StartWinsock();
  std::vector<ConnectionSocket::Entry> found;
  ConnectionSocket::Entry entry;
  const std::vector<std::uintptr_t> handles = OwnHandles();
  if (!handles.empty()) {
    for (std::uintptr_t value : handles) {
      if (Describe(value, &entry)) found.push_back(entry);
    }
    return found;
  }
  std::uintptr_t lastFound = 0;
  for (std::uintptr_t value = kHandleStep; value < kScanLimit; value += kHandleStep) {
    if (value > lastFound + kScanGapAfterLast && value > 0x1000) break;
    if (!Describe(value, &entry)) continue;
    found.push_back(entry);
    lastFound = value;
  }
  return found;
}

}  // namespace

ConnectionSocket::~ConnectionSocket() { OnConnectDone(); }

void ConnectionSocket::OnConnecting() {
  OnConnectDone();  // a second connection of the same request (a redirect)
  const bool turn = ConnectTurn() != nullptr &&
                    WaitForSingleObject(ConnectTurn(), kTurnWaitMs) == WAIT_OBJECT_0;
  std::vector<Entry> sockets = ConnectedSockets();
  AutoLock lock(lock_);
  holdsTurn_ = turn;
  before_ = std::move(sockets);
  known_ = false;
  aborted_ = false;
}

void ConnectionSocket::OnConnectDone() {
  bool release = false;
  {
    AutoLock lock(lock_);
    release = holdsTurn_;
    holdsTurn_ = false;
  }
  if (release) ReleaseSemaphore(ConnectTurn(), 1, nullptr);
}

void ConnectionSocket::OnConnected() {
  const DWORD start = GetTickCount();
  std::vector<Entry> after = ConnectedSockets();
  OnConnectDone();
  AutoLock lock(lock_);
  std::vector<Entry> appeared;
  for (const Entry& entry : after) {
    if (std::find(before_.begin(), before_.end(), entry) == before_.end()) {
      appeared.push_back(entry);
    }
  }
  before_.clear();
  // Without the turn another request may have connected at the same moment:
  // a wrong guess would cut someone else's transfer, so none is taken then.
  known_ = appeared.size() == 1;
  if (known_) entry_ = appeared.front();
  DiagPrintf(L"ConnectionSocket: %u connected, %u new, %lu ms\r\n",
             static_cast<unsigned>(after.size()), static_cast<unsigned>(appeared.size()),
             static_cast<unsigned long>(GetTickCount() - start));
  if (known_ && abortWhenKnown_) AbortLocked();
}

bool ConnectionSocket::Known() {
  AutoLock lock(lock_);
  return known_;
}

bool ConnectionSocket::Abort() {
  AutoLock lock(lock_);
  if (!known_) abortWhenKnown_ = true;
  return AbortLocked();
}

bool ConnectionSocket::AbortLocked() {
  if (!known_ || aborted_) return false;
  // WinINet may have closed the socket and the value may name another one
  // by now: only the same connection (same ports and peer) is touched.
  Entry now;
  if (!Describe(entry_.socket, &now) || !(now == entry_)) {
    known_ = false;
    return false;
  }
  const SOCKET socket = static_cast<SOCKET>(entry_.socket);
  // Zero linger: WinINet's own close then resets the connection, so the
  // server stops sending instead of filling a closed window.
  LINGER linger = {1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger),
             sizeof(linger));
  shutdown(socket, SD_BOTH);
  aborted_ = true;
  return true;
}

}  // namespace net

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "net/connection_socket_win.h"

#include "sys/diag.h"

#include <cstring>

namespace net {

namespace {

using ConnectFunction = int(WSAAPI*)(SOCKET, const sockaddr*, int);

struct Recorder {
  DWORD slot = TLS_OUT_OF_INDEXES;
  ConnectFunction realConnect = nullptr;
  bool installed = false;
};

Recorder& TheRecorder();

// Stands in for connect in WinINet's import table: notes the socket for the
// calling thread, then connects as asked.
int WSAAPI RecordingConnect(SOCKET socket, const sockaddr* name, int length) {
  const Recorder& recorder = TheRecorder();
  TlsSetValue(recorder.slot, reinterpret_cast<void*>(static_cast<std::uintptr_t>(socket)));
  return recorder.realConnect(socket, name, length);
}

// Points WinINet's import of ws2_32's connect at RecordingConnect. Only the
// import table's slot changes; a module without a plain import of connect
// (delay-loaded, or another library doing the connecting) is left alone.
bool RouteWininetConnect(Recorder* recorder) {
  HMODULE wininet = GetModuleHandleW(L"wininet.dll");
  HMODULE winsock = GetModuleHandleW(L"ws2_32.dll");
  if (!wininet || !winsock) return false;
  recorder->realConnect = reinterpret_cast<ConnectFunction>(
      reinterpret_cast<void*>(GetProcAddress(winsock, "connect")));
  if (!recorder->realConnect) return false;
  BYTE* base = reinterpret_cast<BYTE*>(wininet);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  bool routed = false;
  for (const IMAGE_IMPORT_DESCRIPTOR* module =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "ws2_32.dll") != 0) {
      continue;
    }
    for (IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
         slot->u1.Function != 0; ++slot) {
      if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(recorder->realConnect)) continue;
      DWORD oldProtection = 0;
      if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE,
                          &oldProtection)) {
        continue;
      }
      InterlockedExchangePointer(reinterpret_cast<void**>(&slot->u1.Function),
                                 reinterpret_cast<void*>(&RecordingConnect));
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), oldProtection,
                     &oldProtection);
      routed = true;
    }
  }
  return routed;
}

Recorder& TheRecorder() {
  // Set up once, on the first connecting notice: WinINet is loaded by then
  // and has not yet called connect for that request.
  static Recorder recorder = [] {
    Recorder made;
    made.slot = TlsAlloc();
    if (made.slot != TLS_OUT_OF_INDEXES) made.installed = RouteWininetConnect(&made);
    DiagPrintf(L"ConnectionSocket: WinINet connects %ls\r\n",
               made.installed ? L"recorded" : L"not recorded");
    return made;
  }();
  return recorder;
}

// The socket the calling thread last gave to connect, and forgets it.
std::uintptr_t TakeThreadSocket() {
  const Recorder& recorder = TheRecorder();
  if (!recorder.installed) return 0;
  const std::uintptr_t socket = reinterpret_cast<std::uintptr_t>(TlsGetValue(recorder.slot));
  TlsSetValue(recorder.slot, nullptr);
  return socket;
}

// The connected IPv4/IPv6 TCP socket behind value, if it is one.
bool Describe(std::uintptr_t value, ConnectionSocket::Entry* entry) {
  const SOCKET socket = static_cast<SOCKET>(value);
  sockaddr_storage peer = {};
  int length = sizeof(peer);
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return false;
  sockaddr_storage local = {};
  length = sizeof(local);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return false;
  const auto port = [](const sockaddr_storage& address) -> std::uint16_t {
    if (address.ss_family == AF_INET) {
      return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
      return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return 0;
  };
  std::uint32_t peerAddress = 0;
  if (peer.ss_family == AF_INET) {
    peerAddress = reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr;
  } else if (peer.ss_family == AF_INET6) {
    const auto& bytes = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    std::memcpy(&peerAddress, reinterpret_cast<const char*>(&bytes) + 12, sizeof(peerAddress));
  } else {
    return false;
  }
  *entry = {value, port(local), port(peer), peerAddress};
  return true;
}

}  // namespace

void ConnectionSocket::OnConnecting() {
  TakeThreadSocket();  // a connect of an earlier request on this thread
  AutoLock lock(lock_);
  known_ = false;
  aborted_ = false;
}

void ConnectionSocket::OnConnected() {
  const std::uintptr_t socket = TakeThreadSocket();
  Entry entry;
  const bool found = socket != 0 && Describe(socket, &entry);
  AutoLock lock(lock_);
  known_ = found;
  if (found) entry_ = entry;
  if (known_ && abortWhenKnown_) AbortLocked();
}

bool ConnectionSocket::Abort() {
  AutoLock lock(lock_);
  if (!known_) abortWhenKnown_ = true;
  return AbortLocked();
}

void ConnectionSocket::LimitReceiveBuffer(int bytes) {
  AutoLock lock(lock_);
  if (!SameConnectionLocked()) return;
  setsockopt(static_cast<SOCKET>(entry_.socket), SOL_SOCKET, SO_RCVBUF,
             reinterpret_cast<const char*>(&bytes), sizeof(bytes));
}

bool ConnectionSocket::SameConnectionLocked() const {
  if (!known_ || aborted_) return false;
  // WinINet may have closed the socket and the value may name another one
  // by now: only the same connection (same ports and peer) is touched.
  Entry now;
  return Describe(entry_.socket, &now) && now == entry_;
}

bool ConnectionSocket::AbortLocked() {
  if (!known_ || aborted_) return false;
  if (!SameConnectionLocked()) {
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

#pragma once

#include <cstdint>
#include <vector>

#include "sys/lock.h"

namespace net {

// The TCP socket under one WinINet request. WinINet has no way to end a
// response without reading it: closing a request whose body was not read to
// its end reads the rest from the server in small pieces for as long as data
// keeps arriving, which on a fast link is the whole rest of the file. To end
// a transfer early, the request finds its own socket (the one that appears
// between its connecting and connected notices) and resets it; WinINet then
// sees the connection closed and drops it at once.
class ConnectionSocket {
 public:
  ConnectionSocket() = default;
  ConnectionSocket(const ConnectionSocket&) = delete;
  ConnectionSocket& operator=(const ConnectionSocket&) = delete;

  ~ConnectionSocket();

  // From the status callback: before and after the request's connection is
  // made. Connections of this process are made one at a time between the two
  // (up to a few seconds each), so exactly one socket appears in between and
  // it is this request's. OnConnectDone ends the turn when the connection
  // failed and no connected notice comes.
  void OnConnecting();
  void OnConnected();
  void OnConnectDone();
  // Resets the connection (abortive close, both directions shut) when the
  // socket is known and is still the same connection; while the request is
  // still connecting, the reset follows as soon as the socket is found.
  // Returns whether it reset the connection now.
  bool Abort();
  bool Known();

  struct Entry {
    std::uintptr_t socket;
    std::uint16_t localPort;
    std::uint16_t peerPort;
    std::uint32_t peerAddress;
    bool operator==(const Entry& other) const {
      return socket == other.socket && localPort == other.localPort &&
             peerPort == other.peerPort && peerAddress == other.peerAddress;
    }
  };

 private:
  bool AbortLocked();

  Lock lock_;
  bool holdsTurn_ = false;
  std::vector<Entry> before_;
  bool known_ = false;
  bool aborted_ = false;
  bool abortWhenKnown_ = false;
  Entry entry_ = {};
};

}  // namespace net

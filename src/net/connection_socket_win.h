#pragma once

#include <cstdint>

#include "sys/lock.h"

namespace net {

// The TCP socket under one WinINet request. WinINet has no way to end a
// response without reading it: closing a request whose body was not read to
// its end reads the rest from the server in small pieces for as long as data
// keeps arriving, which on a fast link is the whole rest of the file. To end
// a transfer early, the request learns its own socket and resets it; WinINet
// then sees the connection closed and drops it at once.
//
// WinINet connects on the thread that sends the request's "connecting" and
// "connected" notices, between the two. The process records, per thread, the
// last socket WinINet's own connect call was given (its import of connect is
// routed through a recorder once), so the "connected" notice names exactly
// this request's socket, whatever other connections are made meanwhile.
class ConnectionSocket {
 public:
  ConnectionSocket() = default;
  ConnectionSocket(const ConnectionSocket&) = delete;
  ConnectionSocket& operator=(const ConnectionSocket&) = delete;

  // From the status callback, on the thread that makes the connection.
  void OnConnecting();
  void OnConnected();
  // Resets the connection (abortive close, both directions shut) when the
  // socket is known and is still the same connection; while the request is
  // still connecting, the reset follows as soon as the socket is found.
  // Returns whether it reset the connection now.
  bool Abort();
  // Caps the receive buffer of the connection, when it is known and still
  // the same: the server then has at most about that much under way.
  void LimitReceiveBuffer(int bytes);

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
  // Whether the recorded socket still names the recorded connection.
  bool SameConnectionLocked() const;
  bool AbortLocked();

  Lock lock_;
  bool known_ = false;
  bool aborted_ = false;
  bool abortWhenKnown_ = false;
  Entry entry_ = {};
};

}  // namespace net

// What carries one caller: bytes in, bytes out, closing so the last words
// arrive, and the line layer that its stream needs. A call talks to this
// and never knows whether telnet, SSH or a WebSocket carries it; every
// limit of a call (the line cap, the output queue, the time-outs, the
// character set) is the call's, and every caller passed the one admission
// at accept and passes the one log-on gate, so each holds for every
// transport.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "board/caller/line_layer.h"
#include "board/core/net.h"

namespace board {

// The kernel's share of a caller's output queue, for transports over TCP:
// small, so a slow reader's backlog stays in the call's queue, counted.
inline constexpr int kSendBuffer = 16 * 1024;

class Transport {
 public:
  using ReadDone = std::function<void(const error_code&, std::size_t)>;
  using WriteDone = std::function<void(const error_code&)>;

  virtual ~Transport() = default;

  // "telnet", "ssh", "ws" or "wss": for the trace and `ctl who`.
  virtual const char* kind() const = 0;
  virtual LineLayer& lines() = 0;
  // Some bytes from the caller into INTO, at most its size, or an error
  // once the caller has closed or the stream broke. One read at a time.
  virtual void read(net::mutable_buffer into, ReadDone done) = 0;
  // All of BYTES to the caller (they stay alive until DONE), or an error.
  // One write at a time.
  virtual void write(net::const_buffer bytes, WriteDone done) = 0;
  // Nothing more goes to the caller: what was written still arrives, and
  // reading goes on until the caller closes too.
  virtual void shutSend() = 0;
  // At once; pending reads and writes end with an error.
  virtual void close() = 0;
};

// Telnet over TCP: the board's first transport.
std::unique_ptr<Transport> telnetTransport(net::ip::tcp::socket socket);

}  // namespace board

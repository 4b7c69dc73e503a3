// A caller's connection, apart from what is said over it: reading into the
// transport's line layer, a bounded output queue written as fast as the
// caller reads, and closing so that the last words arrive (queued text out,
// the sending side shut, the rest drained). It knows nothing of prompts,
// channels or the host; it tells its owner what happens.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "board/core/transport.h"
#include "simhost/event.h"

namespace board {

// Figures a caller's connection lives by.
inline constexpr std::size_t kQueueCap = 64 * 1024;  // output waiting for a slow reader
// Past this much output waiting, a caller's own lines wait to be served,
// and nothing more is read from him, until it has gone: what he types
// cannot make the board write faster than he reads.
inline constexpr std::size_t kBackedUp = kQueueCap / 4;
// Lines of one caller served in one turn of the loop; the rest wait for
// the next turn, and nothing more is read from that caller meanwhile.
inline constexpr int kLinesPerTurn = 32;

// What a connection tells the call it carries.
class ConnectionOwner {
 public:
  virtual ~ConnectionOwner() = default;
  // One line the caller typed.
  virtual void typed(const Line& line) = 0;
  // While this holds, typed lines wait in the layer and nothing is read.
  virtual bool holding() const = 0;
  // The caller let the queue overflow or garbled the stream: KIND is
  // Overflow or Garbled; broken() follows.
  virtual void fault(simhost::EventKind kind) = 0;
  // The connection broke or must end at once: the owner ends the call, in
  // the end by closeAfterFlush. Posted, never inside a write.
  virtual void broken() = 0;
  // Closed and drained: nothing of the connection is left to do.
  virtual void finished() = 0;
  // Raw (a carried call): the caller's keys as typed, in place of lines.
  virtual void keys(std::string_view) {}
  // A write to the caller has completed: the queue is shorter.
  virtual void sent() {}
};

class Connection {
 public:
  // KEEP answers a reference that keeps the owner (and so this) alive
  // while a handler of the loop waits.
  Connection(net::io_context& io, std::unique_ptr<Transport> transport, ConnectionOwner& owner,
             std::function<std::shared_ptr<void>()> keep);

  // Reading begins, or goes on once the owner no longer holds.
  void read();
  void pump();  // the lines waiting in the layer first, then read on
  // Text for the caller, byte for byte (0xFF doubled by the telnet layer).
  void write(std::string_view text);
  // What is queued goes out, then the sending side is shut and the rest
  // drained; a caller who reads nothing more is closed after a while.
  void closeAfterFlush();
  bool closing() const { return closing_; }
  // Bytes waiting for the caller, the kernel's share apart.
  std::size_t queued() const { return pending_.size() + inFlight_.size(); }

  LineLayer& lines() { return transport_->lines(); }
  const char* kind() const { return transport_->kind(); }

 private:
  void received(std::size_t size);
  void flushLines();
  void sendQueued();
  void finishClose();
  void drain();
  void end();
  void lost();
  void closeIn(std::chrono::seconds after);

  net::io_context& io_;
  std::unique_ptr<Transport> transport_;
  ConnectionOwner& owner_;
  std::function<std::shared_ptr<void>()> keep_;
  net::steady_timer closer_;  // a caller who does not drain is closed
  std::array<char, 4096> readBuffer_{};
  std::string pending_, inFlight_;  // output not yet handed to the kernel
  bool writing_ = false;
  bool reading_ = false;
  bool closing_ = false;     // closeAfterFlush was called
  bool shutSent_ = false;    // the queue has gone and the sending side is shut
  bool peerGone_ = false;    // a read ended: the caller closed or reset
  bool abandon_ = false;     // a caller who does not read: nothing more is sent
  bool pumpPosted_ = false;  // the next turn's lines are asked for
  bool backedUp_ = false;    // lines wait for the output queue to go down
  bool ended_ = false;
};

}  // namespace board

// The carried call's second connection: the socket to the board behind,
// reached within a few seconds or given up, its protocol's bytes written
// and read with a bound each way, and the front door's own words put in
// the board behind's output at a gap. It tells its owner, the call, what
// happens and never knows prompts, channels or the host.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "board/behind/counts.h"
#include "board/behind/gaps.h"
#include "board/behind/protocol.h"
#include "board/behind/target.h"
#include "board/core/net.h"

namespace board {

class RelayOwner {
 public:
  virtual ~RelayOwner() = default;
  // The board behind answered: the call is carried.
  virtual void reached() = 0;
  // Refused, unknown or silent past the time allowed; WHY says which.
  virtual void unreachable(const std::string& why) = 0;
  // Bytes for the caller's screen.
  virtual void toCaller(std::string_view bytes) = 0;
  // Whether the caller's queue can take another read of the board behind.
  virtual bool callerHasRoom() const = 0;
  // The board behind hung up, or sent what cannot be carried on.
  virtual void behindGone() = 0;
  // The queue to the board behind has room again for the caller's keys.
  virtual void behindTakesKeys() = 0;
};

class Relay {
 public:
  // KEEP answers a reference that keeps the owner (and so this) alive
  // while a handler of the loop waits.
  Relay(net::io_context& io, const BehindTarget& target, std::unique_ptr<BehindProtocol> protocol,
        RelayOwner& owner, BehindCounts& counts, std::function<std::shared_ptr<void>()> keep);

  // Resolves, connects (from a port below 1024 for RLogin when root) and
  // opens; the owner hears reached() or unreachable().
  void start();
  // The caller's keys; only while takesKeys().
  void keys(std::string_view keys);
  bool takesKeys() const;
  void resized(Window window);
  // The front door's words: at once at a gap, else at the next one, or
  // after a second if the board behind leaves a sequence open.
  void say(std::string_view words);
  // The caller's queue has drained: reading the board behind goes on.
  void callerRoom() { readBehind(); }
  // Held words out to the caller now; the board behind's socket closed.
  void close();
  bool carrying() const { return reached_ && !closed_; }

 private:
  void connectFrom(const net::ip::tcp::endpoint& to, int triesLeft);
  void connected();
  void becomeReady();
  void fail(const std::string& why);
  void readBehind();
  void waitUrgent();
  void flushToBehind();
  void toCaller(std::string bytes);
  void sayHeld();

  BehindTarget target_;
  std::unique_ptr<BehindProtocol> protocol_;
  RelayOwner& owner_;
  BehindCounts& counts_;
  std::function<std::shared_ptr<void>()> keep_;
  net::ip::tcp::resolver resolver_;
  net::ip::tcp::socket socket_;
  net::steady_timer reachBy_;  // the board behind answers within this, or is given up
  net::steady_timer wordsBy_;  // held words go out by then, gap or none
  std::array<char, 4096> in_{};
  std::array<char, 1> urgent_{};
  std::string pending_, inFlight_;  // to the board behind
  std::string held_;                // the front door's words waiting for a gap
  StreamGaps gaps_;
  bool connected_ = false, reached_ = false, closed_ = false;
  bool reading_ = false, writing_ = false;
};

// Whether an RLogin call may come from a port below 1024 (the board runs
// as root); RFC 1282 servers refuse the others.
bool mayUseReservedPort();

}  // namespace board

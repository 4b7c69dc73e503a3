// The carried call's connection to the board behind: reached or given up
// within kReachTime, bytes both ways with a bound each way (the caller's
// queue holds back reading here; a full queue here holds back the caller's
// keys), and the front door's words put in at a gap of the output.
#include "board/behind/relay.h"

#include <unistd.h>

#include <cerrno>

#include "board/behind/counts.h"
#include "board/caller/connection.h"

namespace board {

namespace {

constexpr auto kReachTime = std::chrono::seconds(5);
constexpr auto kWordsWait = std::chrono::seconds(1);
// Keys waiting for the board behind; past it the caller is not read.
constexpr std::size_t kToBehindCap = kQueueCap / 2;
// Reserved source ports for RLogin, taken in turn: a port just used waits
// out TIME_WAIT towards the same server.
constexpr unsigned kLowPort = 512, kHighPort = 1023;
constexpr int kPortTries = 8;

unsigned nextReservedPort() {
  static unsigned next = kHighPort;
  const unsigned port = next;
  next = next == kLowPort ? kHighPort : next - 1;
  return port;
}

}  // namespace

bool mayUseReservedPort() { return geteuid() == 0; }

Relay::Relay(net::io_context& io, const BehindTarget& target,
             std::unique_ptr<BehindProtocol> protocol, RelayOwner& owner, BehindCounts& counts,
             std::function<std::shared_ptr<void>()> keep)
    : target_(target),
      protocol_(std::move(protocol)),
      owner_(owner),
      counts_(counts),
      keep_(std::move(keep)),
      resolver_(io),
      socket_(io),
      reachBy_(io),
      wordsBy_(io) {}

void Relay::start() {
  reachBy_.expires_after(kReachTime);
  reachBy_.async_wait([this, keep = keep_()](const error_code& error) {
    if (error != net::error::operation_aborted && !reached_)
      fail("no answer within " + std::to_string(kReachTime.count()) + " seconds");
  });
  resolver_.async_resolve(
      target_.host, std::to_string(target_.port),
      [this, keep = keep_()](const error_code& error,
                             const net::ip::tcp::resolver::results_type& found) {
        if (closed_) return;
        if (error || found.empty()) {
          fail(target_.host + " does not resolve");
          return;
        }
        connectFrom(found.begin()->endpoint(), kPortTries);
      });
}

// RLogin servers believe the client's user name only from a reserved port;
// one in TIME_WAIT towards this server fails the connect, and the next is
// tried.
void Relay::connectFrom(const net::ip::tcp::endpoint& to, int triesLeft) {
  error_code error;
  if (socket_.is_open()) socket_.close(error);
  socket_.open(to.protocol(), error);
  const bool reserved =
      target_.kind == BehindTarget::Kind::RLogin && mayUseReservedPort() && triesLeft > 0;
  for (unsigned tried = kLowPort; reserved && tried <= kHighPort; ++tried) {
    socket_.bind(net::ip::tcp::endpoint(to.protocol(), nextReservedPort()), error);
    if (error != net::error::address_in_use) break;
  }
  if (error) {
    fail(error.message());
    return;
  }
  socket_.async_connect(to, [this, to, reserved, triesLeft, keep = keep_()](const error_code& e) {
    if (closed_) return;
    if (e && reserved && (e == net::error::address_in_use || e.value() == EADDRNOTAVAIL))
      connectFrom(to, triesLeft - 1);
    else if (e)
      fail(e.message());
    else
      connected();
  });
}

void Relay::connected() {
  connected_ = true;
  error_code ignored;
  socket_.set_option(net::ip::tcp::no_delay(true), ignored);
  socket_.set_option(net::socket_base::receive_buffer_size(kSendBuffer), ignored);
  socket_.set_option(net::socket_base::send_buffer_size(kSendBuffer), ignored);
  // Armed before the opening: the server's urgent byte follows its answer.
  if (protocol_->usesUrgent()) waitUrgent();
  protocol_->open();
  flushToBehind();
  readBehind();
  if (protocol_->ready()) becomeReady();
}

void Relay::becomeReady() {
  reached_ = true;
  reachBy_.cancel();
  counts_.reached();
  ++counts_.carried;
  ++counts_.carriedNow;
  owner_.reached();
}

void Relay::fail(const std::string& why) {
  if (closed_ || reached_) return;
  closed_ = true;
  reachBy_.cancel();
  resolver_.cancel();
  error_code ignored;
  socket_.close(ignored);
  counts_.failedToReach(target_.name(), why, std::chrono::steady_clock::now());
  owner_.unreachable(why);
}

// While the caller's queue is full, nothing more is read here, and the
// board behind's own sending stops once the kernel's buffers fill.
void Relay::readBehind() {
  if (closed_ || reading_ || !connected_ || (reached_ && !owner_.callerHasRoom())) return;
  reading_ = true;
  socket_.async_read_some(
      net::buffer(in_), [this, keep = keep_()](const error_code& error, std::size_t size) {
        reading_ = false;
        if (closed_) return;
        if (error) {
          if (reached_)
            owner_.behindGone();
          else
            fail(error == net::error::eof ? "it hung up at once" : error.message());
          return;
        }
        counts_.bytesToCaller += size;
        protocol_->fromBehind(std::string_view(in_.data(), size));
        if (!reached_ && protocol_->ready()) becomeReady();
        toCaller(protocol_->takeForCaller());
        flushToBehind();
        if (protocol_->failed()) {
          owner_.behindGone();
          return;
        }
        readBehind();
      });
}

// RLogin's control byte comes as TCP urgent data, apart from the stream.
void Relay::waitUrgent() {
  socket_.async_receive(net::buffer(urgent_), net::socket_base::message_out_of_band,
                        [this, keep = keep_()](const error_code& error, std::size_t size) {
                          if (closed_ || error) return;
                          if (size == 1) protocol_->urgent(static_cast<unsigned char>(urgent_[0]));
                          flushToBehind();
                          waitUrgent();
                        });
}

void Relay::keys(std::string_view keys) {
  if (closed_) return;
  counts_.bytesToBehind += keys.size();
  protocol_->fromCaller(keys);
  flushToBehind();
}

bool Relay::takesKeys() const {
  return reached_ && !closed_ && pending_.size() + inFlight_.size() < kToBehindCap;
}

void Relay::resized(Window window) {
  protocol_->resized(window);
  flushToBehind();
}

void Relay::flushToBehind() {
  pending_ += protocol_->takeForBehind();
  if (writing_ || pending_.empty() || closed_ || !connected_) return;
  inFlight_.swap(pending_);
  pending_.clear();
  writing_ = true;
  net::async_write(socket_, net::buffer(inFlight_),
                   [this, keep = keep_()](const error_code& error, std::size_t) {
                     writing_ = false;
                     inFlight_.clear();
                     if (closed_) return;
                     if (error) {
                       if (reached_)
                         owner_.behindGone();
                       else
                         fail(error.message());
                       return;
                     }
                     flushToBehind();
                     if (takesKeys()) owner_.behindTakesKeys();
                   });
}

void Relay::toCaller(std::string bytes) {
  if (bytes.empty()) return;
  if (!held_.empty()) {
    const std::size_t at = gaps_.toGap(bytes);
    if (at == std::string::npos) {
      owner_.toCaller(bytes);
      return;
    }
    owner_.toCaller(std::string_view(bytes).substr(0, at));
    sayHeld();
    bytes.erase(0, at);
  }
  gaps_.follow(bytes);
  owner_.toCaller(bytes);
}

void Relay::say(std::string_view words) {
  if (held_.empty() && gaps_.atGap()) {
    owner_.toCaller(words);
    return;
  }
  const bool first = held_.empty();
  held_.append(words);
  if (!first) return;
  wordsBy_.expires_after(kWordsWait);
  wordsBy_.async_wait([this, keep = keep_()](const error_code& error) {
    if (error != net::error::operation_aborted) sayHeld();
  });
}

void Relay::sayHeld() {
  if (held_.empty()) return;
  std::string words;
  words.swap(held_);
  wordsBy_.cancel();
  owner_.toCaller(words);
}

void Relay::close() {
  sayHeld();
  if (closed_) return;
  closed_ = true;
  if (reached_) --counts_.carriedNow;
  reachBy_.cancel();
  wordsBy_.cancel();
  resolver_.cancel();
  error_code ignored;
  socket_.close(ignored);
}

}  // namespace board

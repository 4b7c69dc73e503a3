// An SSH link driven by the loop, and the transport over its shell channel:
// reads and writes as far as the channel's window and the socket allow,
// the rest when the socket is ready again; window changes kept.
#include "board/ssh/ssh_transport.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace board {

namespace {
// A write hands libssh at most this much at once, so its queue stays short.
constexpr std::uint32_t kChunk = 16 * 1024;
// libssh never holds more of an honest client's input than one window
// (1.25 MiB at most); one that sends past it is ignoring the window.
constexpr int kInputCap = 4 * 1024 * 1024;
}  // namespace

SshLink::SshLink(net::ip::tcp::socket socket) : socket_(std::move(socket)) {
  error_code ignored;
  socket_.set_option(net::socket_base::send_buffer_size(kSendBuffer), ignored);
  socket_.set_option(net::ip::tcp::no_delay(true), ignored);
  socket_.non_blocking(true, ignored);
  session_ = ssh_new();
  ssh_set_counters(session_, &counter_, &packets_);
}

SshLink::~SshLink() {
  if (event_) {
    ssh_event_remove_session(event_, session_);
    ssh_event_free(event_);
  }
  ssh_free(session_);  // frees the channels left and closes libssh's descriptor
  error_code ignored;
  socket_.close(ignored);
}

bool SshLink::closed() const {
  return closed_ || (ssh_get_status(session_) & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0;
}

// One poll of the socket through the link's own event reads what has come
// (the flush polls only while output is left). ssh_blocking_flush answers
// SSH_AGAIN while output is left; libssh's own SSH_WRITE_PENDING says only
// that it wrote since it last polled, and stays set with nothing to send:
// waiting for writability on it woke the loop over and over while a
// password was checked.
bool SshLink::pump() {
  if (closed()) return false;
  if (!event_) {
    event_ = ssh_event_new();
    if (!event_ || ssh_event_add_session(event_, session_) != SSH_OK) {
      close();
      return false;
    }
  }
  ssh_event_dopoll(event_, 0);  // 0: what the socket has and takes now
  if (closed()) return false;
  outputLeft_ = ssh_blocking_flush(session_, 0) == SSH_AGAIN;
  return !closed();
}

void SshLink::arm(bool reading) {
  if (closed()) return;
  const auto before = counter_.in_bytes;
  outputLeft_ = ssh_blocking_flush(session_, 0) == SSH_AGAIN;  // what the step queued
  if (closed() || (reading && (counter_.in_bytes != before || readable()))) {
    stepLater();
    return;
  }
  if (reading) wait(net::socket_base::wait_read, &waitingRead_);
  if (outputLeft_) wait(net::socket_base::wait_write, &waitingWrite_);
}

// Bytes or the peer's end waiting in the socket now.
bool SshLink::readable() {
  pollfd p{socket_.native_handle(), POLLIN | POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void SshLink::stepLater() {
  if (stepPosted_) return;
  stepPosted_ = true;
  net::post(socket_.get_executor(), [self = shared_from_this()] {
    self->stepPosted_ = false;
    if (self->closed_ || !self->step_) return;
    auto step = self->step_;  // the step may replace itself
    step();
  });
}

void SshLink::wait(net::socket_base::wait_type type, bool* waiting) {
  if (*waiting) return;
  *waiting = true;
  socket_.async_wait(type, [self = shared_from_this(), waiting](const error_code& error) {
    *waiting = false;
    if (error || self->closed_) return;
    if (self->step_) {
      auto step = self->step_;  // the step may replace itself
      step();
    }
  });
}

void SshLink::close(const char* why) {
  if (closed_) return;
  if (why) ssh_session_set_disconnect_message(session_, why);
  // ssh_disconnect frees the session's channels: ours is gone with them.
  if (ssh_is_connected(session_)) {
    ssh_disconnect(session_);
    channel_ = nullptr;
  }
  closed_ = true;
  step_ = nullptr;
  error_code ignored;
  socket_.close(ignored);  // the waits end, their handlers see closed_
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void sshChannelRequest(ssh_message message, LineLayer& lines) {
  if (ssh_message_type(message) == SSH_REQUEST_CHANNEL &&
      ssh_message_subtype(message) == SSH_CHANNEL_REQUEST_WINDOW_CHANGE) {
    lines.resized(Window{ssh_message_channel_request_pty_width(message),
                         ssh_message_channel_request_pty_height(message)});
    ssh_message_channel_request_reply_success(message);
  } else {
    ssh_message_reply_default(message);  // no second shell, no exec, no forwarding
  }
  ssh_message_free(message);
}
#pragma GCC diagnostic pop

namespace {

class SshTransport final : public Transport {
 public:
  SshTransport(std::shared_ptr<SshLink> link, Window window) : link_(std::move(link)) {
    lines_.resized(window);
    link_->onStep([this] { step(); });
  }
  ~SshTransport() override { link_->close(); }
  const char* kind() const override { return "ssh"; }
  LineLayer& lines() override { return lines_; }
  void read(net::mutable_buffer into, ReadDone done) override {
    into_ = into;
    readDone_ = std::move(done);
    later();
  }
  void write(net::const_buffer bytes, WriteDone done) override {
    out_ = bytes;
    outAt_ = 0;
    writeDone_ = std::move(done);
    later();
  }
  // The channel's end and close follow the output queued before them;
  // the client then closes the connection, which ends the drain.
  void shutSend() override {
    shut_ = true;
    if (link_->closed()) return;
    ssh_channel_send_eof(link_->channel());
    ssh_channel_close(link_->channel());
    later();
  }
  void close() override {
    link_->close();
    later();
  }

 private:
  // Handlers run from the loop, never inside read or write, and a step
  // after the transport is gone does nothing.
  void later() {
    net::post(link_->executor(), [this, alive = std::weak_ptr<int>(alive_)] {
      if (alive.lock()) step();
    });
  }
  void step();
  void progressRead();
  bool refill(ssh_channel channel);
  void dropStderr(ssh_channel channel);
  void progressWrite();
  void fail();

  std::shared_ptr<SshLink> link_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  PlainLine lines_;
  net::mutable_buffer into_;
  ReadDone readDone_;
  net::const_buffer out_;
  std::size_t outAt_ = 0;
  WriteDone writeDone_;
  std::string inbox_;  // taken from libssh, not yet read by the call
  std::size_t inboxAt_ = 0;
  bool shut_ = false;
};

void SshTransport::step() {
  if (link_->pump()) {
    while (ssh_message message = ssh_message_get(link_->session()))
      sshChannelRequest(message, lines_);
    dropStderr(link_->channel());
    if (ssh_channel_poll(link_->channel(), 0) > kInputCap) link_->close();
  }
  if (!link_->closed()) {
    progressWrite();
    progressRead();
  }
  if (link_->closed()) {
    fail();
    return;
  }
  link_->arm();
}

// A caller has no use for the extended-data stream: read away, so that
// libssh does not keep it.
void SshTransport::dropStderr(ssh_channel channel) {
  char scratch[4096];
  while (ssh_channel_poll(channel, 1) > 0) {
    if (ssh_channel_read_nonblocking(channel, scratch, sizeof scratch, 1) <= 0) return;
  }
}

// libssh opens the caller's window again at each read, however much it
// still holds, so reading its buffer in the call's pieces let an eager
// client's data pile up there without end. It is taken whole, once the call
// has read what was taken before: at most a window in libssh, one here.
bool SshTransport::refill(ssh_channel channel) {
  inbox_.clear();
  inboxAt_ = 0;
  if (inbox_.capacity() > kChunk) inbox_.shrink_to_fit();
  const int held = ssh_channel_poll(channel, 0);
  if (held <= 0) return false;
  inbox_.resize(static_cast<std::size_t>(held));
  const int n =
      ssh_channel_read_nonblocking(channel, inbox_.data(), static_cast<std::uint32_t>(held), 0);
  inbox_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return n > 0;
}

// What the channel holds for the caller's read. Its end is told once the
// output queued before it has gone, so the last words are not cut off.
void SshTransport::progressRead() {
  if (!readDone_ || shut_) return;  // shut: the read ends when the client has gone
  ssh_channel channel = link_->channel();
  error_code error;
  std::size_t n = 0;
  if (inboxAt_ < inbox_.size() || refill(channel)) {
    n = std::min(into_.size(), inbox_.size() - inboxAt_);
    std::memcpy(into_.data(), inbox_.data() + inboxAt_, n);
    inboxAt_ += n;
  } else if (ssh_channel_is_eof(channel) || ssh_channel_is_closed(channel) || link_->closed()) {
    if (link_->outputLeft()) return;  // the last words first
    error = net::error::eof;
  } else {
    return;
  }
  net::post(link_->executor(), [done = std::move(readDone_), error, n] { done(error, n); });
  readDone_ = nullptr;
}

// As much as the caller's window and the socket take now; the rest when
// the window opens or the socket drains.
void SshTransport::progressWrite() {
  if (!writeDone_) return;
  ssh_channel channel = link_->channel();
  const char* bytes = static_cast<const char*>(out_.data());
  while (outAt_ < out_.size()) {
    if (link_->outputLeft()) return;
    const std::uint32_t window = ssh_channel_window_size(channel);
    if (window == 0) return;
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>({out_.size() - outAt_, window, kChunk}));
    const int written = ssh_channel_write(channel, bytes + outAt_, n);
    if (written < 0) {
      link_->close();
      return;
    }
    if (written == 0) return;
    outAt_ += static_cast<std::size_t>(written);
  }
  net::post(link_->executor(), [done = std::move(writeDone_)] { done(error_code{}); });
  writeDone_ = nullptr;
}

// The connection is gone: what waits ends with an error.
void SshTransport::fail() {
  const error_code error = net::error::connection_reset;
  if (readDone_)
    net::post(link_->executor(), [done = std::move(readDone_), error] { done(error, 0); });
  if (writeDone_)
    net::post(link_->executor(), [done = std::move(writeDone_), error] { done(error); });
  readDone_ = nullptr;
  writeDone_ = nullptr;
}

}  // namespace

std::unique_ptr<Transport> sshTransport(std::shared_ptr<SshLink> link, Window window) {
  return std::make_unique<SshTransport>(std::move(link), window);
}

}  // namespace board

// The transport over an SSH caller's shell channel: reads and writes as
// far as the channel's window and the link allow, the rest when the link
// is ready again; window changes kept.
#include "board/ssh/ssh_transport.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace board {

namespace {
// A write hands libssh at most this much at once, so its queue stays short.
constexpr std::uint32_t kChunk = 16 * 1024;
// The caller's bytes libssh may hold unread while the caller's window
// holds the call's output back (see takes()).
constexpr int kHeldForWindow = 64 * 1024;
// libssh is handed no more than that and a piece or two; holding more
// than this, it has been handed bytes some other way, and the call ends.
constexpr int kInputCap = 1024 * 1024;
}  // namespace

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
  bool takes() const;
  void drop(ssh_channel channel, int stream);
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
  bool windowShut_ = false;  // the last write found the caller's window shut
};

// The caller's bytes are taken only while the call waits for input it does
// not have yet, or the call is ending; otherwise they wait in his own
// connection, not in the board. While the caller's window holds the call's
// output back they are taken too, since its opening comes in the same
// stream, but only until libssh holds kHeldForWindow of them unread: a
// client that neither opens its window nor stops sending stalls, and the
// idle time-out ends the call.
bool SshTransport::takes() const {
  if (shut_ || (readDone_ && inboxAt_ >= inbox_.size())) return true;
  return windowShut_ && ssh_channel_poll(link_->channel(), 0) < kHeldForWindow;
}

void SshTransport::step() {
  if (link_->pump(takes())) {
    while (ssh_message message = ssh_message_get(link_->session()))
      sshChannelRequest(message, lines_);
    drop(link_->channel(), 1);
    if (shut_) drop(link_->channel(), 0);
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
  link_->arm(takes());
}

// Data nobody reads, read away so that libssh does not keep it: the
// extended-data stream (STREAM 1), and what comes once the call has ended.
void SshTransport::drop(ssh_channel channel, int stream) {
  char scratch[4096];
  while (ssh_channel_poll(channel, stream) > 0) {
    if (ssh_channel_read_nonblocking(channel, scratch, sizeof scratch, stream) <= 0) return;
  }
}

// libssh opens the caller's window again at each read, however much it
// still holds, so reading its buffer in the call's pieces let an eager
// client's data pile up there without end. It is taken whole, once the call
// has read what was taken before: what the last poll of the socket brought.
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
  windowShut_ = false;
  if (!writeDone_) return;
  ssh_channel channel = link_->channel();
  const char* bytes = static_cast<const char*>(out_.data());
  while (outAt_ < out_.size()) {
    if (link_->outputLeft()) return;
    const std::uint32_t window = ssh_channel_window_size(channel);
    windowShut_ = window == 0;
    if (windowShut_) return;
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

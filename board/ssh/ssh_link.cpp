// One SSH connection driven by the loop: the caller's bytes carried to
// libssh's end of a socket pair a piece at a time while they are wanted,
// libssh's output carried back as far as the caller's socket takes it.
#include "board/ssh/ssh_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "board/core/transport.h"

namespace board {

namespace {

// What one pump hands libssh of the caller's bytes at most; the pair's
// buffers hold about as much again.
constexpr std::size_t kPiece = std::size_t{16} * 1024;
constexpr int kPairBuffer = 16 * 1024;

bool transient(ssize_t n) {
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

}  // namespace

SshLink::SshLink(net::ip::tcp::socket socket) : socket_(std::move(socket)) {
  error_code ignored;
  socket_.set_option(net::socket_base::send_buffer_size(kSendBuffer), ignored);
  socket_.set_option(net::ip::tcp::no_delay(true), ignored);
  socket_.non_blocking(true, ignored);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0) {
    ours_ = pair[0];
    libsshEnd_ = libsshFd_ = pair[1];
    for (const int fd : pair) {
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
    }
  }
  session_ = ssh_new();
  ssh_set_counters(session_, &counter_, &packets_);
}

SshLink::~SshLink() {
  if (event_) {
    ssh_event_remove_session(event_, session_);
    ssh_event_free(event_);
  }
  ssh_free(session_);                        // frees the channels left and closes libssh's end
  if (libsshEnd_ >= 0) ::close(libsshEnd_);  // never handed over
  if (ours_ >= 0) ::close(ours_);
  error_code ignored;
  socket_.close(ignored);
}

int SshLink::takeLibsshEnd() { return std::exchange(libsshEnd_, -1); }

bool SshLink::closed() const {
  return closed_ || (ssh_get_status(session_) & (SSH_CLOSED | SSH_CLOSED_ERROR)) != 0;
}

// The caller's bytes to libssh's end, a piece read only once the last has
// gone in; the caller's end of the connection, or its failure, passed on
// as the end of the pair, which libssh sees as the connection's.
void SshLink::feed() {
  if (ours_ < 0) return;
  if (in_.empty() && !callerEnded_) {
    in_.resize(kPiece);
    const ssize_t n = ::recv(socket_.native_handle(), in_.data(), kPiece, 0);
    in_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (n == 0 || (n < 0 && !transient(n))) {
      callerEnded_ = true;
      ::shutdown(ours_, SHUT_WR);
    }
  }
  while (!in_.empty()) {
    const ssize_t n = ::send(ours_, in_.data(), in_.size(), MSG_NOSIGNAL);
    if (n <= 0) return;  // the pair is full: libssh reads first
    in_.erase(0, static_cast<std::size_t>(n));
  }
}

// libssh's output on to the caller, as far as his socket takes it now. A
// caller who is gone is told to libssh as the pair's end.
void SshLink::sendOut() {
  if (ours_ < 0) return;
  for (;;) {
    if (outAt_ == out_.size()) {
      out_.resize(kPiece);
      outAt_ = 0;
      const ssize_t n = ::recv(ours_, out_.data(), kPiece, 0);
      out_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      if (n <= 0) return;
    }
    const ssize_t n =
        ::send(socket_.native_handle(), out_.data() + outAt_, out_.size() - outAt_, MSG_NOSIGNAL);
    if (n < 0 && !transient(n)) {
      out_.clear();
      outAt_ = 0;
      callerEnded_ = true;
      ::shutdown(ours_, SHUT_RDWR);
      return;
    }
    if (n <= 0) return;
    outAt_ += static_cast<std::size_t>(n);
  }
}

// ssh_blocking_flush answers SSH_AGAIN while libssh holds output; libssh's
// own SSH_WRITE_PENDING says only that it wrote since it last polled, and
// stays set with nothing to send: waiting for writability on it woke the
// loop over and over while a password was checked. libssh writes once a
// poll: while the caller's socket takes what it wrote, it writes again.
void SshLink::flush() {
  for (int round = 0; round < 8 && !closed(); ++round) {
    outputLeft_ = ssh_blocking_flush(session_, 0) == SSH_AGAIN;
    sendOut();
    if (!outputLeft_ || outAt_ < out_.size()) return;
  }
}

// One poll of libssh's end through the link's own event reads what has
// been handed to it (a flush reads too, as it writes).
bool SshLink::pump(bool take) {
  if (closed()) return false;
  if (!event_) {
    event_ = ssh_event_new();
    if (!event_ || ssh_event_add_session(event_, session_) != SSH_OK) {
      close();
      return false;
    }
  }
  if (take) feed();
  ssh_event_dopoll(event_, 0);  // 0: what the pair has and takes now
  if (closed()) return false;
  flush();
  return !closed();
}

void SshLink::arm(bool reading) {
  if (closed()) return;
  const auto before = counter_.in_bytes;
  flush();  // what the step queued
  if (closed() || (reading && (counter_.in_bytes != before || readable()))) {
    stepLater();
    return;
  }
  if (reading && !callerEnded_) wait(net::socket_base::wait_read, &waitingRead_);
  if (outputLeft()) wait(net::socket_base::wait_write, &waitingWrite_);
}

// Bytes handed over that libssh has not read yet, or, in the caller's
// socket, bytes or his end.
bool SshLink::readable() {
  if (!in_.empty()) return true;
  pollfd p[2] = {{libsshFd_, POLLIN, 0}, {socket_.native_handle(), POLLIN | POLLRDHUP, 0}};
  const nfds_t n = callerEnded_ ? 1 : 2;
  return ::poll(p, n, 0) > 0 && ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 ||
                                 (p[1].revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0);
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
  sendOut();  // the disconnect, as far as the socket takes it now
  closed_ = true;
  step_ = nullptr;
  error_code ignored;
  socket_.close(ignored);  // the waits end, their handlers see closed_
}

}  // namespace board

// One SSH connection driven by the board's loop: a libssh session that
// talks through one end of a socket pair, and the caller's socket, with
// the board carrying bytes between them. The caller's bytes go to libssh
// only while they are wanted, so a caller who sends more than the board
// reads fills his own connection, not the board's memory.
#pragma once

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <functional>
#include <memory>
#include <string>

#include "board/core/net.h"

namespace board {

class SshLink : public std::enable_shared_from_this<SshLink> {
 public:
  explicit SshLink(net::ip::tcp::socket socket);
  ~SshLink();
  SshLink(const SshLink&) = delete;
  SshLink& operator=(const SshLink&) = delete;

  ssh_session session() const { return session_; }
  net::any_io_executor executor() { return socket_.get_executor(); }
  // libssh's end of the pair, handed over once (-1 if it could not be made).
  int takeLibsshEnd();
  ssh_channel channel() const { return channel_; }
  void setChannel(ssh_channel channel) { channel_ = channel; }
  // What runs when the connection may go on; empty, nothing does.
  void onStep(std::function<void()> step) { step_ = std::move(step); }
  // While TAKE, what the caller sent handed to libssh (a piece at a time)
  // and read by it; libssh's output sent as far as the socket takes it
  // now. False once the connection is gone.
  bool pump(bool take = true);
  // A piece of what the caller sent handed to libssh, for a call of its
  // own that reads (the key exchange).
  void feed();
  // The packets libssh has taken in, and their payloads' bytes.
  const ssh_counter_struct& packets() const { return packets_; }
  // Output not yet in the caller's socket, as the last pump left it.
  bool outputLeft() const { return outputLeft_ || outAt_ < out_.size(); }
  // What the step queued sent, then the step again at once if more is to
  // be read now (the loop's wait is edge-triggered: what is left now would
  // wake nothing); else waits for the socket: to read unless READING is
  // false (nothing is to be taken from the caller now: the step comes
  // again when it is), to write only while output is left.
  void arm(bool reading = true);
  bool closed() const;
  // Told why (shown by OpenSSH), then closed; the socket too.
  void close(const char* why = nullptr);

 private:
  void sendOut();
  void flush();
  bool readable();
  void wait(net::socket_base::wait_type type, bool* waiting);
  void stepLater();

  net::ip::tcp::socket socket_;
  int ours_ = -1, libsshEnd_ = -1;  // the pair: the board's end, libssh's
  int libsshFd_ = -1;               // libssh's end once handed over, to poll
  std::string in_, out_;            // on their way to libssh, to the caller
  std::size_t outAt_ = 0;
  bool callerEnded_ = false;  // the caller's end (or an error) passed on
  ssh_session session_ = nullptr;
  ssh_event event_ = nullptr;  // one poll of libssh's end, the pump's
  ssh_channel channel_ = nullptr;
  std::function<void()> step_;
  ssh_counter_struct counter_{};  // the bytes through libssh's end
  ssh_counter_struct packets_{};
  bool waitingRead_ = false, waitingWrite_ = false, closed_ = false;
  bool outputLeft_ = false, stepPosted_ = false;
};

}  // namespace board

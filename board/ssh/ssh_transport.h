// SSH with libssh, non-blocking and driven by the board's loop: the link
// (a session and the socket the loop waits on) and the transport a call
// talks to once the caller has a shell channel.
#pragma once

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <functional>
#include <memory>

#include "board/core/transport.h"

namespace board {

// One SSH connection. libssh owns a duplicate of the socket's descriptor;
// the loop waits on the socket for whichever way libssh needs, and STEP
// runs each time the connection may go on. Nothing here blocks.
class SshLink : public std::enable_shared_from_this<SshLink> {
 public:
  explicit SshLink(net::ip::tcp::socket socket);
  ~SshLink();
  SshLink(const SshLink&) = delete;
  SshLink& operator=(const SshLink&) = delete;

  ssh_session session() const { return session_; }
  net::any_io_executor executor() { return socket_.get_executor(); }
  int socketHandle() { return socket_.native_handle(); }
  ssh_channel channel() const { return channel_; }
  void setChannel(ssh_channel channel) { channel_ = channel; }
  // What runs when the socket is ready; empty, nothing does.
  void onStep(std::function<void()> step) { step_ = std::move(step); }
  // libssh's buffered output sent and its input read, as far as the
  // socket takes it now; false once the connection is gone.
  bool pump();
  // The packets libssh has taken in, and their payloads' bytes.
  const ssh_counter_struct& packets() const { return packets_; }
  // Output libssh still holds for the socket, as the last pump left it.
  bool outputLeft() const { return outputLeft_; }
  // What the step queued sent, then the step again at once if libssh took
  // input meanwhile or the socket has more (the loop's wait is edge-
  // triggered: what is left now would wake nothing); else waits for the
  // socket: to read unless READING is false (nothing is to be taken from
  // the caller now: the step comes again when it is), to write only while
  // output is left.
  void arm(bool reading = true);
  bool closed() const;
  // Told why (shown by OpenSSH), then closed; the socket too.
  void close(const char* why = nullptr);

 private:
  void wait(net::socket_base::wait_type type, bool* waiting);
  bool readable();
  void stepLater();

  net::ip::tcp::socket socket_;
  ssh_session session_ = nullptr;
  ssh_event event_ = nullptr;  // one poll of the socket, the pump's
  ssh_channel channel_ = nullptr;
  std::function<void()> step_;
  ssh_counter_struct counter_{};  // the socket's bytes, as libssh moves them
  ssh_counter_struct packets_{};
  bool waitingRead_ = false, waitingWrite_ = false, closed_ = false;
  bool outputLeft_ = false, stepPosted_ = false;
};

// A caller with a shell channel on LINK, the pty's size already in WINDOW.
std::unique_ptr<Transport> sshTransport(std::shared_ptr<SshLink> link, Window window);

// A window-change or other request on a channel already in use: answered,
// the new size into LINES.
void sshChannelRequest(ssh_message message, LineLayer& lines);

}  // namespace board

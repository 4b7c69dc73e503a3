// One SSH caller from the connection to his shell: the key exchange, the
// password (or keyboard-interactive answer) through the log-on gate every
// caller passes, the session channel and its pty.
#pragma once

#include <memory>
#include <string>

#include "board/caller/logon_gate.h"
#include "board/ssh/ssh_transport.h"

namespace board {

class Board;
class SshListener;

class SshHandshake : public std::enable_shared_from_this<SshHandshake> {
 public:
  SshHandshake(SshListener& listener, Board& board, std::shared_ptr<SshLink> link, std::string peer,
               std::string ip);
  // The session given to libssh from BIND, then driven by the loop.
  void start(ssh_bind bind);
  const std::string& ip() const { return ip_; }
  // Closed without more work (WHY shown by the client, if any).
  void finish(const char* why = nullptr);

 private:
  enum class State { Exchange, Auth, Checking, Authed, Done };
  void step();
  void message(ssh_message message);
  void authenticate(ssh_message message);
  void password(ssh_message message, const std::string& name, std::string password, bool whole);
  bool whole(std::size_t size) const;
  void checked(Answer answer);
  void armGrace(std::chrono::steady_clock::duration left);
  void channelRequest(ssh_message message);
  void shell();

  SshListener& listener_;
  Board& board_;
  std::shared_ptr<SshLink> link_;
  std::string peer_, ip_;
  net::steady_timer grace_;
  std::chrono::steady_clock::duration graceLeft_{};  // while a password is checked
  State state_ = State::Exchange;
  ssh_message pending_ = nullptr;  // the authentication being checked
  std::string user_;
  int tries_ = 0;
  std::uint64_t packetSize_ = 0;  // of the message in hand, when known
  ssh_counter_struct seen_{};     // the packets when the messages were last taken
  Window window_;
};

}  // namespace board

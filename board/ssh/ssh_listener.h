// The SSH listener: connections accepted on the loop, each key exchange and
// authentication driven without blocking it, within the limits on those in
// progress (per address and in all) and on their time; a caller who has
// his shell is admitted to the board like any other.
#pragma once

#include <libssh/server.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "board/core/config.h"
#include "board/core/net.h"

namespace board {

class Board;
class SshHandshake;

// Before a log-on completes, as sshd's MaxStartups and LoginGraceTime.
inline constexpr std::size_t kSshStartups = 10;              // in progress at once
inline constexpr int kSshStartupsPerAddress = 3;             // ... from one address
inline constexpr auto kSshGrace = std::chrono::seconds(30);  // or --prompt-timeout if less

class SshListener {
 public:
  // KEY is the host key; the bind takes it.
  SshListener(Board& board, const Config& config, ssh_key key);
  ~SshListener();
  // Binds and listens before the module starts (simhost::Fatal as
  // Board::bind); answers the address it listens on.
  std::string bind();
  void serve();
  // Nothing more accepted, the handshakes in progress closed.
  void stop();

  // A handshake done (its caller admitted) or given up.
  void ended(const std::shared_ptr<SshHandshake>& handshake);

 private:
  void accepted(net::ip::tcp::socket socket);
  bool refused(const std::string& ip, const std::string& peer);
  void setAlgorithms(bool legacy);

  Board& board_;
  const Config& config_;
  ssh_bind bind_;
  net::ip::tcp::acceptor acceptor_;
  std::set<std::shared_ptr<SshHandshake>> inProgress_;
  std::map<std::string, int> perAddress_;
  bool stopping_ = false;
};

}  // namespace board

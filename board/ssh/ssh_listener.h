// The SSH listener: connections the board's listeners accept, each key exchange and
// authentication driven without blocking it, within the limits on those in
// progress (per address and in all) and on their time; a caller who has
// his shell is admitted to the board like any other.
#pragma once

#include <libssh/server.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "board/caller/listeners.h"
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
  // The listener for the board's table: connections the admission let in
  // begin their key exchange while there is room for one more.
  ListenerRole role();
  // The handshakes in progress closed.
  void stop();

  // A handshake done (its caller admitted) or given up.
  void ended(const std::shared_ptr<SshHandshake>& handshake);

 private:
  void accepted(net::ip::tcp::socket socket, const Arrival& arrival);
  void setAlgorithms(bool legacy);

  Board& board_;
  const Config& config_;
  ssh_bind bind_;
  std::set<std::shared_ptr<SshHandshake>> inProgress_;
  std::map<std::string, int> perAddress_;
};

}  // namespace board

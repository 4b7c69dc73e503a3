// The board's control socket: `zorgaval-board ctl ...` and, while a board
// runs in DIR, `zorgaval-board account ...` reach the running board over a
// Unix socket in DIR (mode 0600), one request and one reply per connection.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace boost::asio {
class io_context;
}

namespace board {

// What a request answers: the exit status for the command, and the text it
// prints (on standard output when the status is 0, else standard error).
struct Reply {
  int status = 0;
  std::string text;
};
using ControlHandler = std::function<Reply(const std::vector<std::string>& words)>;

inline constexpr char kControlSocket[] = "zorgaval-board.ctl";

// Serves the socket on the loop's thread. The board has made DIR its
// current directory and holds DIR's lock, so a socket file found there is a
// stale one of a killed board and is replaced. Throws simhost::Fatal(1).
class ControlServer {
 public:
  ControlServer(boost::asio::io_context& io, ControlHandler handler);
  ~ControlServer();  // stops serving and removes the socket file
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Asks the board running in DIR; nothing when no board runs there.
std::optional<Reply> askBoard(const std::string& dir, const std::vector<std::string>& words);

}  // namespace board

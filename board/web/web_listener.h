// The web listener: HTTP (or HTTPS) on one address; each request passes
// the listener's rules (Host, the proxy's address, the method) before /ws
// (a caller's WebSocket into the board) and the routes tried in order;
// every limit of the listener held for each connection.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/caller/listeners.h"
#include "board/core/config.h"
#include "board/core/net.h"
#include "board/web/http_route.h"
#include "board/web/web_rules.h"

namespace boost::asio::ssl {
class context;
}

namespace board {

class Board;

class WebListener {
 public:
  // ROUTES are tried in order for each request; CALLS says whether /ws
  // takes callers (the --metrics listener takes none).
  WebListener(Board& board, Endpoint where, std::vector<HttpRoute> routes, bool calls);
  ~WebListener();

  // HTTPS and WSS with this PEM pair, for the connections from now on;
  // simhost::Fatal(1) with the reason when either cannot be read or they
  // do not match (and the pair in use stays).
  void useTls(const std::string& cert, const std::string& key);
  // The listener for the board's table, as KIND ("web", "metrics") named
  // by FLAG: the trusted proxy's connections judged by each request, the
  // rest by their address at accept; then the caps.
  ListenerRole role(const char* kind, const char* flag);
  // Those open are closed, and no more are taken.
  void stop();

  // For the connections: a caller over /ws into the board, and their
  // bookkeeping (the caps, the closers run by stop()).
  Board& board() { return board_; }
  bool calls() const { return calls_; }
  const std::vector<HttpRoute>& routes() const { return routes_; }
  // Connection ID (as the caps numbered it) is served; CLOSER ends it.
  void opened(int id, std::function<void()> closer);
  void closed(int id);
  // Whether connection ID waits for a request's head (and may give way).
  void idle(int id, bool idle) { caps_.idle(id, idle); }

 private:
  bool room(Arrival& arrival);
  void accepted(net::ip::tcp::socket socket, const Arrival& arrival);

  Board& board_;
  Endpoint where_;
  std::vector<HttpRoute> routes_;
  bool calls_;
  // Replaced whole by useTls at a reload. A connection's SSL object holds
  // its own reference to the context it was made from (SSL_new), so a call
  // in progress keeps the pair it began with.
  std::shared_ptr<net::ssl::context> tls_;
  ConnectionCaps caps_;
  std::map<int, std::function<void()>> open_;
  bool stopped_ = false;
};

// The route for the page's files under ROOT ("" finds it beside the
// program, then in ../share/zorgaval/web from it).
HttpRoute staticFiles(const std::string& root);

}  // namespace board

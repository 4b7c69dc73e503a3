// The web listener's connections, plain or under TLS: each served by a
// session of its own until it closes or becomes a call.
#pragma once

#include <string>

#include "board/core/net.h"
#include "board/web/web_listener.h"

#include <boost/asio/ssl/context.hpp>

namespace board {

// Who is on the other end of a connection.
struct Peer {
  std::string ip;  // the TCP peer's address
  unsigned short port = 0;
  std::string address;  // "IP:PORT"
  std::string local;    // the listener's address the connection reached
  int id = -1;          // the connection's number in the listener's caps
};

void serveHttp(WebListener& site, net::ip::tcp::socket socket, Peer peer);
void serveHttps(WebListener& site, net::ssl::context& tls, net::ip::tcp::socket socket, Peer peer);

}  // namespace board

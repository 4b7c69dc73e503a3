// The board's listeners as one table (telnet, SSH, the web, the metrics),
// as a server keeps one list of listening sockets with one accept handler
// for all: each bound before the module starts, served and stopped alike,
// and every connection any of them accepts read the same way (the peer
// unmapped once) and passed through the one admission before the
// listener's own protocol sees a byte of it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/caller/admission.h"
#include "board/core/address.h"
#include "board/core/net.h"

namespace board {

// What one listener is and does with the connections it is given.
struct ListenerRole {
  std::string kind;  // as Arrival::kind
  const char* flag;  // the option that names its address, for errors
  std::string host;
  unsigned port = 0;
  // Whether the address rules wait for each request (a trusted proxy's
  // connection carries many callers, each judged by his own address).
  std::function<bool(const Arrival&)> deferred;
  // Whether the listener has room for one more connection of its own kind
  // (handshakes in progress, HTTP connections); it may fill in ARRIVAL's
  // place among them. No room: refused as too many.
  std::function<bool(Arrival&)> room;
  // The connection let in.
  std::function<void(net::ip::tcp::socket, const Arrival&)> take;
  // What a refused connection is told before it closes, when the listener
  // speaks plain text (telnet); else it is closed unanswered.
  std::function<void(net::ip::tcp::socket, const Arrival&, Admission::Verdict)> refuse;
};

class Listeners {
 public:
  Listeners(net::io_context& io, Admission& admission);
  ~Listeners();
  // ROLE's socket bound and listening (a socket systemd passed for its
  // flag is taken as it is); answers the address. simhost::Fatal naming
  // the flag: 2 for an address that does not resolve, 1 when it cannot be
  // bound.
  std::string add(ListenerRole role);
  // Every listener accepting, from now on.
  void serve();
  // Nothing more accepted anywhere.
  void stop();

 private:
  struct Entry;
  void acceptNext(Entry& entry);
  void accepted(Entry& entry, net::ip::tcp::socket socket);

  net::io_context& io_;
  Admission& admission_;
  std::vector<std::unique_ptr<Entry>> entries_;
  bool stopping_ = false;
};

}  // namespace board

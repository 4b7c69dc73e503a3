// The web listener's rules, apart from its sockets so that they can be
// tested alone: whose page may open a call, which Host names the board,
// how many connections are served and which gives way, who the caller is
// behind a proxy, and which files are served.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace board {

// The listener's figures.
inline constexpr std::size_t kHeadLimit = 8 * 1024;     // a request's head
inline constexpr std::size_t kBodyLimit = 64 * 1024;    // a request's body
inline constexpr std::chrono::seconds kHeadTime{10};    // to send a head (or the TLS hello)
inline constexpr std::chrono::seconds kAnswerTime{30};  // for an answer given later
inline constexpr int kHttpConnections = 64;             // HTTP connections at once
inline constexpr int kHttpPerAddress = 8;               // ... from one address
inline constexpr std::size_t kFrameLimit = 16 * 1024;   // a WebSocket message from a caller

// Whether an upgrade with ORIGIN (the header's value, "" when absent) may
// open a call on the board reached as HOST (the Host header) over TLS or
// not: only the board's own page, or a client that is no browser.
bool originAllowed(const std::string& origin, const std::string& host, bool tls);

// Whether HOST (the Host header, a port allowed) names this board: a
// name in NAMES (--web-host, case ignored), "localhost", a loopback
// address, or LOCAL, the address the connection reached. A rebinding
// page's Host is its own name, so it is none of these.
bool hostAllowed(const std::string& host, const std::vector<std::string>& names,
                 const std::string& local);

// Whether two addresses are one (an IPv4 address mapped into IPv6 is the
// IPv4 one); text that is no address is never equal.
bool sameAddress(const std::string& a, const std::string& b);

// The range an address's connections are counted by when the listener is
// full: its /24 (IPv4) or /64 (IPv6); the text itself for anything else.
std::string addressRange(const std::string& ip);

// The HTTP connections being served: 8 an address, 64 in all. When all 64
// are taken, a newcomer whose range holds fewer than the busiest range
// closes that range's oldest idle connection (one waiting for a request's
// head) and takes its place, so a few ranges cannot starve the rest.
class ConnectionCaps {
 public:
  struct Taken {
    int id = -1;     // the connection's number; -1: refused, past a cap
    int evict = -1;  // a connection to close now to make room, or -1
  };
  // A connection from IP. An empty IP (the trusted proxy, carrying many
  // callers) is held only by the total.
  Taken take(const std::string& ip);
  // Whether connection ID waits for a request's head (and may give way).
  void idle(int id, bool idle);
  void give(int id);
  int total() const { return static_cast<int>(open_.size()); }

 private:
  struct Open {
    std::string ip, range;
    bool idle = true;
  };
  int evictable(const std::string& range) const;
  std::map<int, Open> open_;  // by id: the oldest first
  std::map<std::string, int> byAddress_, byRange_;
  int nextId_ = 0;
};

// The caller's address: PEER's own, unless PEER is the trusted PROXY,
// when it is the last entry of FORWARDED (X-Forwarded-For), the one the
// proxy wrote. Nothing when that entry is missing or not a bare IP address
// ("unknown", an address with a port): the request is refused, never
// taken for the proxy's own.
std::optional<std::string> callerAddress(const std::string& peer, const std::string& proxy,
                                         const std::string& forwarded);

// The file under the web root for a request's TARGET ("/" the page), or
// nothing for a path that could leave the root or names no plain file name.
std::optional<std::string> staticPath(const std::string& target);
// The Content-Type for a file served, by its name's ending.
std::string contentTypeOf(const std::string& path);

}  // namespace board

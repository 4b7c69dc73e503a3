// The web listener's rules, apart from its sockets so that they can be
// tested alone: whose page may open a call, how many connections are
// served, who the caller is behind a proxy, and which files are served.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>

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

// The HTTP connections being served, counted as a whole and by address.
class ConnectionCaps {
 public:
  // Counts one more from IP, or false (nothing counted) past a cap. An
  // empty IP (the trusted proxy, carrying many callers) counts only in the total.
  bool take(const std::string& ip);
  void give(const std::string& ip);
  int total() const { return total_; }

 private:
  int total_ = 0;
  std::map<std::string, int> byAddress_;
};

// The caller's address: PEER's own, unless PEER is the trusted PROXY and
// names one in FORWARDED (X-Forwarded-For), whose last entry the proxy
// wrote. Nothing that is not an IP address is taken.
std::string callerAddress(const std::string& peer, const std::string& proxy,
                          const std::string& forwarded);

// The file under the web root for a request's TARGET ("/" the page), or
// nothing for a path that could leave the root or names no plain file name.
std::optional<std::string> staticPath(const std::string& target);
// The Content-Type for a file served, by its name's ending.
std::string contentTypeOf(const std::string& path);

}  // namespace board

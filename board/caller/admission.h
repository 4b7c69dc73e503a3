// The one check every connection passes at accept, whatever listener took
// it and before its key exchange, TLS handshake or request is read: a
// blocked address (or range) and the calls an address may have at once,
// as the throttle keeps them. Refusals are traced alike on every listener,
// and an address refused again and again writes a line at most every
// 5 s, with a count, so a flood cannot drown the lines fail2ban reads.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>

#include "board/caller/throttle.h"

namespace board {

// A connection as the listeners take it: which listener, the peer as
// "IP:PORT" (unmapped, IPv6 in brackets), the address the rules count,
// and the address it reached.
struct Arrival {
  std::string kind;  // "telnet", "ssh", "web", "metrics"
  std::string peer;
  std::string ip;
  std::string local;
  unsigned short port = 0;
  int slot = -1;  // its place among the listener's own connections, if it counts them
  // How the trace names the connection: telnet's bare, as it always was;
  // the others with their listener's name.
  std::string from() const { return kind == "telnet" ? peer : kind + " " + peer; }
};

class Admission {
 public:
  enum class Verdict { In, Blocked, TooMany };
  explicit Admission(Throttle& throttle) : throttle_(throttle) {}

  // ARRIVAL let in or refused by the address rules; a refusal is traced.
  // The connection is not yet a call: the board counts it as one when it
  // takes a channel.
  Verdict admit(const Arrival& arrival, Throttle::Time now);
  // A refusal found later (a sign-in at the console, a caller's seat),
  // traced the same way: FROM as the trace names the connection, KIND the
  // road it came by (each counted apart, so each has its line).
  void refused(Verdict verdict, const std::string& kind, const std::string& from,
               const std::string& ip, Throttle::Time now);
  // What the caller is told, where the listener can say anything.
  static const char* reason(Verdict verdict);

 private:
  struct Seen {
    Throttle::Time at;
    long count = 0;  // refusals since the last line
  };
  Throttle& throttle_;
  std::unordered_map<std::string, Seen> seen_;  // by verdict, kind and address
};

}  // namespace board

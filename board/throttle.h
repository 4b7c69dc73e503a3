// Password guessing held off, as fail2ban does it: an address whose log-ons
// fail too often within a while is refused at connect for a while, loopback
// exempt unless asked; and an optional cap on one address's calls at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace board {

struct ThrottleLimits {
  int failures = 5;                         // failed log-ons that block ...
  std::chrono::seconds window{600};         // ... when they fall within this
  std::chrono::seconds blockFor{600};       // refused at connect this long
  bool includeLoopback = false;             // loopback is exempt unless set
  int callsPerAddress = 0;                  // simultaneous calls; 0: no cap
  std::size_t maxAddresses = 4096;          // addresses remembered at most
};

// Pure bookkeeping: the time is always an argument (wall-clock, monotonic),
// so it is tested without waiting. Addresses are text as the network gives
// them; an IPv4 address mapped into IPv6 counts as the IPv4 one. Used from
// the loop's thread only.
class Throttle {
 public:
  using Time = std::chrono::steady_clock::time_point;
  enum class Admit { Yes, Blocked, TooManyCalls };

  explicit Throttle(ThrottleLimits limits = {});

  // A call arriving. Yes counts it among the address's calls while a cap is
  // set, and each call let in is then ended with callEnded.
  Admit admit(const std::string& address, Time now);
  void callEnded(const std::string& address);
  // A failed log-on (a wrong password or an unknown user-id). True when
  // this failure blocks the address, from now on.
  bool failed(const std::string& address, Time now);

  struct Block {
    std::string address;
    std::chrono::seconds left;  // until calls are let in again
  };
  std::vector<Block> blocked(Time now) const;  // ordered by address
  bool unblock(const std::string& address, Time now);  // false: was not blocked
  bool exempt(const std::string& address) const;

  // Forgets what no longer matters: blocks run out, failures out of the
  // window, addresses with no call. Also done by itself when the table is full.
  void expire(Time now);
  std::size_t remembered() const { return table_.size(); }

 private:
  struct Entry {
    std::vector<Time> failures;  // within the window, oldest first
    Time until{};                // blocked while now < until
    int calls = 0;
    Time last{};                 // the last failure or call, for eviction
  };
  Entry& entry(const std::string& key, Time now);
  bool idle(const Entry& e, Time now) const;

  ThrottleLimits limits_;
  std::unordered_map<std::string, Entry> table_;
};

}  // namespace board

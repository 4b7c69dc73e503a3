// Password guessing held off, as fail2ban does it: an address whose log-ons
// fail too often within a while is refused at connect for a while, loopback
// exempt unless asked; sign-ups an address may try; a cap on calls at once.
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
  int signUps = 3;                          // sign-ups an address tries (0: no limit) ...
  std::chrono::seconds signUpWindow{3600};  // ... within this
};

// Pure bookkeeping: the time is always an argument (wall-clock, monotonic),
// so it is tested without waiting. Addresses are text as the network gives
// them; an IPv4 address mapped into IPv6 counts as the IPv4 one. A block is
// never forgotten before it ends: when the table is full of them, a new
// address is counted by its /24 (IPv4) or /64 (IPv6), and past twice the
// table's bound by its whole family. Used from the loop's thread only.
class Throttle {
 public:
  using Time = std::chrono::steady_clock::time_point;
  enum class Admit { Yes, Blocked, TooManyCalls };
  // A password about to be checked: Check it; Blocks, check it, and this
  // guess has blocked the address from now; Refused, the address is blocked
  // and the password is not to be checked.
  enum class Guess { Check, Blocks, Refused };

  explicit Throttle(ThrottleLimits limits = {});
  // New limits, as a reload sets them; what is counted stays counted.
  void setLimits(const ThrottleLimits& limits) { limits_ = limits; }
  const ThrottleLimits& limits() const { return limits_; }

  // A call arriving. Yes counts it among the address's calls while a cap is
  // set, and each call let in is then ended with callEnded.
  Admit admit(const std::string& address, Time now);
  void callEnded(const std::string& address);
  // A guess counts when it is handed to be checked, not when it is answered,
  // so calls guessing at once get no more checks than one call would.
  Guess guess(const std::string& address, Time now);
  // The guess counted at AT was right: it no longer counts, and a block it
  // completed is lifted (the others of that block count again).
  void forgive(const std::string& address, Time at, Time now);
  // A failed log-on counted after the fact (a right password the module
  // rejected). True when this failure blocks the address, from now on.
  bool failed(const std::string& address, Time now);
  // A sign-up begun: false, and not counted, when the address has tried
  // its sign-ups within the window already.
  bool signUp(const std::string& address, Time now);

  struct Block {
    std::string address;
    std::chrono::seconds left;  // until calls are let in again
  };
  std::vector<Block> blocked(Time now) const;          // ordered by address
  bool unblock(const std::string& address, Time now);  // false: was not blocked
  bool exempt(const std::string& address) const;

  // Forgets what no longer matters: blocks run out, failures out of the
  // window, addresses with no call. Also done by itself when the table is full.
  void expire(Time now);
  std::size_t remembered() const { return table_.size(); }

 private:
  struct Entry {
    std::vector<Time> failures;   // within the window, oldest first
    std::vector<Time> blockedBy;  // the failures that made the block
    Time until{};                 // blocked while now < until
    int calls = 0;
    std::vector<Time> signUps;  // within the sign-up window
    Time last{};                // the last failure or call, for eviction
  };
  Entry& entry(const std::string& key, Time now);
  Entry& counted(const std::string& address, Time now);    // by address, or coarser
  bool isBlocked(const std::string& key, Time now) const;  // the address or its range
  bool evictOne(bool coarse, Time now);
  bool idle(const Entry& e, Time now) const;

  ThrottleLimits limits_;
  std::unordered_map<std::string, Entry> table_;
};

}  // namespace board

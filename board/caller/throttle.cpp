// The throttle's table: guesses counted per address within the window,
// blocks with their end, sign-ups and calls per address, and the table kept
// bounded by forgetting what has run out, then the address longest quiet
// that is not blocked, else by counting a new address by its range.
#include "board/caller/throttle.h"

#include <algorithm>
#include "board/core/net.h"

namespace board {

namespace {

// One spelling per address: "::ffff:10.0.0.1" is 10.0.0.1, and IPv6 in the
// library's canonical form. Text that is no address is kept as it is.
std::string canonical(const std::string& address) {
  error_code ec;
  net::ip::address parsed = net::ip::make_address(address, ec);
  if (ec) return address;
  if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
    parsed = net::ip::make_address_v4(net::ip::v4_mapped, parsed.to_v6());
  }
  return parsed.to_string();
}

// The range a new address is counted by when the table is full of blocks:
// its /24 or /64. "" for text that is no address.
std::string rangeOf(const std::string& key) {
  error_code ec;
  const net::ip::address parsed = net::ip::make_address(key, ec);
  if (ec) return "";
  if (parsed.is_v4()) {
    net::ip::address_v4::bytes_type bytes = parsed.to_v4().to_bytes();
    bytes[3] = 0;
    return net::ip::address_v4(bytes).to_string() + "/24";
  }
  net::ip::address_v6::bytes_type bytes = parsed.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return net::ip::address_v6(bytes).to_string() + "/64";
}

// The last resort, when the ranges too fill the table with blocks.
std::string familyOf(const std::string& key) {
  error_code ec;
  const net::ip::address parsed = net::ip::make_address(key, ec);
  if (ec) return "/0";
  return parsed.is_v4() ? "0.0.0.0/0" : "::/0";
}

bool isRange(const std::string& key) { return key.find('/') != std::string::npos; }

}  // namespace

Throttle::Throttle(ThrottleLimits limits) : limits_(limits) {}

bool Throttle::exempt(const std::string& address) const {
  if (limits_.includeLoopback) return false;
  error_code ec;
  const net::ip::address parsed = net::ip::make_address(canonical(address), ec);
  return !ec && parsed.is_loopback();
}

bool Throttle::idle(const Entry& e, Time now) const {
  return e.calls == 0 && e.until <= now &&
         (e.failures.empty() || e.failures.back() + limits_.window <= now) &&
         (e.signUps.empty() || e.signUps.back() + limits_.signUpWindow <= now);
}

bool Throttle::isBlocked(const std::string& key, Time now) const {
  for (const std::string& k : {key, rangeOf(key), familyOf(key)}) {
    if (auto found = table_.find(k); found != table_.end() && now < found->second.until) {
      return true;
    }
  }
  return false;
}

// Room for one more address (or range, when COARSE) within the bound: what
// has run out goes, else the one quiet longest; never a block, which would
// lift it, nor one with calls, whose count must stay right.
bool Throttle::evictOne(bool coarse, Time now) {
  const auto full = [&] {
    if (table_.size() < limits_.maxAddresses) return false;
    const auto n = std::count_if(table_.begin(), table_.end(),
                                 [&](const auto& item) { return isRange(item.first) == coarse; });
    return static_cast<std::size_t>(n) >= limits_.maxAddresses;
  };
  if (!full()) return true;
  expire(now);
  if (!full()) return true;
  auto oldest = table_.end();
  for (auto it = table_.begin(); it != table_.end(); ++it) {
    const Entry& e = it->second;
    if (isRange(it->first) == coarse && e.calls == 0 && e.until <= now &&
        (oldest == table_.end() || e.last < oldest->second.last)) {
      oldest = it;
    }
  }
  if (oldest == table_.end()) return false;
  table_.erase(oldest);
  return true;
}

Throttle::Entry& Throttle::counted(const std::string& address, Time now) {
  const std::string key = canonical(address);
  if (auto found = table_.find(key); found != table_.end()) return found->second;
  if (evictOne(false, now)) return table_[key];
  const std::string range = rangeOf(key);
  if (!range.empty()) {
    if (auto found = table_.find(range); found != table_.end()) return found->second;
    if (evictOne(true, now)) return table_[range];
  }
  return table_[familyOf(key)];
}

void Throttle::expire(Time now) {
  std::erase_if(table_, [&](const auto& item) { return idle(item.second, now); });
}

Throttle::Entry& Throttle::entry(const std::string& key, Time now) {
  if (auto found = table_.find(key); found != table_.end()) return found->second;
  evictOne(false, now);  // still full, it goes past the bound: calls are bounded by the channels
  return table_[key];
}

Throttle::Admit Throttle::admit(const std::string& address, Time now) {
  if (exempt(address)) return Admit::Yes;
  const std::string key = canonical(address);
  if (isBlocked(key, now)) return Admit::Blocked;
  if (limits_.callsPerAddress <= 0) return Admit::Yes;
  auto found = table_.find(key);
  Entry& e = found != table_.end() ? found->second : entry(key, now);
  if (e.calls >= limits_.callsPerAddress) return Admit::TooManyCalls;
  ++e.calls;
  e.last = now;
  return Admit::Yes;
}

void Throttle::callEnded(const std::string& address) {
  if (limits_.callsPerAddress <= 0) return;
  auto found = table_.find(canonical(address));
  if (found == table_.end() || found->second.calls == 0) return;
  --found->second.calls;
}

Throttle::Guess Throttle::guess(const std::string& address, Time now) {
  if (exempt(address) || limits_.failures <= 0) return Guess::Check;
  if (isBlocked(canonical(address), now)) return Guess::Refused;
  Entry& e = counted(address, now);
  e.last = now;
  std::erase_if(e.failures, [&](Time t) { return t + limits_.window <= now; });
  e.failures.push_back(now);
  if (static_cast<int>(e.failures.size()) < limits_.failures) return Guess::Check;
  e.blockedBy = std::move(e.failures);
  e.failures.clear();
  e.until = now + limits_.blockFor;
  return Guess::Blocks;
}

void Throttle::forgive(const std::string& address, Time at, Time now) {
  if (exempt(address)) return;
  const std::string key = canonical(address);
  for (const std::string& k : {key, rangeOf(key), familyOf(key)}) {
    auto found = table_.find(k);
    if (found == table_.end()) continue;
    Entry& e = found->second;
    if (auto t = std::find(e.failures.begin(), e.failures.end(), at); t != e.failures.end()) {
      e.failures.erase(t);
      return;
    }
    auto t = std::find(e.blockedBy.begin(), e.blockedBy.end(), at);
    if (now < e.until && t != e.blockedBy.end()) {
      e.blockedBy.erase(t);
      e.failures = std::move(e.blockedBy);
      e.blockedBy.clear();
      e.until = Time{};
      return;
    }
  }
}

bool Throttle::failed(const std::string& address, Time now) {
  // Blocked already, it is not counted: its calls were let in before.
  return guess(address, now) == Guess::Blocks;
}

bool Throttle::signUp(const std::string& address, Time now) {
  if (exempt(address) || limits_.signUps <= 0) return true;
  Entry& e = counted(address, now);
  e.last = now;
  std::erase_if(e.signUps, [&](Time t) { return t + limits_.signUpWindow <= now; });
  if (static_cast<int>(e.signUps.size()) >= limits_.signUps) return false;
  e.signUps.push_back(now);
  return true;
}

std::vector<Throttle::Block> Throttle::blocked(Time now) const {
  std::vector<Block> out;
  for (const auto& [address, e] : table_) {
    if (now < e.until) {
      // Rounded up, so an address still refused never shows 0 seconds left.
      const auto left = std::chrono::ceil<std::chrono::seconds>(e.until - now);
      out.push_back({address, left});
    }
  }
  std::sort(out.begin(), out.end(),
            [](const Block& a, const Block& b) { return a.address < b.address; });
  return out;
}

bool Throttle::unblock(const std::string& address, Time now) {
  auto found = table_.find(canonical(address));
  if (found == table_.end() || found->second.until <= now) return false;
  found->second.until = Time{};
  found->second.failures.clear();
  found->second.blockedBy.clear();
  return true;
}

}  // namespace board

// The throttle's table: failures counted per address within the window,
// blocks with their end, calls per address, and the table kept bounded by
// forgetting what has run out, then the address longest quiet.
#include "board/throttle.h"

#include <algorithm>
#include <asio/ip/address.hpp>

namespace board {

namespace {

// One spelling per address: "::ffff:10.0.0.1" is 10.0.0.1, and IPv6 in the
// library's canonical form. Text that is no address is kept as it is.
std::string canonical(const std::string& address) {
  asio::error_code ec;
  asio::ip::address parsed = asio::ip::make_address(address, ec);
  if (ec) return address;
  if (parsed.is_v6() && parsed.to_v6().is_v4_mapped()) {
    parsed = asio::ip::make_address_v4(asio::ip::v4_mapped, parsed.to_v6());
  }
  return parsed.to_string();
}

}  // namespace

Throttle::Throttle(ThrottleLimits limits) : limits_(limits) {}

bool Throttle::exempt(const std::string& address) const {
  if (limits_.includeLoopback) return false;
  asio::error_code ec;
  const asio::ip::address parsed = asio::ip::make_address(canonical(address), ec);
  return !ec && parsed.is_loopback();
}

bool Throttle::idle(const Entry& e, Time now) const {
  return e.calls == 0 && e.until <= now &&
         (e.failures.empty() || e.failures.back() + limits_.window <= now);
}

void Throttle::expire(Time now) {
  std::erase_if(table_, [&](const auto& item) { return idle(item.second, now); });
}

Throttle::Entry& Throttle::entry(const std::string& key, Time now) {
  if (auto found = table_.find(key); found != table_.end()) return found->second;
  if (table_.size() >= limits_.maxAddresses) expire(now);
  if (table_.size() >= limits_.maxAddresses) {
    // Still full: the address quiet longest goes, one with calls never
    // (their count must stay right, and calls are bounded by the channels).
    auto oldest = table_.end();
    for (auto it = table_.begin(); it != table_.end(); ++it) {
      if (it->second.calls == 0 &&
          (oldest == table_.end() || it->second.last < oldest->second.last)) {
        oldest = it;
      }
    }
    if (oldest != table_.end()) table_.erase(oldest);
  }
  return table_[key];
}

Throttle::Admit Throttle::admit(const std::string& address, Time now) {
  if (exempt(address)) return Admit::Yes;
  const std::string key = canonical(address);
  auto found = table_.find(key);
  if (found != table_.end() && now < found->second.until) return Admit::Blocked;
  if (limits_.callsPerAddress <= 0) return Admit::Yes;
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

bool Throttle::failed(const std::string& address, Time now) {
  if (exempt(address) || limits_.failures <= 0) return false;
  Entry& e = entry(canonical(address), now);
  e.last = now;
  if (now < e.until) return false;  // blocked already; its calls were let in before
  std::erase_if(e.failures, [&](Time t) { return t + limits_.window <= now; });
  e.failures.push_back(now);
  if (static_cast<int>(e.failures.size()) < limits_.failures) return false;
  e.failures.clear();
  e.until = now + limits_.blockFor;
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
  return true;
}

}  // namespace board

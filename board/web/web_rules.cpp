// The web listener's rules: the Origin and Host checks, the connection
// caps and who gives way, the proxy's rule and the static files' names.
#include "board/web/web_rules.h"

#include <algorithm>

#include "board/core/net.h"
#include "simhost/text.h"

namespace board {

bool originAllowed(const std::string& origin, const std::string& host, bool tls) {
  if (origin.empty()) return true;
  if (host.empty()) return false;
  const std::string own = std::string(tls ? "https://" : "http://") + host;
  return simhost::text::equalFolded(origin, own);
}

namespace {

// TEXT as an address, IPv4 mapped into IPv6 taken as IPv4.
std::optional<net::ip::address> plainParse(const std::string& text) {
  error_code bad;
  const auto a = net::ip::make_address(text, bad);
  if (bad) return std::nullopt;
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return net::ip::make_address_v4(net::ip::v4_mapped, a.to_v6());
  return a;
}

}  // namespace

bool hostAllowed(const std::string& host, const std::vector<std::string>& names,
                 const std::string& local) {
  std::string name = host;
  if (name.starts_with("[")) {
    const std::size_t close = name.find(']');
    if (close == std::string::npos) return false;
    const std::string rest = name.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(":")) return false;
    name = name.substr(1, close - 1);
  } else if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
    if (name.find(':', colon + 1) != std::string::npos) return false;  // IPv6 needs brackets
    name.resize(colon);
  }
  if (name.empty()) return false;
  if (simhost::text::equalFolded(name, "localhost")) return true;
  for (const std::string& n : names)
    if (simhost::text::equalFolded(name, n)) return true;
  const auto address = plainParse(name);
  return address && (address->is_loopback() || sameAddress(name, local));
}

bool sameAddress(const std::string& a, const std::string& b) {
  const auto x = plainParse(a);
  const auto y = plainParse(b);
  return x && y && *x == *y;
}

std::string addressRange(const std::string& ip) {
  const auto a = plainParse(ip);
  if (!a) return ip;
  if (a->is_v4()) {
    auto bytes = a->to_v4().to_bytes();
    bytes[3] = 0;
    return net::ip::address_v4(bytes).to_string() + "/24";
  }
  auto bytes = a->to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return net::ip::address_v6(bytes).to_string() + "/64";
}

ConnectionCaps::Taken ConnectionCaps::take(const std::string& ip) {
  if (const auto mine = byAddress_.find(ip);
      mine != byAddress_.end() && !ip.empty() && mine->second >= kHttpPerAddress)
    return {};
  const std::string range = ip.empty() ? std::string() : addressRange(ip);
  Taken taken;
  if (total() >= kHttpConnections) {
    taken.evict = evictable(range);
    if (taken.evict < 0) return {};
    give(taken.evict);
  }
  taken.id = ++nextId_;
  open_[taken.id] = Open{ip, range, true};
  if (!ip.empty()) ++byAddress_[ip];
  ++byRange_[range];
  return taken;
}

// The oldest idle connection of the busiest range, if RANGE holds fewer.
int ConnectionCaps::evictable(const std::string& range) const {
  const auto mine = byRange_.find(range);
  const int held = mine == byRange_.end() ? 0 : mine->second;
  std::string busiest;
  int most = 0;
  for (const auto& count : byRange_) {
    const bool hasIdle = std::any_of(open_.begin(), open_.end(), [&](const auto& o) {
      return o.second.idle && o.second.range == count.first;
    });
    if (count.second > most && hasIdle) most = count.second, busiest = count.first;
  }
  if (most <= held + 1) return -1;  // it would only trade places with the newcomer
  for (const auto& [id, o] : open_)
    if (o.idle && o.range == busiest) return id;
  return -1;
}

void ConnectionCaps::idle(int id, bool idle) {
  if (const auto found = open_.find(id); found != open_.end()) found->second.idle = idle;
}

void ConnectionCaps::give(int id) {
  const auto found = open_.find(id);
  if (found == open_.end()) return;
  const auto drop = [](std::map<std::string, int>& counts, const std::string& key) {
    if (const auto c = counts.find(key); c != counts.end() && --c->second <= 0) counts.erase(c);
  };
  if (!found->second.ip.empty()) drop(byAddress_, found->second.ip);
  drop(byRange_, found->second.range);
  open_.erase(found);
}

std::optional<std::string> callerAddress(const std::string& peer, const std::string& proxy,
                                         const std::string& forwarded) {
  if (proxy.empty() || !sameAddress(peer, proxy)) return peer;
  const std::size_t comma = forwarded.rfind(',');
  std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
  const std::size_t from = last.find_first_not_of(" \t");
  const std::size_t to = last.find_last_not_of(" \t");
  if (from == std::string::npos) return std::nullopt;
  const auto address = plainParse(last.substr(from, to - from + 1));
  if (!address) return std::nullopt;
  return address->to_string();
}

std::optional<std::string> staticPath(const std::string& target) {
  std::string path = target.substr(0, target.find_first_of("?#"));
  if (path == "/") return "index.html";
  if (path.size() < 2 || path[0] != '/') return std::nullopt;
  path.erase(0, 1);
  char before = '/';
  for (const char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '/';
    // A name may not begin with a dot: no "..", no hidden files.
    if (!plain || (c == '.' && before == '/') || (c == '/' && before == '/')) return std::nullopt;
    before = c;
  }
  if (before == '/') return std::nullopt;
  return path;
}

std::string contentTypeOf(const std::string& path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".json", "application/json"},
  };
  for (const auto& [ending, type] : kTypes) {
    if (path.ends_with(ending)) return type;
  }
  return "application/octet-stream";
}

}  // namespace board

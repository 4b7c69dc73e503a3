// The web listener's rules: the Origin check, the connection caps, the
// proxy's rule and the static files' names.
#include "board/web_rules.h"

#include "board/net.h"
#include "simhost/text.h"

namespace board {

bool originAllowed(const std::string& origin, const std::string& host, bool tls) {
  if (origin.empty()) return true;
  if (host.empty()) return false;
  const std::string own = std::string(tls ? "https://" : "http://") + host;
  return simhost::text::equalFolded(origin, own);
}

bool ConnectionCaps::take(const std::string& ip) {
  int& mine = byAddress_[ip];
  if (total_ >= kHttpConnections || (mine >= kHttpPerAddress && !ip.empty())) {
    if (mine == 0) byAddress_.erase(ip);
    return false;
  }
  ++mine;
  ++total_;
  return true;
}

void ConnectionCaps::give(const std::string& ip) {
  const auto found = byAddress_.find(ip);
  if (found == byAddress_.end()) return;
  --total_;
  if (--found->second == 0) byAddress_.erase(found);
}

std::string callerAddress(const std::string& peer, const std::string& proxy,
                          const std::string& forwarded) {
  if (proxy.empty() || peer != proxy || forwarded.empty()) return peer;
  const std::size_t comma = forwarded.rfind(',');
  std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
  const std::size_t from = last.find_first_not_of(" \t");
  const std::size_t to = last.find_last_not_of(" \t");
  if (from == std::string::npos) return peer;
  last = last.substr(from, to - from + 1);
  error_code bad;
  const auto address = net::ip::make_address(last, bad);
  return bad ? peer : address.to_string();
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

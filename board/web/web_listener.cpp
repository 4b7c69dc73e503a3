// The web listener: the TLS pair, the connection caps that close a
// connection past them at once, and the page's files.
#include "board/web/web_listener.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/core/board.h"
#include "board/web/web_http.h"

#include <boost/asio/ssl.hpp>

namespace board {

namespace fs = std::filesystem;

WebListener::WebListener(Board& board, Endpoint where, std::vector<HttpRoute> routes, bool calls)
    : board_(board), where_(std::move(where)), routes_(std::move(routes)), calls_(calls) {}

WebListener::~WebListener() { stop(); }

void WebListener::useTls(const std::string& cert, const std::string& key) {
  auto context = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
  context->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                       net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                       net::ssl::context::no_tlsv1_1);
  const auto load = [](const char* what, const std::string& path, auto&& step) {
    const auto refuse = [&](const std::string& why) {
      throw simhost::Fatal(1, "--web-tls: the " + std::string(what) + " " + simhost::quote(path) +
                                  " cannot be used: " + why);
    };
    if (std::ifstream probe(path); !probe) refuse(std::strerror(errno));
    error_code error;
    step(error);
    if (!error) return;
    const char* reason = ERR_reason_error_string(static_cast<unsigned long>(error.value()));
    refuse(reason ? reason : error.message());
  };
  load("certificate", cert, [&](error_code& e) { context->use_certificate_chain_file(cert, e); });
  load("key", key,
       [&](error_code& e) { context->use_private_key_file(key, net::ssl::context::pem, e); });
  if (SSL_CTX_check_private_key(context->native_handle()) != 1)
    throw simhost::Fatal(1, "--web-tls: the key " + simhost::quote(key) +
                                " does not match the certificate " + simhost::quote(cert));
  tls_ = std::move(context);
}

ListenerRole WebListener::role(const char* kind, const char* flag) {
  ListenerRole role;
  role.kind = kind;
  role.flag = flag;
  role.host = where_.host;
  role.port = where_.port;
  role.deferred = [this](const Arrival& arrival) {
    return sameAddress(arrival.ip, board_.config().trustProxy);
  };
  role.room = [this](Arrival& arrival) { return room(arrival); };
  role.take = [this](net::ip::tcp::socket socket, const Arrival& arrival) {
    accepted(std::move(socket), arrival);
  };
  return role;
}

void WebListener::stop() {
  if (stopped_) return;
  stopped_ = true;
  auto open = std::move(open_);
  open_.clear();
  for (auto& [id, closer] : open) closer();
}

void WebListener::opened(int id, std::function<void()> closer) { open_[id] = std::move(closer); }

void WebListener::closed(int id) {
  open_.erase(id);
  caps_.give(id);
}

// A place among the caps (the trusted proxy's connections held only by
// the total); one may be freed for it by closing an idle connection.
bool WebListener::room(Arrival& arrival) {
  if (stopped_) return false;
  const bool proxy = sameAddress(arrival.ip, board_.config().trustProxy);
  const ConnectionCaps::Taken taken = caps_.take(proxy ? std::string() : arrival.ip);
  if (taken.id < 0) return false;
  arrival.slot = taken.id;
  if (const auto gone = open_.find(taken.evict); gone != open_.end()) {
    const auto closer = std::move(gone->second);
    open_.erase(gone);
    closer();
  }
  return true;
}

void WebListener::accepted(net::ip::tcp::socket socket, const Arrival& arrival) {
  Peer peer{arrival.ip, arrival.port, arrival.peer, arrival.local, arrival.slot};
  if (tls_)
    serveHttps(*this, *tls_, std::move(socket), std::move(peer));
  else
    serveHttp(*this, std::move(socket), std::move(peer));
}

namespace {

// The page's files: --web-root, else web/ beside the program, else the
// installed share/zorgaval/web.
std::string webRoot(const std::string& given) {
  if (!given.empty()) return given;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return "web";
  const fs::path beside = self.parent_path() / "web";
  if (fs::exists(beside / "index.html", error)) return beside.string();
  return (self.parent_path() / ".." / "share" / "zorgaval" / "web").lexically_normal().string();
}

}  // namespace

HttpRoute staticFiles(const std::string& root) {
  return [root = webRoot(root)](const HttpRequest& request) -> std::optional<HttpResponse> {
    if (request.method != "GET" && request.method != "HEAD") return std::nullopt;
    const auto path = staticPath(request.target);
    if (!path) return std::nullopt;
    // A link may point anywhere: only a file whose real path stays under
    // the root's own real path is served.
    std::error_code badFile, badRoot;
    const fs::path real = fs::canonical(fs::path(root) / *path, badFile);
    const fs::path top = fs::canonical(root, badRoot);
    if (badFile || badRoot || !fs::is_regular_file(real, badFile)) return std::nullopt;
    if (std::mismatch(top.begin(), top.end(), real.begin(), real.end()).first != top.end())
      return std::nullopt;
    std::ifstream in(real, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream body;
    body << in.rdbuf();
    HttpResponse response;
    response.contentType = contentTypeOf(*path);
    response.body = body.str();
    return response;
  };
}

}  // namespace board

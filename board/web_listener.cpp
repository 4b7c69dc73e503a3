// The web listener: its acceptor, the TLS pair, the connection caps that
// close a connection past them at once, and the page's files.
#include "board/web_listener.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/board.h"
#include "board/web_http.h"

#include <boost/asio/ssl.hpp>

namespace board {

namespace fs = std::filesystem;

WebListener::WebListener(Board& board, Endpoint where, std::vector<HttpRoute> routes, bool calls)
    : board_(board),
      where_(std::move(where)),
      routes_(std::move(routes)),
      calls_(calls),
      acceptor_(board.io()) {}

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

std::string WebListener::bind(const char* flag) {
  return listenOn(acceptor_, where_.host, where_.port, flag);
}

void WebListener::serve() {
  acceptEach(
      acceptor_, [this] { return stopped_; },
      [this](net::ip::tcp::socket socket) { accepted(std::move(socket)); });
}

void WebListener::stop() {
  if (stopped_) return;
  stopped_ = true;
  error_code ignored;
  acceptor_.close(ignored);
  auto open = std::move(open_);
  open_.clear();
  for (auto& [id, closer] : open) closer();
}

int WebListener::opened(std::function<void()> closer) {
  open_[++nextId_] = std::move(closer);
  return nextId_;
}

void WebListener::closed(int id, const std::string& capIp) {
  if (id < 0) return;
  open_.erase(id);
  caps_.give(capIp);
}

void WebListener::accepted(net::ip::tcp::socket socket) {
  error_code error;
  const auto remote = socket.remote_endpoint(error);
  if (error) return;
  Peer peer{plainAddress(remote.address()).to_string(), remote.port(), addressText(remote), {}};
  peer.capIp = peer.ip == board_.config().trustProxy ? std::string() : peer.ip;
  if (!caps_.take(peer.capIp)) return;  // past a cap: the socket closes here
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
    std::ifstream in(fs::path(root) / *path, std::ios::binary);
    std::error_code error;
    if (!in || !fs::is_regular_file(fs::path(root) / *path, error)) return std::nullopt;
    std::ostringstream body;
    body << in.rdbuf();
    HttpResponse response;
    response.contentType = contentTypeOf(*path);
    response.body = body.str();
    if (request.method == "HEAD") response.body.clear();
    return response;
  };
}

}  // namespace board

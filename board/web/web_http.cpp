// One HTTP connection of the web listener: the TLS handshake if any, then
// requests read within the listener's limits, each checked by the
// listener's rules and answered by the first route that takes it, an
// upgrade to /ws handed to the board as a call.
#include <deque>

#include "board/core/board.h"
#include "board/web/web_http.h"
#include "board/web/web_stream.h"

namespace board {

namespace {

constexpr std::size_t kStreamBacklog =
    std::size_t{256} * 1024;  // a watcher this far behind is dropped

template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
 public:
  HttpSession(WebListener& site, Stream stream, Peer peer)
      : site_(site), stream_(std::move(stream)), peer_(std::move(peer)) {}

  void start();

 private:
  void readRequest();
  void received(const error_code& error);
  void answer(const WebRequest& request, const HttpRequest& asked);
  void toCall(WebRequest request, const HttpRequest& asked);
  void respond(const WebRequest& request, HttpResponse answer);
  void defer(const WebRequest& request, const std::function<void(HttpAnswer, Waiting)>& later);
  void watchGone();
  void streamTo(const std::function<void(EventSink)>& stream);
  bool push(const std::string& chunk);
  void pushNext();
  void finish();

  WebListener& site_;
  Stream stream_;
  Peer peer_;
  int id_ = -1;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::deque<std::string> events_;  // a stream's chunks not yet written
  std::size_t backlog_ = 0;
  bool writingEvent_ = false;
  bool ending_ = false;                     // the stream's route has ended it
  bool head_ = false;                       // the request being answered is a HEAD
  bool closeAfter_ = false;                 // a deferred answer: the connection closes after it
  std::optional<net::steady_timer> limit_;  // for a deferred answer
  bool done_ = false;
  char probe_ = 0;  // a streaming client's next byte, read only to see it go
};

template <class Stream>
void HttpSession<Stream>::start() {
  id_ = peer_.id;
  site_.opened(id_, [weak = this->weak_from_this()] {
    if (auto self = weak.lock()) self->finish();
  });
  beast::get_lowest_layer(stream_).expires_after(kHeadTime);
  if constexpr (std::is_same_v<Stream, TlsStream>) {
    stream_.async_handshake(net::ssl::stream_base::server,
                            [self = this->shared_from_this()](const error_code& error) {
                              if (error) return self->finish();
                              self->readRequest();
                            });
  } else {
    readRequest();
  }
}

template <class Stream>
void HttpSession<Stream>::readRequest() {
  site_.idle(id_, true);
  parser_.emplace();
  parser_->header_limit(kHeadLimit);
  parser_->body_limit(kBodyLimit);
  beast::get_lowest_layer(stream_).expires_after(kHeadTime);
  http::async_read(stream_, buffer_, *parser_,
                   [self = this->shared_from_this()](const error_code& error, std::size_t) {
                     self->received(error);
                   });
}

template <class Stream>
void HttpSession<Stream>::received(const error_code& error) {
  if (error || done_) return finish();  // past a limit, slow, or gone: closed
  site_.idle(id_, false);
  WebRequest request = parser_->release();
  HttpRequest asked;
  asked.method = std::string(request.method_string());
  asked.target = std::string(request.target());
  for (const auto& field : request) {
    std::string name(field.name_string());
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string& value = asked.headers[name];
    value += (value.empty() ? "" : ",") + std::string(field.value());
  }
  asked.body = request.body();
  // HEAD is answered as GET is, the body left out.
  head_ = asked.method == "HEAD";
  if (head_) asked.method = "GET";
  const Config& config = site_.board().config();
  if (!hostAllowed(asked.header("host"), config.webHosts, peer_.local))
    return respond(request, textAnswer(421, "This board is not reached by that name.\n"));
  const auto ip = callerAddress(peer_.ip, config.trustProxy, asked.header("x-forwarded-for"));
  if (!ip) return respond(request, textAnswer(400, "The proxy named no client address.\n"));
  asked.ip = *ip;
  // Behind the trusted proxy the page's scheme is the proxy's.
  const bool proxied = sameAddress(peer_.ip, config.trustProxy);
  asked.tls = std::is_same_v<Stream, TlsStream> ||
              (proxied && asked.header("x-forwarded-proto") == "https");
  answer(request, asked);
}

template <class Stream>
void HttpSession<Stream>::answer(const WebRequest& request, const HttpRequest& asked) {
  const std::string path = asked.target.substr(0, asked.target.find('?'));
  if (site_.calls() && path == "/ws") {
    if (!websocket::is_upgrade(request))
      return respond(request, textAnswer(426, "A WebSocket only.\n"));
    if (!originAllowed(asked.header("origin"), asked.header("host"), asked.tls))
      return respond(request, textAnswer(403, "Not from this page.\n"));
    return toCall(request, asked);
  }
  for (const HttpRoute& route : site_.routes()) {
    auto found = route(asked);
    if (found && found->later) return defer(request, found->later);
    if (found) return respond(request, std::move(*found));
  }
  respond(request, textAnswer(404, "Not found.\n"));
}

template <class Stream>
void HttpSession<Stream>::toCall(WebRequest request, const HttpRequest& asked) {
  Board& board = site_.board();
  if (board.stopping()) return finish();
  // A call is no HTTP connection: it leaves the caps for the call's own.
  site_.closed(id_);
  done_ = true;
  const bool six = asked.ip.find(':') != std::string::npos;
  const std::string where = asked.ip == peer_.ip ? peer_.address
                            : six ? "[" + asked.ip + "]:" + std::to_string(peer_.port)
                                  : asked.ip + ":" + std::to_string(peer_.port);
  upgrade(std::move(stream_), std::move(request), board.config().charset,
          [&board, where, ip = asked.ip](std::unique_ptr<Transport> transport) {
            if (!board.stopping()) board.admit(std::move(transport), where, ip);
          });
}

template <class Stream>
void HttpSession<Stream>::respond(const WebRequest& request, HttpResponse answer) {
  auto out = std::make_shared<http::response<http::string_body>>(
      static_cast<http::status>(answer.status), request.version());
  out->set(http::field::content_type, answer.contentType);
  for (const auto& [name, value] : answer.headers) out->set(name, value);
  // The terminal's renderer sets its styles inline: a page may have them,
  // nothing may load from elsewhere or run unless it came from here. A
  // route's own policy (the console's frame-ancestors) stands.
  const bool page = answer.contentType.starts_with("text/html");
  if (out->find("Content-Security-Policy") == out->end())
    out->set("Content-Security-Policy",
             page ? "default-src 'self'; style-src 'self' 'unsafe-inline'" : "default-src 'self'");
  out->set("X-Content-Type-Options", "nosniff");
  const std::size_t length = answer.body.size();
  if (!head_) out->body() = std::move(answer.body);
  if (head_) answer.stream = nullptr;  // the head of a stream, and no stream
  const bool streaming = static_cast<bool>(answer.stream);
  const bool again = request.keep_alive() && !streaming && answer.status < 400 && !closeAfter_;
  out->keep_alive(again);
  if (streaming || (head_ && answer.contentType == "text/event-stream"))
    out->set(http::field::cache_control, "no-cache");
  else if (head_)
    out->content_length(length);
  else
    out->prepare_payload();
  beast::get_lowest_layer(stream_).expires_after(kHeadTime);
  http::async_write(stream_, *out,
                    [self = this->shared_from_this(), out, again,
                     stream = std::move(answer.stream)](const error_code& error, std::size_t) {
                      if (error) return self->finish();
                      if (stream) return self->streamTo(stream);
                      if (again) return self->readRequest();
                      self->finish();
                    });
}

// An answer the route gives later (a password on the hashing workers): the
// connection waits for it, to its own limit, reading nothing meanwhile.
template <class Stream>
void HttpSession<Stream>::defer(const WebRequest& request,
                                const std::function<void(HttpAnswer, Waiting)>& later) {
  closeAfter_ = true;
  limit_.emplace(stream_.get_executor(), kAnswerTime);
  limit_->async_wait([weak = this->weak_from_this()](const error_code& error) {
    if (auto self = weak.lock(); self && !error) self->finish();
  });
  watchGone();
  auto asked = std::make_shared<WebRequest>(request);
  std::weak_ptr<HttpSession> weak = this->shared_from_this();
  later(
      [self = this->shared_from_this(), asked](HttpResponse answer) {
        if (self->limit_) self->limit_->cancel();
        if (!self->done_) self->respond(*asked, std::move(answer));
      },
      [weak] {
        const auto self = weak.lock();
        return self && !self->done_;
      });
}

// While an answer is awaited the client sends nothing more that matters: a
// read that ends (the client gone) ends the connection, and what a client
// sends meanwhile is kept unread, since the connection closes after the
// answer.
template <class Stream>
void HttpSession<Stream>::watchGone() {
  stream_.async_read_some(buffer_.prepare(512),
                          [weak = this->weak_from_this()](const error_code& error, std::size_t n) {
                            const auto self = weak.lock();
                            if (!self) return;
                            if (error) return self->finish();
                            self->buffer_.commit(n);
                          });
}

// The head and the first body are out: what follows goes through the sink
// until the client goes, which a read on its side notices.
template <class Stream>
void HttpSession<Stream>::streamTo(const std::function<void(EventSink)>& stream) {
  beast::get_lowest_layer(stream_).expires_never();
  net::async_read(
      stream_, net::buffer(&probe_, 1),
      [self = this->shared_from_this()](const error_code&, std::size_t) { self->finish(); });
  stream([weak = this->weak_from_this()](const std::string& chunk) {
    const auto self = weak.lock();
    return self && self->push(chunk);
  });
}

template <class Stream>
bool HttpSession<Stream>::push(const std::string& chunk) {
  if (done_) return false;
  if (chunk.empty()) {
    ending_ = true;
    pushNext();
    return false;
  }
  if (backlog_ + chunk.size() > kStreamBacklog) {
    finish();
    return false;
  }
  backlog_ += chunk.size();
  events_.push_back(chunk);
  pushNext();
  return true;
}

template <class Stream>
void HttpSession<Stream>::pushNext() {
  if (ending_ && !writingEvent_ && events_.empty()) return finish();
  if (writingEvent_ || events_.empty() || done_) return;
  writingEvent_ = true;
  net::async_write(stream_, net::buffer(events_.front()),
                   [self = this->shared_from_this()](const error_code& error, std::size_t) {
                     self->writingEvent_ = false;
                     self->backlog_ -= self->events_.front().size();
                     self->events_.pop_front();
                     if (error) return self->finish();
                     self->pushNext();
                   });
}

template <class Stream>
void HttpSession<Stream>::finish() {
  if (done_) return;
  done_ = true;
  site_.closed(id_);
  if (limit_) limit_->cancel();
  error_code ignored;
  beast::get_lowest_layer(stream_).socket().shutdown(net::socket_base::shutdown_both, ignored);
  beast::get_lowest_layer(stream_).close();
}

}  // namespace

void serveHttp(WebListener& site, net::ip::tcp::socket socket, Peer peer) {
  std::make_shared<HttpSession<PlainStream>>(site, PlainStream(std::move(socket)), std::move(peer))
      ->start();
}

void serveHttps(WebListener& site, net::ssl::context& tls, net::ip::tcp::socket socket, Peer peer) {
  std::make_shared<HttpSession<TlsStream>>(site, TlsStream(std::move(socket), tls), std::move(peer))
      ->start();
}

}  // namespace board

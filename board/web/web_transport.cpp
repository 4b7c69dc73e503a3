// A caller over WebSocket: binary messages carry the board's bytes both
// ways, text messages the page's control messages (the character set to
// the page, the window's size from it); a Close frame ends the call at
// once. A write completes only once the stream has taken its bytes, so a
// page that stops reading fills the call's queue and the call ends as an
// overflow.
#include <deque>

#include "board/web/web_rules.h"
#include "board/web/web_stream.h"

namespace board {

std::optional<Window> windowMessage(std::string_view text) {
  auto field = [text](std::string_view name) -> int {
    const std::size_t at = text.find(name);
    if (at == std::string_view::npos) return 0;
    std::size_t i = text.find_first_not_of(" \t\":", at + name.size());
    long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && n <= 1000; ++i)
      n = n * 10 + (text[i] - '0');
    return n >= 1 && n <= 1000 ? static_cast<int>(n) : 0;
  };
  if (text.empty() || text.front() != '{' || text.back() != '}') return std::nullopt;
  const Window window{field("\"cols\""), field("\"rows\"")};
  if (window.columns == 0 || window.rows == 0) return std::nullopt;
  return window;
}

void takeMessage(LineLayer& lines, bool text, std::string_view message) {
  if (!text) {
    lines.receive(message);
  } else if (const auto window = windowMessage(message)) {
    lines.resized(*window);
  }
}

namespace {

template <class Stream>
class WebTransport final : public Transport {
 public:
  WebTransport(Stream stream, bool tls) : ws_(std::move(stream)), tls_(tls) {
    error_code ignored;
    auto& socket = beast::get_lowest_layer(ws_).socket();
    socket.set_option(net::socket_base::send_buffer_size(kSendBuffer), ignored);
    socket.set_option(net::ip::tcp::no_delay(true), ignored);
    beast::get_lowest_layer(ws_).expires_never();  // the WebSocket's own limits from here
    ws_.read_message_max(kFrameLimit);
    websocket::stream_base::timeout limits{};
    limits.handshake_timeout = kHeadTime;
    limits.idle_timeout = websocket::stream_base::none();  // the call's own time-outs rule
    limits.keep_alive_pings = false;
    ws_.set_option(limits);
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
      response.set("Content-Security-Policy", "default-src 'self'");
      response.set("X-Content-Type-Options", "nosniff");
    }));
    // A Close frame ends the call at once: the read would otherwise wait
    // for the client's TCP close, which it need never send.
    ws_.control_callback([this, alive = alive_](websocket::frame_type kind, beast::string_view) {
      if (kind != websocket::frame_type::close) return;
      net::post(ws_.get_executor(), [this, alive] {
        if (*alive) close();
      });
    });
  }
  ~WebTransport() override { *alive_ = false; }

  void accept(WebRequest request, Charset charset, std::unique_ptr<Transport> self,
              Accepted accepted) {
    hello_ =
        std::string("{\"charset\":\"") + (charset == Charset::Cp437 ? "cp437" : "utf-8") + "\"}";
    ws_.async_accept(request, [this, self = std::move(self),
                               accepted = std::move(accepted)](const error_code& error) mutable {
      if (error) return;  // SELF goes, and the connection with it
      sayHello();
      accepted(std::move(self));
    });
  }

  const char* kind() const override { return tls_ ? "wss" : "ws"; }
  LineLayer& lines() override { return lines_; }
  void read(net::mutable_buffer into, ReadDone done) override;
  void write(net::const_buffer bytes, WriteDone done) override {
    if (helloSending_) {  // one write at a time: this one waits for the hello
      waiting_ = [this, bytes, done = std::move(done)]() mutable { write(bytes, std::move(done)); };
      return;
    }
    ws_.binary(true);
    ws_.async_write(
        bytes, [done = std::move(done)](const error_code& error, std::size_t) { done(error); });
  }
  void shutSend() override {
    ws_.async_close(websocket::close_code::normal, [](const error_code&) {});
  }
  void close() override {
    error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

 private:
  void sayHello() {
    helloSending_ = true;
    ws_.text(true);
    ws_.async_write(net::buffer(hello_), [this](const error_code&, std::size_t) {
      helloSending_ = false;
      if (auto next = std::move(waiting_)) next();
    });
  }

  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  websocket::stream<Stream> ws_;
  bool tls_;
  PlainLine lines_;
  beast::flat_buffer incoming_;  // a binary message not yet handed to the call
  std::string hello_;
  bool helloSending_ = false;
  std::function<void()> waiting_;
};

template <class Stream>
void WebTransport<Stream>::read(net::mutable_buffer into, ReadDone done) {
  if (incoming_.size() > 0) {
    const std::size_t n = net::buffer_copy(into, incoming_.data());
    incoming_.consume(n);
    net::post(ws_.get_executor(), [done = std::move(done), n] { done(error_code(), n); });
    return;
  }
  ws_.async_read(incoming_, [this, into, done = std::move(done)](const error_code& error,
                                                                 std::size_t) mutable {
    if (error) return done(error, 0);
    if (ws_.got_text()) {
      const auto data = incoming_.cdata();
      takeMessage(lines_, true, {static_cast<const char*>(data.data()), data.size()});
      incoming_.clear();
    }
    read(into, std::move(done));  // the bytes just read, or the next message
  });
}

}  // namespace

template <class Stream>
void upgrade(Stream stream, WebRequest request, Charset charset, Accepted accepted) {
  constexpr bool tls = !std::is_same_v<Stream, PlainStream>;
  auto transport = std::make_unique<WebTransport<Stream>>(std::move(stream), tls);
  auto& ws = *transport;
  ws.accept(std::move(request), charset, std::move(transport), std::move(accepted));
}

template void upgrade<PlainStream>(PlainStream, WebRequest, Charset, Accepted);
template void upgrade<TlsStream>(TlsStream, WebRequest, Charset, Accepted);

}  // namespace board

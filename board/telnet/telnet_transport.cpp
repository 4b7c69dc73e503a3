// Telnet over a TCP socket: the socket's reads and writes, a small kernel
// send buffer, and the telnet layer.
#include "board/core/transport.h"
#include "board/telnet/telnet.h"

namespace board {

namespace {

class TelnetTransport final : public Transport {
 public:
  explicit TelnetTransport(net::ip::tcp::socket socket) : socket_(std::move(socket)) {
    error_code ignored;
    socket_.set_option(net::socket_base::send_buffer_size(kSendBuffer), ignored);
    socket_.set_option(net::ip::tcp::no_delay(true), ignored);
  }
  const char* kind() const override { return "telnet"; }
  LineLayer& lines() override { return telnet_; }
  void read(net::mutable_buffer into, ReadDone done) override {
    socket_.async_read_some(into, std::move(done));
  }
  void write(net::const_buffer bytes, WriteDone done) override {
    net::async_write(
        socket_, bytes,
        [done = std::move(done)](const error_code& error, std::size_t) { done(error); });
  }
  void shutSend() override {
    error_code ignored;
    socket_.shutdown(net::socket_base::shutdown_send, ignored);
  }
  void close() override {
    error_code ignored;
    socket_.close(ignored);
  }

 private:
  net::ip::tcp::socket socket_;
  TelnetLine telnet_;
};

}  // namespace

std::unique_ptr<Transport> telnetTransport(net::ip::tcp::socket socket) {
  return std::make_unique<TelnetTransport>(std::move(socket));
}

}  // namespace board

// Fuzzes what comes through a caller's WebSocket into the call: the bytes
// are the client's side of the stream after the handshake, read by Beast
// with the listener's message limit, each message handed to the call's
// line layer as the transport hands it. No message may pass the limit,
// no line the cap, no window the size message's bounds, and what the
// board keeps of a line is text of its character set.
#include <cstddef>
#include <cstdint>
#include <string>

#include "board/caller/charset.h"
#include "board/web/web_rules.h"
#include "board/web/web_stream.h"
#include "refusals.h"

#include <boost/beast/_experimental/test/stream.hpp>

namespace {

board::WebRequest upgradeRequest() {
  board::WebRequest request{board::http::verb::get, "/ws", 11};
  request.set(board::http::field::host, "127.0.0.1");
  request.set(board::http::field::upgrade, "websocket");
  request.set(board::http::field::connection, "Upgrade");
  request.set(board::http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
  request.set(board::http::field::sec_websocket_version, "13");
  return request;
}

void checkLines(board::PlainLine& lines, board::Charset charset) {
  board::Line line;
  while (lines.nextLine(&line)) {
    if (line.text.size() > board::kLineCap) fuzzFail("line past the cap", line.text);
    const std::string kept = board::keepTyped(line.text, charset, line.cut);
    for (const char c : kept) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) fuzzFail("control kept", kept);
    }
  }
  const board::Window w = lines.window();
  if (w.columns < 0 || w.columns > 1000 || w.rows < 0 || w.rows > 1000)
    fuzzFail("window out of bounds", std::to_string(w.columns) + "x" + std::to_string(w.rows));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  net::io_context io;
  board::websocket::stream<board::beast::test::stream> ws(io);
  board::beast::test::stream client(io);
  ws.next_layer().connect(client);
  board::error_code error;
  ws.read_message_max(board::kFrameLimit);
  ws.accept(upgradeRequest(), error);
  if (error) fuzzFail("handshake", error.message());
  ws.next_layer().append({reinterpret_cast<const char*>(data), size});
  client.close();
  const board::Charset charset = size % 2 ? board::Charset::Cp437 : board::Charset::Utf8;
  board::PlainLine lines;
  board::beast::flat_buffer message;
  for (int n = 0; n < 10000; ++n) {
    ws.read(message, error);
    if (error) break;
    if (message.size() > board::kFrameLimit) fuzzFail("message past the limit", "");
    const auto bytes = message.cdata();
    board::takeMessage(lines, ws.got_text(),
                       {static_cast<const char*>(bytes.data()), bytes.size()});
    message.clear();
    checkLines(lines, charset);
    lines.takeOutput();
  }
  return 0;
}

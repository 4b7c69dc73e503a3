// The web listener's streams, plain and under TLS, and the hand-over of an
// upgrade request to the caller's WebSocket transport. Beast's types stay
// in the web listener's files; the call sees only a Transport.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "board/core/net.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

#include "board/caller/charset.h"
#include "board/core/transport.h"

namespace board {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;
using WebRequest = http::request<http::string_body>;

// The caller's window from the page's size message, {"cols":C,"rows":R}
// (1 to 1000 each, in either order), or nothing for any other text.
std::optional<Window> windowMessage(std::string_view text);

// Answers REQUEST (an upgrade to /ws already read from STREAM) with the
// WebSocket handshake; the caller's transport to ACCEPTED, or nothing
// there if the handshake fails. CHARSET is told to the page first.
using Accepted = std::function<void(std::unique_ptr<Transport>)>;
template <class Stream>
void upgrade(Stream stream, WebRequest request, Charset charset, Accepted accepted);

// What a WebSocket caller's messages do to LINES: a binary message's bytes
// typed, a text message read as the page's size message. For the fuzz
// target as for the transport.
void takeMessage(LineLayer& lines, bool text, std::string_view message);

}  // namespace board

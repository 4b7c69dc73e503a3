// The board's network library: Boost.Asio, under the short name `net` that
// Beast's own code uses. g++ 12 needs <utility> before Asio's coroutine
// headers (std::exchange).
#pragma once

#include <utility>

#include <boost/asio.hpp>

namespace net = boost::asio;

namespace board {
using error_code = boost::system::error_code;
}

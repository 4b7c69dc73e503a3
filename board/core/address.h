// A peer's address as every rule, line and table of the board names it.
#pragma once

#include <string>

#include "board/core/net.h"

namespace board {

// An IPv4 caller on a dual-stack listener is a.b.c.d, never ::ffff:a.b.c.d.
net::ip::address plainAddress(const net::ip::address& a);
// "IP:PORT" of the plain address, in brackets for IPv6.
std::string addressText(const net::ip::tcp::endpoint& e);

}  // namespace board

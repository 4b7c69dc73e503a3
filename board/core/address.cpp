// Addresses unmapped and written the one way.
#include "board/core/address.h"

namespace board {

net::ip::address plainAddress(const net::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return net::ip::make_address_v4(net::ip::v4_mapped, a.to_v6());
  return a;
}

std::string addressText(const net::ip::tcp::endpoint& e) {
  const net::ip::address a = plainAddress(e.address());
  const std::string host = a.is_v6() ? "[" + a.to_string() + "]" : a.to_string();
  return host + ":" + std::to_string(e.port());
}

}  // namespace board

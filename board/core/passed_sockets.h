// The listening sockets systemd passes (socket activation), each named by
// its socket unit's FileDescriptorName=: telnet, ssh, web or metrics. A
// listener with a socket passed takes it instead of binding its address,
// so ports below 1024 need no privilege of the board's.
#pragma once

#include "board/core/config.h"
#include "board/core/net.h"

namespace board {

// The sockets passed to the process, taken once at the start (and the
// environment that named them cleared); simhost::Fatal(2) for one whose
// name the board does not know, given twice, or not a listening TCP socket.
void takePassedSockets();

// CONFIG with each listener that was passed a socket turned on at that
// socket's address: done at the start and again at each reload, so a
// reload compares like with like.
void withPassedSockets(Config& config);

// ACCEPTOR given the socket passed for the listener of FLAG ("--listen",
// "--ssh", "--web", "--metrics"); false when none was.
bool adoptPassedSocket(net::ip::tcp::acceptor& acceptor, const char* flag);

}  // namespace board

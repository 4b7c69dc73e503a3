// The transport a call talks to once an SSH caller has a shell channel,
// over the link that carries his connection.
#pragma once

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <functional>
#include <memory>

#include "board/core/transport.h"
#include "board/ssh/ssh_link.h"

namespace board {

// A caller with a shell channel on LINK, the pty's size already in WINDOW.
std::unique_ptr<Transport> sshTransport(std::shared_ptr<SshLink> link, Window window);

// A window-change or other request on a channel already in use: answered,
// the new size into LINES.
void sshChannelRequest(ssh_message message, LineLayer& lines);

}  // namespace board

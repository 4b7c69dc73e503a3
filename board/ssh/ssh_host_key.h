// The board's SSH host key: DIR's ssh_host_ed25519_key, made at the first
// start and kept, so a caller's client never sees it change; a key file
// that cannot be used stops the start rather than being replaced.
#pragma once

#include <libssh/libssh.h>

#include <string>

namespace board {

inline constexpr char kHostKeyFile[] = "ssh_host_ed25519_key";

struct HostKey {
  ssh_key key = nullptr;    // the private key, for the listener's bind
  std::string fingerprint;  // "SHA256:..." as OpenSSH prints it
  bool made = false;        // made at this start
};

// The key at PATH, or a new one written there (mode 0600) when there is
// none; throws simhost::Fatal(1) naming PATH and what is wrong with it.
HostKey loadHostKey(const std::string& path);

}  // namespace board

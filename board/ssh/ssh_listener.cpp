// The SSH listener's algorithms offered, and the handshakes in progress
// counted, in all and by address.
#include "board/ssh/ssh_listener.h"

#include "board/core/board.h"
#include "board/ssh/ssh_handshake.h"
#include "simhost/event.h"

namespace board {

namespace {

// libssh's modern choices, named so that --ssh-legacy only adds to them.
const char kCiphers[] =
    "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com,"
    "aes256-ctr,aes192-ctr,aes128-ctr";
const char kLegacyCiphers[] = ",aes256-cbc,aes192-cbc,aes128-cbc";
// Key exchanges whose cost on the loop is bounded whatever the client
// sends (curve25519 about 1 ms, nistp521 the dearest of them); the
// Diffie-Hellman groups, up to 200 ms of the loop each for group18, only
// for old clients.
const char kKex[] =
    "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,"
    "ecdh-sha2-nistp521";
const char kLegacyKex[] =
    ",diffie-hellman-group18-sha512,diffie-hellman-group16-sha512,diffie-hellman-group14-sha256,"
    "diffie-hellman-group14-sha1,diffie-hellman-group1-sha1";
const char kMacs[] =
    "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,hmac-sha2-512";
const char kLegacyMacs[] = ",hmac-sha1";

}  // namespace

SshListener::SshListener(Board& board, const Config& config, ssh_key key)
    : board_(board), config_(config), bind_(ssh_bind_new()) {
  bool no = false;
  ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_PROCESS_CONFIG, &no);  // the board's own choices
  ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_IMPORT_KEY, key);
  ssh_bind_set_blocking(bind_, 0);
  setAlgorithms(config.sshLegacy);
}

SshListener::~SshListener() { ssh_bind_free(bind_); }

void SshListener::setAlgorithms(bool legacy) {
  const std::string ciphers = std::string(kCiphers) + (legacy ? kLegacyCiphers : "");
  const std::string kex = std::string(kKex) + (legacy ? kLegacyKex : "");
  const std::string macs = std::string(kMacs) + (legacy ? kLegacyMacs : "");
  const bool ok =
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_CIPHERS_C_S, ciphers.c_str()) == 0 &&
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_CIPHERS_S_C, ciphers.c_str()) == 0 &&
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_KEY_EXCHANGE, kex.c_str()) == 0 &&
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_HMAC_C_S, macs.c_str()) == 0 &&
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_HMAC_S_C, macs.c_str()) == 0 &&
      ssh_bind_options_set(bind_, SSH_BIND_OPTIONS_HOSTKEY_ALGORITHMS, "ssh-ed25519") == 0;
  if (!ok) throw simhost::Fatal(1, "zorgaval-board: libssh refuses the SSH algorithms");
}

ListenerRole SshListener::role() {
  ListenerRole role;
  role.kind = "ssh";
  role.flag = "--ssh";
  role.host = config_.sshHost;
  role.port = config_.sshPort;
  // Past the limits on handshakes the connection is closed before any
  // work is done for it.
  role.room = [this](Arrival& arrival) {
    const auto mine = perAddress_.find(arrival.ip);
    return inProgress_.size() < kSshStartups &&
           (mine == perAddress_.end() || mine->second < kSshStartupsPerAddress);
  };
  role.take = [this](net::ip::tcp::socket socket, const Arrival& arrival) {
    accepted(std::move(socket), arrival);
  };
  return role;
}

void SshListener::accepted(net::ip::tcp::socket socket, const Arrival& arrival) {
  auto link = std::make_shared<SshLink>(std::move(socket));
  auto handshake = std::make_shared<SshHandshake>(*this, board_, link, arrival.peer, arrival.ip);
  inProgress_.insert(handshake);
  ++perAddress_[arrival.ip];
  handshake->start(bind_);
}

void SshListener::ended(const std::shared_ptr<SshHandshake>& handshake) {
  if (inProgress_.erase(handshake) == 0) return;
  if (--perAddress_[handshake->ip()] <= 0) perAddress_.erase(handshake->ip());
}

void SshListener::stop() {
  const auto all = inProgress_;
  for (const auto& handshake : all) handshake->finish("The board is going down now.");
}

}  // namespace board

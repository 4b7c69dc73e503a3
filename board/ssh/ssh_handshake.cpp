// An SSH caller's way in: key exchange, then password or keyboard-
// interactive (no none, no public keys), checked like a telnet caller's
// password off the loop; then the session channel, its pty and the shell,
// and the caller goes to the board with his user-id already checked.
#include "board/ssh/ssh_handshake.h"

#include <unistd.h>

#include <cstring>

#include "board/caller/logon_gate.h"
#include "board/caller/userid.h"
#include "board/core/board.h"
#include "board/ssh/ssh_listener.h"
#include "simhost/text.h"

namespace board {

namespace {

constexpr int kMethods = SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE;
const char kSignUpWord[] = "new";
const char kTooMany[] = "Too many failed log-ons from your address. Please call back later.";
// A client sends nothing on its channel before the shell but what fits the
// window libssh first gives it (32,000 bytes); one that sends more is
// ignoring the window and is let go before it costs memory.
constexpr int kBeforeShell = 64 * 1024;
// A password request's payload beside its user name and password: the
// message's type, the service "ssh-connection", the method "password", a
// flag and the four lengths; an answer to the Password: prompt's beside
// its text: the type, the count and its length.
constexpr std::size_t kPasswordFrame = 1 + 4 + 14 + 4 + 8 + 1 + 4 + 4;
constexpr std::size_t kAnswerFrame = 1 + 4 + 4;

}  // namespace

SshHandshake::SshHandshake(SshListener& listener, Board& board, std::shared_ptr<SshLink> link,
                           std::string peer, std::string ip)
    : listener_(listener),
      board_(board),
      link_(std::move(link)),
      peer_(std::move(peer)),
      ip_(std::move(ip)),
      grace_(board.io()) {}

void SshHandshake::start(ssh_bind bind) {
  const int fd = link_->takeLibsshEnd();
  if (fd < 0 || ssh_bind_accept_fd(bind, link_->session(), fd) != SSH_OK) {
    if (fd >= 0) ::close(fd);
    finish();
    return;
  }
  ssh_set_blocking(link_->session(), 0);
  ssh_set_auth_methods(link_->session(), kMethods);
  // A board whose prompt time-out is shorter holds SSH callers to it too.
  armGrace(std::min<std::chrono::seconds>(kSshGrace,
                                          std::chrono::seconds(board_.config().promptSeconds)));
  link_->onStep([weak = std::weak_ptr<SshHandshake>(shared_from_this())] {
    if (auto self = weak.lock()) self->step();
  });
  step();
}

void SshHandshake::armGrace(std::chrono::steady_clock::duration left) {
  grace_.expires_after(left);
  grace_.async_wait([self = shared_from_this()](const error_code& error) {
    if (!error) self->finish("Time is up.");
  });
}

// While a password is checked nothing is read: the check's answer steps
// again, and a client that left meanwhile is seen then.
void SshHandshake::step() {
  if (state_ == State::Checking || state_ == State::Done) return;
  if (state_ == State::Exchange) {
    link_->feed();
    const int rc = ssh_handle_key_exchange(link_->session());
    if (rc == SSH_AGAIN) {
      link_->arm();
      return;
    }
    if (rc != SSH_OK) {
      finish();
      return;
    }
    state_ = State::Auth;
    seen_ = link_->packets();
  }
  if (!link_->pump()) {
    finish();
    return;
  }
  // While a password is checked the next requests wait in libssh.
  while (state_ == State::Auth || state_ == State::Authed) {
    ssh_message next = ssh_message_get(link_->session());  // may read too
    const ssh_counter_struct now = link_->packets();
    if (!next) {
      seen_ = now;  // all taken: what came held no request
      break;
    }
    // One packet come since a request was last taken (read by the pump, a
    // flush or the get): its size is this request's.
    packetSize_ = now.in_packets == seen_.in_packets + 1 ? now.in_bytes - seen_.in_bytes : 0;
    seen_ = now;
    message(next);
  }
  if (state_ != State::Done && link_->channel() &&
      ssh_channel_poll(link_->channel(), 0) + ssh_channel_poll(link_->channel(), 1) >
          kBeforeShell) {
    finish();
    return;
  }
  if (state_ != State::Done) link_->arm(state_ != State::Checking);
}

void SshHandshake::message(ssh_message m) {
  const int type = ssh_message_type(m);
  if (type == SSH_REQUEST_AUTH && state_ == State::Auth) {
    authenticate(m);
    return;
  }
  if (type == SSH_REQUEST_CHANNEL_OPEN && state_ == State::Authed && !link_->channel() &&
      ssh_message_subtype(m) == SSH_CHANNEL_SESSION) {
    link_->setChannel(ssh_message_channel_request_open_reply_accept(m));
    ssh_message_free(m);
    return;
  }
  if (type == SSH_REQUEST_CHANNEL && link_->channel()) {
    channelRequest(m);
    return;
  }
  ssh_message_reply_default(m);  // a service request is granted, the rest refused
  ssh_message_free(m);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void SshHandshake::authenticate(ssh_message m) {
  const char* user = ssh_message_auth_user(m);
  const int method = ssh_message_subtype(m);
  if (method == SSH_AUTH_METHOD_PASSWORD && user) {
    const char* typed = ssh_message_auth_password(m);
    const std::size_t size = kPasswordFrame + std::strlen(user) + (typed ? std::strlen(typed) : 0);
    password(m, user, typed ? typed : "", whole(size));
    return;
  }
  if (method == SSH_AUTH_METHOD_INTERACTIVE && user && !ssh_message_auth_kbdint_is_response(m)) {
    user_ = user;
    const char* prompts[] = {"Password: "};
    char echo[] = {0};
    ssh_message_auth_interactive_request(m, "", "", 1, prompts, echo);
    ssh_message_free(m);
    return;
  }
  if (method == SSH_AUTH_METHOD_INTERACTIVE && ssh_message_auth_kbdint_is_response(m)) {
    const bool one = ssh_userauth_kbdint_getnanswers(link_->session()) == 1;
    const char* answer = one ? ssh_userauth_kbdint_getanswer(link_->session(), 0) : nullptr;
    password(m, user_, answer ? answer : "",
             whole(kAnswerFrame + (answer ? std::strlen(answer) : 0)));
    return;
  }
  ssh_message_auth_set_methods(m, kMethods);  // none and public keys: refused
  ssh_message_reply_default(m);
  ssh_message_free(m);
}

void SshHandshake::channelRequest(ssh_message m) {
  switch (ssh_message_subtype(m)) {
    case SSH_CHANNEL_REQUEST_PTY:  // a window change before the shell is kept alike
    case SSH_CHANNEL_REQUEST_WINDOW_CHANGE:
      window_ = Window{ssh_message_channel_request_pty_width(m),
                       ssh_message_channel_request_pty_height(m)};
      ssh_message_channel_request_reply_success(m);
      break;
    case SSH_CHANNEL_REQUEST_SHELL:
      ssh_message_channel_request_reply_success(m);
      ssh_message_free(m);
      shell();
      return;
    default:
      ssh_message_reply_default(m);  // no exec, subsystem, env or forwarding
      break;
  }
  ssh_message_free(m);
}
#pragma GCC diagnostic pop

// Through the gate every caller's password passes; the requests that
// follow wait in libssh meanwhile. libssh hands the user name and the
// password over as C strings, so one with a NUL inside would read as the
// part before it. The packet's payload is longer than the strings then:
// the gate counts such a password as wrong. The size is known when the
// pump took in that one packet, as a client that waits for each answer
// sends it; one sent on the heels of another cannot be measured, and is
// counted as wrong too, rather than taken for what its strings say.
bool SshHandshake::whole(std::size_t size) const { return packetSize_ == size; }

void SshHandshake::password(ssh_message m, const std::string& name, std::string typed, bool whole) {
  // The log-on name as the User-ID prompt keeps it ("Gus  Guest " is Gus Guest).
  user_ = userIdFromTyped(name).value_or(name);
  if (whole && board_.config().newUsers && simhost::text::equalFolded(user_, kSignUpWord)) {
    forgetText(&typed);  // the sign-up asks for a password of its own
    ssh_message_auth_reply_success(m, 0);
    ssh_message_free(m);
    state_ = State::Authed;
    return;
  }
  pending_ = m;
  state_ = State::Checking;
  // The wait for a worker is not the caller's: the grace stops meanwhile.
  graceLeft_ = std::max<std::chrono::steady_clock::duration>(
      grace_.expiry() - std::chrono::steady_clock::now(), std::chrono::seconds(1));
  grace_.cancel();
  Guesser who{ip_, "ssh " + peer_, "ssh"};
  who.whole = whole;
  board_.gate().check(
      who, name, std::move(typed),
      [self = shared_from_this()](Answer answer, const std::string&) { self->checked(answer); });
}

void SshHandshake::checked(Answer answer) {
  if (state_ != State::Checking) return;  // given up meanwhile
  if (answer == Answer::Blocked) {
    finish(kTooMany);
    return;
  }
  armGrace(graceLeft_);
  ssh_message m = pending_;
  pending_ = nullptr;
  const bool good = answer == Answer::Good;
  if (good) {
    ssh_message_auth_reply_success(m, 0);
    state_ = State::Authed;
  } else {
    ssh_message_auth_set_methods(m, kMethods);
    ssh_message_reply_default(m);
    state_ = State::Auth;
  }
  ssh_message_free(m);
  if (!good && ++tries_ >= kTries) {
    link_->pump();
    finish("Too many tries. Goodbye.");
    return;
  }
  step();
}

// The caller has his shell: off the handshakes in progress, onto the board.
void SshHandshake::shell() {
  state_ = State::Done;
  grace_.cancel();
  auto self = shared_from_this();
  listener_.ended(self);
  board_.admit(sshTransport(link_, window_), peer_, ip_, user_);
}

void SshHandshake::finish(const char* why) {
  if (state_ == State::Done) return;
  state_ = State::Done;
  if (pending_) ssh_message_free(pending_);
  pending_ = nullptr;
  grace_.cancel();
  link_->close(why);
  listener_.ended(shared_from_this());
}

}  // namespace board

// The control socket, both ends: the board's server on its loop (one request
// and one reply per connection, bounded and timed) and the sysop's askBoard.
// Wire: a line of words quoted as the trace quotes; the status line, the text.
#include "board/sysop/control.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include "board/core/net.h"

#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

using Local = net::local::stream_protocol;

constexpr std::size_t kMaxRequest = std::size_t{64} * 1024;
constexpr std::size_t kMaxReply = std::size_t{4} * 1024 * 1024;
constexpr std::size_t kMaxSessions = 16;  // the sysop's commands, one at a time
constexpr auto kSessionTime = std::chrono::seconds(10);
constexpr int kClientSeconds = 30;
constexpr auto kAcceptPause = std::chrono::milliseconds(200);

std::string encodeRequest(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += simhost::quote(word);
  }
  return line + '\n';
}

// The words of a request line (without its end of line), or nothing when
// the line is not words quoted as encodeRequest quotes them.
std::optional<std::vector<std::string>> decodeRequest(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (!words.empty() && line[i++] != ' ') return std::nullopt;
    if (i >= line.size() || line[i] != '"') return std::nullopt;
    simhost::text::Unquoted word = simhost::text::unquote(line, i, false, true);
    if (word.fault != simhost::text::QuoteFault::None) return std::nullopt;
    words.push_back(std::move(word.text));
    i = word.end;
  }
  return words;
}

// What outlives the server object while the loop still holds its handlers.
struct Core {
  explicit Core(net::io_context& io, ControlHandler h)
      : acceptor(io), pause(io), handler(std::move(h)) {}
  Local::acceptor acceptor;
  net::steady_timer pause;  // between a failed accept and the next
  ControlHandler handler;
  bool open = true;
  std::list<std::weak_ptr<struct Session>> sessions;
};

struct Session : std::enable_shared_from_this<Session> {
  Session(Local::socket s, std::shared_ptr<Core> c)
      : socket(std::move(s)), deadline(socket.get_executor()), core(std::move(c)) {}

  void start() {
    auto self = shared_from_this();
    deadline.expires_after(kSessionTime);
    deadline.async_wait([self](const error_code& ec) {
      if (!ec) self->close();  // the client neither asked nor read in time
    });
    net::async_read_until(
        socket, net::dynamic_buffer(in, kMaxRequest), '\n',
        [self](const error_code& ec, std::size_t length) { self->received(ec, length); });
  }

  void received(const error_code& ec, std::size_t length) {
    if (!core->open) return close();
    if (ec == net::error::not_found) {
      return reply({2, "the request is longer than " + std::to_string(kMaxRequest) + " bytes\n"});
    }
    if (ec == net::error::eof && !in.empty()) {
      return reply({2, "the request ended before its end of line\n"});
    }
    if (ec) return close();
    const std::optional<std::vector<std::string>> words = decodeRequest(in.substr(0, length - 1));
    if (!words || words->empty()) return reply({2, "a malformed request\n"});
    Reply answer;
    try {
      answer = core->handler(*words);
    } catch (const simhost::Fatal& fatal) {
      answer = {fatal.status, std::string(fatal.what()) + "\n"};
    } catch (const std::exception& e) {
      answer = {1, std::string(e.what()) + "\n"};
    }
    reply(answer);
  }

  void reply(const Reply& answer) {
    out = std::to_string(answer.status) + "\n" + answer.text;
    auto self = shared_from_this();
    net::async_write(socket, net::buffer(out), [self](const error_code&, std::size_t) {
      error_code ignored;
      self->socket.shutdown(Local::socket::shutdown_send, ignored);
      self->close();
    });
  }

  void close() {
    error_code ignored;
    socket.close(ignored);
    deadline.cancel();
  }

  Local::socket socket;
  net::steady_timer deadline;
  std::shared_ptr<Core> core;
  std::string in, out;
};

void accept(const std::shared_ptr<Core>& core) {
  core->acceptor.async_accept([core](const error_code& ec, Local::socket socket) {
    if (!core->open) return;
    if (!ec) {
      core->sessions.remove_if([](const std::weak_ptr<Session>& s) { return s.expired(); });
      if (core->sessions.size() < kMaxSessions) {
        auto session = std::make_shared<Session>(std::move(socket), core);
        core->sessions.push_back(session);
        session->start();
      } else {
        // A few bytes into an empty local socket: written at once.
        error_code ignored;
        net::write(socket,
                   net::buffer(std::string_view("1\nthe board is busy with other"
                                                " requests; try again\n")),
                   ignored);
      }
    }
    if (ec == net::error::operation_aborted) return;
    if (!ec) return accept(core);
    // Out of descriptors, say: the connection stays queued, so accepting
    // again at once would spin. Try again a little later.
    core->pause.expires_after(kAcceptPause);
    core->pause.async_wait([core](const error_code& waited) {
      if (!waited && core->open) accept(core);
    });
  });
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

struct ControlServer::Impl {
  std::shared_ptr<Core> core;
  int dirFd = -1;        // the directory the socket is in, for removing it
  struct stat bound {};  // the socket file this server made
};

ControlServer::ControlServer(net::io_context& io, ControlHandler handler)
    : impl_(std::make_unique<Impl>()) {
  const std::string name = kControlSocket;
  struct stat found {};
  if (::lstat(kControlSocket, &found) == 0) {
    if (!S_ISSOCK(found.st_mode)) {
      throw simhost::Fatal(1, name +
                                  ": is in the way of the control socket and is not one;"
                                  " move it away");
    }
    // Only a board holding this directory makes the socket, and this one
    // holds it now, so the socket is a killed board's.
    if (::unlink(kControlSocket) != 0) {
      throw simhost::Fatal(
          1, name + ": cannot remove the stale control socket: " + std::strerror(errno));
    }
  }
  impl_->core = std::make_shared<Core>(io, std::move(handler));
  Local::acceptor& acceptor = impl_->core->acceptor;
  error_code ec;
  acceptor.open(Local(), ec);
  if (!ec) {
    // Made 0600 from the start: only the board's own user may command it.
    const mode_t before = ::umask(0177);
    acceptor.bind(Local::endpoint(kControlSocket), ec);
    ::umask(before);
  }
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw simhost::Fatal(1, name + ": cannot serve the control socket: " + ec.message());
  ::stat(kControlSocket, &impl_->bound);
  impl_->dirFd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  accept(impl_->core);
}

ControlServer::~ControlServer() {
  Core& core = *impl_->core;
  core.open = false;
  error_code ignored;
  core.acceptor.close(ignored);
  // Asio reports a failed cancel or close by throwing; the server is going
  // either way, and its socket file must still be removed below.
  try {
    core.pause.cancel();
    for (const std::weak_ptr<Session>& s : core.sessions) {
      if (auto session = s.lock()) session->close();
    }
  } catch (const std::exception&) {
  }
  if (impl_->dirFd >= 0) {
    struct stat now {};
    if (::fstatat(impl_->dirFd, kControlSocket, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(now, impl_->bound)) {
      ::unlinkat(impl_->dirFd, kControlSocket, 0);
    }
    ::close(impl_->dirFd);
  }
}

namespace {

// A connection to the board's socket in DIR: the descriptor, or nothing when
// no board runs there, or a reply saying why it cannot be reached.
struct Reached {
  int fd = -1;
  std::optional<Reply> failure;
};

Reached reachBoard(const std::string& shownDir) {
  std::string path = shownDir + "/" + kControlSocket;
  int dirFd = -1;
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    // Too long for a socket address: reach the socket through the directory
    // held open, which needs no change of this process's directory.
    dirFd = ::open(shownDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return {};
    path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + kControlSocket;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (dirFd >= 0) ::close(dirFd);
    return {-1, Reply{1, std::string("cannot make a socket: ") + std::strerror(errno) + "\n"}};
  }
  const int connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  if (dirFd >= 0) ::close(dirFd);
  if (connected != 0) {
    ::close(fd);
    // No socket, or one a killed board left: no board runs there.
    if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) return {};
    return {-1,
            Reply{1, "cannot reach the board in " + shownDir + ": " + std::strerror(error) + "\n"}};
  }
  return {fd, std::nullopt};
}

}  // namespace

std::optional<Reply> askBoard(const std::string& dir, const std::vector<std::string>& words) {
  const std::string shownDir = dir.empty() ? "." : dir;
  const Reached reached = reachBoard(shownDir);
  if (reached.fd < 0) return reached.failure;
  const int fd = reached.fd;
  const timeval limit{kClientSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

  const std::string request = encodeRequest(words);
  if (request.size() > kMaxRequest) {
    ::close(fd);
    return Reply{2, "the request is longer than " + std::to_string(kMaxRequest) + " bytes\n"};
  }
  const auto broken = [&](const char* what) {
    const std::string reason = errno == EAGAIN
                                   ? "no answer in " + std::to_string(kClientSeconds) + " seconds"
                                   : std::strerror(errno);
    ::close(fd);
    return Reply{1, "the board in " + shownDir + " " + what + ": " + reason + "\n"};
  };
  // A board too busy to take the request answers so and closes unread:
  // the request then breaks off (EPIPE, ECONNRESET), but the answer waits.
  const auto refusedUnread = [] { return errno == EPIPE || errno == ECONNRESET; };
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && refusedUnread()) break;
    if (n < 0) return broken("did not take the request");
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && refusedUnread() && !answer.empty()) break;
    if (n < 0) return broken("did not answer");
    if (n == 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
    if (answer.size() > kMaxReply) {
      errno = EMSGSIZE;
      return broken("answered too much");
    }
  }
  ::close(fd);
  const std::size_t end = answer.find('\n');
  const auto status = end == std::string::npos
                          ? std::nullopt
                          : simhost::text::readDecimal(std::string_view(answer).substr(0, end));
  if (!status || *status > 255) {
    return Reply{1, "the board in " + shownDir + " gave no answer (it may have stopped)\n"};
  }
  return Reply{static_cast<int>(*status), answer.substr(end + 1)};
}

}  // namespace board

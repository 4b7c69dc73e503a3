// Asking for a password: one line read byte by byte (no buffer keeps a
// copy), the terminal's echo off while it is typed and restored however the
// asking ends, the text wiped once hashed.
#include "board/tools/password_prompt.h"

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "board/caller/passwords.h"
#include "board/tools/accounts.h"

namespace board {

namespace {

// The board cuts longer lines, so a longer password could never be typed.
constexpr std::size_t kMaxPassword = 255;

// One line from a descriptor, without its end of line; false when the
// input ended before a line began.
bool readLine(int fd, std::string* line) {
  line->clear();
  line->reserve(kMaxPassword + 2);  // never moved, so sodium_memzero reaches every copy
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw CommandFailure{1, std::string("cannot read the password: ") + std::strerror(errno)};
    if (n == 0) break;
    any = true;
    if (c == '\n') break;
    if (line->size() <= kMaxPassword) *line += c;  // the excess is refused below
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

// The terminal's echo turned off while a password is typed, and back on
// however the asking ends: returning, throwing, or interrupted by a signal.
termios savedTerminal{};

void restoreAndRaise(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

class NoEcho {
 public:
  NoEcho() : quiet_(::tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
    if (!quiet_) return;
    struct sigaction on {};
    on.sa_handler = restoreAndRaise;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &on, &before_[i]);
    termios silent = savedTerminal;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  ~NoEcho() {
    if (!quiet_) return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (std::size_t i = 0; i < kSignals.size(); ++i)
      ::sigaction(kSignals[i], &before_[i], nullptr);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  bool quiet_;
  std::array<struct sigaction, 3> before_{};
};

std::string askTerminal(const std::string& prompt) {
  std::string line;
  bool got = false;
  {
    NoEcho silent;  // before the prompt, so nothing typed after it shows
    std::cerr << prompt << std::flush;
    got = readLine(STDIN_FILENO, &line);
  }
  if (!got) throw CommandFailure{2, "no password given"};
  return line;
}

// The password for USERID: the first line of standard input when that is
// not a terminal, else asked twice without echo. Answers its hash.
}  // namespace

std::string passwordHash(const std::string& userid) {
  std::string password;
  if (::isatty(STDIN_FILENO)) {
    password = askTerminal("Password for " + userid + ": ");
    std::string again = askTerminal("The same again: ");
    const bool same = again == password;
    sodium_memzero(again.data(), again.size());
    if (!same) {
      sodium_memzero(password.data(), password.size());
      throw CommandFailure{2, "the two passwords differ; nothing was changed"};
    }
  } else if (!readLine(STDIN_FILENO, &password)) {
    throw CommandFailure{2, "no password on standard input (its first line is the password)"};
  }
  std::string problem;
  if (password.empty()) problem = "the password is empty";
  if (password.size() > kMaxPassword) {
    problem = "the password is longer than " + std::to_string(kMaxPassword) +
              " characters, which the board cannot take on a line";
  }
  if (!problem.empty()) {
    sodium_memzero(password.data(), password.size());
    throw CommandFailure{2, problem};
  }
  std::string hash;
  try {
    hash = hashPassword(password);
  } catch (const std::exception& e) {
    sodium_memzero(password.data(), password.size());
    throw CommandFailure{1, e.what()};
  }
  sodium_memzero(password.data(), password.size());
  return hash;
}

}  // namespace board

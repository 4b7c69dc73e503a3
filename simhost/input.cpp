// Bounded reads of the inputs: the file is opened without waiting and
// examined before any byte is read, so that a FIFO is refused rather than
// blocking for ever, and reading stops at the limit.
#include "simhost/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace simhost {
namespace {

std::string kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  return "";
}

std::string tooLarge(std::size_t limit) {
  const std::string size = limit % (std::size_t{1} << 20) == 0
                               ? std::to_string(limit >> 20) + " MiB"
                               : std::to_string(limit) + " bytes";
  return "is larger than " + size + ", the most it may hold";
}

Input readAll(int fd, std::size_t limit, std::string* bytes, std::string* reason) {
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got == 0) return Input::Read;
    if (got < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      bytes->clear();
      return Input::CannotRead;
    }
    if (bytes->size() + static_cast<std::size_t>(got) > limit) {
      *reason = tooLarge(limit);
      bytes->clear();
      return Input::Refused;
    }
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace

Input readInput(const std::string& path, std::size_t limit, std::string* bytes,
                std::string* reason) {
  bytes->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int openError = errno;
    // A socket cannot be opened at all; say what it is.
    if (std::string kind = unusableKind(path); openError == ENXIO && !kind.empty()) {
      *reason = "is " + kind;
      return Input::Refused;
    }
    *reason = std::strerror(openError);
    return Input::CannotRead;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *reason = std::strerror(errno);
    return Input::CannotRead;
  }
  if (std::string kind = kindOf(info.st_mode); !kind.empty()) {
    *reason = "is " + kind;
    return Input::Refused;
  }
  if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > limit) {
    *reason = tooLarge(limit);
    return Input::Refused;
  }
  // A device (a terminal) is read blocking, as any program would.
  if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return readAll(fd, limit, bytes, reason);
}

Input readStandardInput(std::size_t limit, std::string* bytes, std::string* reason) {
  bytes->clear();
  return readAll(STDIN_FILENO, limit, bytes, reason);
}

std::string unusableKind(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  return kindOf(info.st_mode);
}

}  // namespace simhost

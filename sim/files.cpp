// Bounded, non-blocking reads of the program's inputs, the kind of a path,
// and scratch directories.
#include "sim/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sim {
namespace {

std::string kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  return "";
}

bool readFd(int fd, std::size_t limit, std::string* bytes, std::string* reason) {
  bytes->clear();
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    if (bytes->size() + static_cast<std::size_t>(n) > limit) {
      *reason = "is larger than " + sizeText(limit) + ", the most it may hold";
      bytes->clear();
      return false;
    }
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string unusableKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return kindOf(st.st_mode);
}

bool readInput(const std::string& path, std::size_t limit, std::string* bytes,
               std::string* reason) {
  if (path == "-") return readFd(0, limit, bytes, reason);
  // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  struct stat st;
  bool good = ::fstat(fd, &st) == 0;
  if (!good) {
    *reason = std::strerror(errno);
  } else if (std::string kind = kindOf(st.st_mode); !kind.empty()) {
    *reason = "is " + kind;
    good = false;
  } else {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    good = readFd(fd, limit, bytes, reason);
  }
  ::close(fd);
  return good;
}

std::string sizeText(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::string makeScratchDir(const std::string& name, std::string* reason) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    *reason = "cannot make a directory from " + pattern + ": " + std::strerror(errno);
    return "";
  }
  return buffer.data();
}

}  // namespace sim

// The working directory's lock: one host at a time in a directory. The lock
// is taken on the directory itself, before any file in it is touched, so two
// hosts starting together on a new directory never both get as far as
// creating its files; it lasts as long as the process holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "simhost/simhost.h"

namespace simhost {

namespace {

struct HeldDirectory {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  ~HeldDirectory() {
    if (fd >= 0) ::close(fd);
  }
};

HeldDirectory& held() {
  static HeldDirectory directory;
  return directory;
}

}  // namespace

void holdDirectory(const std::string& dir) {
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    throw Fatal(1, dir + ": cannot work in this directory: " + std::strerror(errno));
  }
  struct stat st {};
  HeldDirectory& h = held();
  if (::fstat(fd, &st) == 0 && h.fd >= 0 && st.st_dev == h.device && st.st_ino == h.inode) {
    ::close(fd);  // this process holds it already
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      throw Fatal(1, dir + ": in use by another host (the directory is locked)");
    }
    throw Fatal(1, dir + ": cannot lock the directory: " + std::strerror(error));
  }
  if (h.fd >= 0) ::close(h.fd);  // a host moves to another directory
  h.fd = fd;
  h.device = st.st_dev;
  h.inode = st.st_ino;
}

void releaseDirectory() {
  HeldDirectory& h = held();
  if (h.fd >= 0) ::close(h.fd);
  h.fd = -1;
}

}  // namespace simhost

// The programs' own files: scratch directories made with mkdtemp, so that
// no other process can have one first, and the built-in samples.
#include "hostprog/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "hostprog/embedded.h"
#include "hostprog/module_files.h"
#include "simhost/simhost.h"

namespace hostprog {

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

// Writes a built-in sample unless a file of that name is there already;
// O_EXCL makes "never over an existing file" hold even against a race.
// Answers 1 written, 0 already there, -1 failed (with `reason`).
int writeSample(const std::string& path, std::string_view text, std::string* reason) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return 0;
    *reason = std::strerror(errno);
    return -1;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      ::close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    *reason = std::strerror(errno);
    return -1;
  }
  return 1;
}

std::string writeSamples(const std::string& dir, std::vector<std::string>* written) {
  const std::pair<const char*, std::string_view> builtIn[] = {
      {kOptionFile, embedded::zorgaval_mcv}, {kDescriptionFile, embedded::zorgaval_mdf}};
  for (const auto& [name, text] : builtIn) {
    const std::string path = (std::filesystem::path(dir) / name).string();
    std::string reason;
    const int wrote = writeSample(path, text, &reason);
    if (wrote < 0) return "cannot write the sample " + shownPath(path) + ": " + reason;
    if (wrote > 0 && written != nullptr) written->push_back(name);
  }
  return "";
}

std::string shownPath(const std::string& path) {
  std::string quoted = simhost::quote(path);
  return quoted.compare(1, path.size(), path) == 0 && quoted.size() == path.size() + 2 ? path
                                                                                       : quoted;
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  return std::filesystem::absolute(path, ec).lexically_normal().string();
}

}  // namespace hostprog

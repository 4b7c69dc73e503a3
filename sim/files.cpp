// A new scratch directory under $TMPDIR, made with mkdtemp so that no other
// process can have it first.
#include "sim/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sim {

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

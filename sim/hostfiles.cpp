// Vetting the paths of options 28 and 29 and the inputs: a path is compared
// with each host file by its resolved name and, where both exist, by device
// and inode, so a hard link or a symlinked directory cannot hide one.
#include "sim/hostfiles.h"

#include <sys/stat.h>

#include <filesystem>

#include "sim/closing.h"
#include "simhost/input.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ea, eb;
  fs::path ca = fs::weakly_canonical(a, ea), cb = fs::weakly_canonical(b, eb);
  return (!ea && !eb) ? ca == cb : fs::path(a).lexically_normal() == fs::path(b).lexically_normal();
}

// Which host file `path` is, or "".
std::string hostFileNamed(const std::string& path, const HostFiles& files) {
  const fs::path dir(files.dir);
  const std::pair<std::string, const char*> own[] = {
      {(dir / "zorgaval.dat").string(), "the host's delay file"},
      {(dir / "accounts.dat").string(), "the host's account file"},
      {files.optionFile, "the option file in use"},
      {(dir / "ZORGAVAL.MDF").string(), "the module description file"},
  };
  for (const auto& [file, name] : own) {
    if (sameFile(path, file)) return std::string(name) + " " + shownPath(file);
    for (const char* companion : {"-wal", "-journal", "-shm"})
      if (sameFile(path, file + companion))
        return std::string("the ") + companion + " beside " + name + " " + shownPath(file);
  }
  return "";
}

}  // namespace

std::vector<std::string> vetOutputs(const simhost::ParsedOptions& options, const HostFiles& files) {
  std::vector<std::string> errors;
  const std::pair<int, const char*> outputs[] = {{28, "the event log"}, {29, "the report"}};
  for (const auto& [n, what] : outputs) {
    const std::string path = outputPath(options, n, files.dir);
    if (path.empty()) continue;
    std::string fault;
    if (std::string kind = simhost::unusableKind(path); !kind.empty())
      fault = "is " + kind + "; " + what + " must be a regular file or a device such as /dev/null";
    else if (std::string host = hostFileNamed(path, files); !host.empty())
      fault = "is " + host + "; " + what + " needs a file of its own";
    if (fault.empty()) continue;
    const simhost::OptionEntry& e = options.entries.at(n);
    errors.push_back(files.optionLabel + ":" + std::to_string(e.line) + ": option " +
                     std::to_string(n) + ": " + simhost::quote(e.value) + " " + fault);
  }
  return errors;
}

std::string vetInput(const std::string& path, const std::string& label, const std::string& what) {
  std::string kind = simhost::unusableKind(path);
  if (kind.empty()) return "";
  return shownPath(label) + ": is " + kind + "; " + what + " must be a regular file";
}

}  // namespace sim

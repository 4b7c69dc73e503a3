// Vetting the option file, the paths of options 28 and 29 and the inputs
// before anything runs or listens: a path is compared
// with each host file by its resolved name and, where both exist, by device
// and inode, so a hard link or a symlinked directory cannot hide one.
#include "hostprog/vetting.h"

#include <sys/stat.h>

#include <filesystem>

#include "hostprog/embedded.h"
#include "hostprog/files.h"
#include "hostprog/module_files.h"
#include "simhost/input.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;

namespace hostprog {
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
      {(dir / kDelayFile).string(), "the host's delay file"},
      {(dir / "accounts.dat").string(), "the host's account file"},
      {files.optionFile, "the option file in use"},
      {(dir / kDescriptionFile).string(), "the module description file"},
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

OptionFile readOptionFile(const std::string& named, const std::string& dir) {
  OptionFile f;
  f.host.dir = dir;
  f.host.optionFile = named.empty() ? (fs::path(dir) / kOptionFile).string() : absolutePath(named);
  f.host.optionLabel = named.empty() ? kOptionFile : named;
  std::string bytes;
  std::error_code ec;
  if (named.empty() && !fs::exists(fs::symlink_status(f.host.optionFile, ec))) {
    bytes = embedded::zorgaval_mcv;
    f.readable = true;
  } else {
    f.readable = simhost::readInput(f.host.optionFile, simhost::kOptionFileLimit, &bytes,
                                    &f.reason) == simhost::Input::Read;
  }
  if (f.readable) f.parsed = simhost::parseOptionFile(f.host.optionLabel, bytes);
  return f;
}

std::vector<std::string> vetFiles(const OptionFile& f) {
  std::vector<std::string> errors;
  const std::string mdf = (fs::path(f.host.dir) / kDescriptionFile).string();
  if (std::string e = vetInput(f.host.optionFile, f.host.optionLabel, "the option file");
      !e.empty())
    errors.push_back(e);
  if (std::string e = vetInput(mdf, mdf, "the module description file"); !e.empty())
    errors.push_back(e);
  // An option file that cannot be read, or holds no option at all, is one
  // line, not one for each option the module then misses.
  if (!f.readable)
    errors.push_back(shownPath(f.host.optionLabel) + ": cannot be read: " + f.reason);
  else if (f.parsed.entries.empty() && f.parsed.errors.empty())
    errors.push_back(shownPath(f.host.optionLabel) +
                     ": the option file is empty; the built-in sample is written as " +
                     kOptionFile + " into a host's directory that has none (for example " +
                     "zorgaval-sim --dir NEWDIR), or see examples/" + kOptionFile);
  if (f.readable)
    for (std::string& e : vetOutputs(f.parsed, f.host)) errors.push_back(std::move(e));
  return errors;
}

std::string outputPath(const simhost::ParsedOptions& options, int n, const std::string& dir) {
  simhost::OptionValue v = simhost::readTextOption(options, n);
  if (!v.error.empty() || v.text.empty()) return "";
  fs::path p = fs::path(v.text).is_absolute() ? fs::path(v.text) : fs::path(dir) / v.text;
  return p.lexically_normal().string();
}

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

}  // namespace hostprog

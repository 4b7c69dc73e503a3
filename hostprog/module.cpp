// Loading the module with dlopen; every failure is one line naming the file.
#include "hostprog/module.h"

#include <dlfcn.h>

#include <filesystem>

#include "hostprog/module_files.h"

namespace hostprog {

std::string moduleForExecutable(const std::filesystem::path& executable) {
  const std::filesystem::path dir = executable.parent_path();
  const std::filesystem::path beside = dir / kModuleFile;
  const std::filesystem::path installed = dir / ".." / "lib" / "zorgaval" / kModuleFile;
  std::error_code ec;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.lexically_normal().string();
  return beside.string();
}

std::string defaultModule() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return kModuleFile;
  return moduleForExecutable(self);
}

simhost::InitRoutine loadModule(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw simhost::Fatal(1, "cannot load the module " + path + ": no such file");
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw simhost::Fatal(1,
                         "cannot load the module " + path + ": " + (why ? why : "unknown reason"));
  }
  dlerror();
  void* init = dlsym(handle, kInitRoutine);
  if (init == nullptr)
    throw simhost::Fatal(1, "the module " + path + " has no " + kInitRoutine + " routine");
  return reinterpret_cast<simhost::InitRoutine>(init);
}

}  // namespace hostprog

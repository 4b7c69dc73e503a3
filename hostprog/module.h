// Finding and loading the module: the file beside the running program, or
// the installed one under ../lib/zorgaval/, unless one is named; opened with RTLD_NOW so a missing
// host service is found at once, and its start-up routine taken from it.
#pragma once

#include <filesystem>
#include <string>

#include "simhost/simhost.h"

namespace hostprog {

// Where the module lies when none is named: zorgaval.so beside EXECUTABLE
// (the build tree), else ../lib/zorgaval/zorgaval.so from it (an install);
// the one beside it when neither exists, so the error names that.
std::string moduleForExecutable(const std::filesystem::path& executable);

// moduleForExecutable() for the running program.
std::string defaultModule();

// The module's start-up routine, from a module file loaded with RTLD_NOW.
// Throws simhost::Fatal(1) with a one-line message when that fails.
simhost::InitRoutine loadModule(const std::string& path);

}  // namespace hostprog

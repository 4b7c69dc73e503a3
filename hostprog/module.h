// Finding and loading the module: the file beside the running program
// unless one is named, opened with RTLD_NOW so a missing host service is
// found at once, and its start-up routine taken from it.
#pragma once

#include <string>

#include "simhost/simhost.h"

namespace hostprog {

// Where the module lies when none is named: zorgaval.so beside the running
// executable.
std::string moduleBesideExecutable();

// The module's start-up routine, from a module file loaded with RTLD_NOW.
// Throws simhost::Fatal(1) with a one-line message when that fails.
simhost::InitRoutine loadModule(const std::string& path);

}  // namespace hostprog

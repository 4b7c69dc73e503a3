// The life of a host: a fresh host (reset), the module's start-up and
// registration, its hooks, shutdown, and reading back a data file's records
// and the option errors collected while the module started.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "simhost/event.h"
#include "simhost/internal.h"
#include "simhost/state.h"
#include "simhost/text.h"

namespace simhost {

Faults& faults() {
  static Faults current;
  return current;
}

void optionError(const std::string& text) { state.optionErrors.push_back(text); }

const std::vector<std::string>& optionErrors() { return state.optionErrors; }

void reset(const Setup& setup) {
  closeDataFiles();
  forgetWriteFailures();
  accbb = nullptr;
  if (setup.channels < 1 || setup.channels > HOST_MAX_CHANNELS) {
    throw Fatal(2, "channels: " + std::to_string(setup.channels) + " is not between 1 and " +
                       std::to_string(HOST_MAX_CHANNELS));
  }
  // A missing working directory is made, so a sysop can name a new one.
  if (!setup.dir.empty()) {
    holdDirectory(setup.dir);
    if (::chdir(setup.dir.c_str()) != 0) {
      throw Fatal(1, setup.dir + ": cannot work in this directory: " + std::strerror(errno));
    }
  }
  resetMessageFiles(setup.optionFile);
  state = HostState{};
  state.setup = setup;
  state.clock = setup.clock;
  faults() = Faults{};
  dataFileSettings() = DataFileSettings{};

  nterms = setup.channels;
  for (int n = 0; n < HOST_MAX_CHANNELS; ++n) {
    channel[n] = n < nterms ? setup.firstNumber + static_cast<unsigned>(n) : 0;
  }
  makeCurrent(0);
  othusn = 0;
  othusp = &state.channels[0];
  othuap = &state.accounts[0];
  chkpsw = hostPasswordCheck;
  accbb = dfaOpen("accounts.dat", sizeof(AccountRecord), 0);
  if (accbb == nullptr) throw Fatal(1, "accounts.dat: cannot be opened");
}

void close() {
  closeDataFiles();
  accbb = nullptr;
}

void start(InitRoutine init) {
  if (init == nullptr) throw Fatal(1, "the module has no start-up routine");
  endDataBatch(accbb);
  state.started = true;
  restoreCurrent();
  callModule("start-up routine", init);
  if (!state.optionErrors.empty()) {
    std::string all;
    for (const std::string& error : state.optionErrors) {
      if (!all.empty()) all += '\n';
      all += error;
    }
    throw Fatal(2, all);
  }
}

const ModuleRecord* registered() { return state.modules.empty() ? nullptr : state.modules.front(); }

// The line comes first, as for the clean-up: the module's own last words
// (audit entries of its shutdown routine) follow it.
void shutdown() {
  if (state.shutDown) return;
  state.shutDown = true;
  emit({.kind = EventKind::Shutdown});
  for (ModuleRecord* module : std::vector<ModuleRecord*>(state.modules)) {
    if (module->shutdown == nullptr) continue;
    restoreCurrent();
    callModule("shutdown routine", module->shutdown);
  }
}

// The module's open file is read when there is one; a data file left by an
// earlier run is opened so its records can be listed; with neither there
// are no records, and no file is made just to say so.
std::vector<std::vector<unsigned char>> storedRecords(const std::string& name, int length) {
  HostDataFile* file = findDataFile(name);
  if (file == nullptr) {
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) return {};
    file = dfaOpen(name.c_str(), length, 0);
    if (file == nullptr) return {};
  }
  return allRecords(file);
}

}  // namespace simhost

using namespace simhost;

extern "C" {

int register_module(ModuleRecord* record) {
  if (record == nullptr) {
    warning("register_module: no registration record given");
    return -1;
  }
  const int number = static_cast<int>(state.modules.size());
  state.modules.push_back(record);
  emit({.kind = EventKind::Register,
        .text = fieldText(record->description, sizeof record->description),
        .number = number});
  return number;
}

void hook_connect(HostRoutine routine) {
  if (routine == nullptr) {
    warning("hook_connect: no routine given");
    return;
  }
  state.connectHooks.push_back(routine);
}

void hook_disconnect(HostRoutine routine) {
  if (routine == nullptr) {
    warning("hook_disconnect: no routine given");
    return;
  }
  state.disconnectHooks.push_back(routine);
}

}  // extern "C"

// The module call wrapper and the disconnections it carries out: what the
// host does each time a module routine returns (leftover output dropped,
// requested channels hung up, hooks and slot 6 called, channels freed).
#include "simhost/event.h"
#include "simhost/state.h"

namespace simhost {

// A live host keeps each busy channel's usage figure current, so whatever
// the module reads of it during the call is this moment's.
ModuleCall::ModuleCall(const char* what) : what_(what) {
  if (!state.live.usage) return;
  for (int ch = 0; ch < nterms; ++ch) {
    ChannelRecord& record = state.channels[ch];
    if (record.status != 0) record.usage = state.live.usage(ch, record.usage);
  }
}

// A Fatal thrown out of module code leaves nothing half-pending for the
// next call: its requests and output go with it.
ModuleCall::~ModuleCall() {
  if (!finished_) {
    state.pending.clear();
    state.output.clear();
  }
}

std::vector<int> ModuleCall::finish() {
  finished_ = true;
  if (!state.output.empty()) {
    warning("output left in the buffer after the " + std::string(what_) + " was discarded (" +
            std::to_string(state.output.size()) + " bytes)");
    state.output.clear();
  }
  std::vector<int> requests;
  requests.swap(state.pending);
  return requests;
}

namespace {

void hangUp(int ch) {
  // A request for a channel already free or already being freed (a hook of
  // its own hang-up asking again) has nothing left to do.
  if (!validChannel(ch) || state.channels[ch].status == 0 || state.freeing[ch]) {
    return;
  }
  state.freeing[ch] = true;
  emit({.kind = EventKind::Hangup, .channel = ch, .userid = userIdOf(ch)});
  // Each call is made current again: a routine before it may have had
  // another channel hung up, which moves the current user.
  for (HostRoutine hook : std::vector<HostRoutine>(state.disconnectHooks)) {
    makeCurrent(ch);
    callModule("disconnect hook", hook);
  }
  for (ModuleRecord* module : std::vector<ModuleRecord*>(state.modules)) {
    if (module->hangup == nullptr) continue;
    makeCurrent(ch);
    callModule("hangup routine", module->hangup);
  }
  freeChannel(ch);
  makeCurrent(ch);
  if (state.live.hungUp) state.live.hungUp(ch);
}

}  // namespace

void carryOut(const std::vector<int>& channels) {
  for (int ch : channels) hangUp(ch);
}

}  // namespace simhost

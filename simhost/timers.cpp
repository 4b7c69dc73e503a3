// Timers and the passing of time: rtkick arms one-shot timers, advanceTo
// moves the virtual clock, firing timers in due order (ties in arming
// order) and running the midnight clean-up whenever a day begins.
#include <algorithm>
#include <limits>

#include "simhost/event.h"
#include "simhost/state.h"

namespace simhost {

namespace {

constexpr Clock kDay = 86400;

Clock nextMidnight(Clock c) {
  const Clock days = c >= 0 ? c / kDay : -((-c + kDay - 1) / kDay);
  return (days + 1) * kDay;
}

}  // namespace

namespace {

// The user a timer or the clean-up sees: the channel served last, or on a
// live host one no caller holds, past the board's channels where there is
// room, else a free one; with every channel held, the one served last.
void currentForTimers() {
  restoreCurrent();
  if (!state.live.timersAsNoCaller) return;
  int idle = nterms < HOST_MAX_CHANNELS ? nterms : -1;
  for (int ch = 0; idle < 0 && ch < nterms; ++ch) {
    if (state.channels[ch].status == 0 && !state.freeing[ch]) idle = ch;
  }
  if (idle < 0) return;
  usrnum = idle;
  usrptr = &state.channels[idle];
  usaptr = &state.accounts[idle];
}

}  // namespace

void cleanup() {
  emit({.kind = EventKind::Cleanup});
  for (ModuleRecord* module : std::vector<ModuleRecord*>(state.modules)) {
    if (module->cleanup == nullptr) continue;
    currentForTimers();
    callModule("clean-up routine", module->cleanup);
  }
  restoreCurrent();
}

std::size_t pendingTimers() { return state.timers.size(); }

Clock nextWake() {
  const Clock midnight = nextMidnight(state.clock);
  if (state.timers.empty()) return midnight;
  return std::min(midnight, state.timers.top().due);
}

// The clock never runs backwards: a target before it leaves it where it is.
void advanceTo(Clock target) {
  for (;;) {
    const Clock midnight = nextMidnight(state.clock);
    const Clock due =
        state.timers.empty() ? std::numeric_limits<Clock>::max() : state.timers.top().due;
    if (midnight <= target && midnight <= due) {
      state.clock = midnight;
      cleanup();
    } else if (due <= target) {
      const Timer timer = state.timers.top();
      state.timers.pop();
      if (timer.due > state.clock) state.clock = timer.due;
      currentForTimers();
      callModule("timer routine", timer.routine);
      restoreCurrent();
    } else {
      break;
    }
  }
  if (target > state.clock) state.clock = target;
}

}  // namespace simhost

using namespace simhost;

extern "C" {

// A negative delay cannot be honoured; it is taken as 0, so the routine
// runs at the next advance of the clock, at the current second.
void rtkick(int seconds, HostRoutine routine) {
  if (routine == nullptr) {
    warning("rtkick: no routine given; no timer armed");
    return;
  }
  if (seconds < 0) {
    warning("rtkick: " + std::to_string(seconds) + " seconds taken as 0");
    seconds = 0;
  }
  state.timers.push({state.clock + seconds, state.armed++, routine});
}

}  // extern "C"

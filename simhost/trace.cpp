// The trace's two ways in that are not a typed event's own: a test's mark
// between the host's lines, and the host's warnings, each one event.
#include "simhost/event.h"
#include "simhost/state.h"

namespace simhost {

void trace(const std::string& mark) {
  if (state.setup.trace) state.setup.trace(formatClock(state.clock) + " " + mark);
}

void warning(const std::string& text) { emit({.kind = EventKind::Warning, .text = text}); }

}  // namespace simhost

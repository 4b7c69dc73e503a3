// The trace: one line per host event, stamped with the virtual clock; the
// quoting every text and user-id in it gets is the text unit's.
#include "simhost/state.h"
#include "simhost/text.h"

namespace simhost {

void trace(const std::string& event) {
  if (state.setup.trace) state.setup.trace(formatClock(state.clock) + " " + event);
}

void warning(const std::string& text) { trace("warning " + quote(text)); }

}  // namespace simhost

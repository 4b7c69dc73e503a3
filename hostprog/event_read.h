// A saved trace's line read back into the event it was written from: the
// stamp, the event word and its words, checked against the shape each
// kind is written in (simhost/event.h). For a program reading a trace
// file (the simulator's replay); the board never reads its own lines back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "simhost/event.h"

namespace hostprog {

struct ReadEvent {
  std::optional<simhost::Event> event;
  std::string error;  // what is wrong with the line, when there is no event
};

// One line, without its newline (a trailing "\r" is let pass). The event
// read, written again by simhost::traceLine, gives the same line.
ReadEvent readEvent(std::string_view line);

// The transport of a caller as simhost::callerName names him.
std::string transportOf(std::string_view caller);

}  // namespace hostprog

// Reading a live board's trace back into the evening it records: the calls,
// each log-on attempt and each departure the caller chose, apart from what
// the module did to them. Pure: the same bytes always give the same evening.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simhost/simhost.h"

namespace sim {

struct Attempt {
  int line = 0;
  simhost::Clock at = 0;
  std::string userid;
  enum class Kind { Password, BadPassword, Unknown } kind = Kind::Password;
};

struct Departure {
  int line = 0;
  simhost::Clock at = 0;
  bool timedOut = false;  // let go at a prompt or idle; else /quit or a dropped line
};

struct Call {
  int line = 0;  // the trace line of its `call`
  simhost::Clock arrival = 0;
  int channel = 0;  // the channel it took live
  std::string address;
  std::vector<Attempt> attempts;
  std::optional<Departure> departure;  // none: the module ended it, or the evening did
  bool endedByModule = false;          // bumped, or its log-on refused
  bool signedOn = false;               // live
};

struct Busy {
  int line = 0;
  simhost::Clock at = 0;
  std::string address;
};

// A delay record stored when the board started, as the trace shows it.
struct HeldDelay {
  std::string userid;
  std::uint16_t date = 0, time = 0;  // packed, as stored
};

struct Evening {
  simhost::Clock start = 0;         // the first line's clock
  simhost::Clock end = 0;           // the shutdown, else the last line
  int channels = 0;                 // the board's, else the most the trace shows were there
  unsigned firstNumber = 0;         // the board's first channel number
  std::string dir;                  // the board's directory; "" = the trace does not name it
  std::vector<HeldDelay> delays;    // stored when the board started
  std::vector<Call> calls;          // in order of arrival
  std::vector<Busy> busy;           // callers turned away live, every channel taken
  std::vector<std::string> errors;  // "TRACE:LINE: ..."; empty = good
};

// Reads a whole board trace; `label` names it in error lines. Every bad
// line is reported; a trace with no `call` line (a simulator's) is refused.
Evening readBoardTrace(std::string_view label, std::string_view bytes);

}  // namespace sim

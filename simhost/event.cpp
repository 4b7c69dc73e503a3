// The events' one formatter: each kind's trace line, quoted by the text
// unit, and the hand-over of an event to the host's listeners.
#include "simhost/event.h"

#include <cstdio>

#include "simhost/state.h"
#include "simhost/text.h"

namespace simhost {

namespace {

constexpr const char* kWords[] = {
    "register", "logon",    "connect", "deliver", "audit",    "hangup",   "cleanup", "delay",
    "warning",  "shutdown", "board",   "call",    "busy",     "timeout",  "wrong",   "unknown",
    "newuser",  "nosignup", "pardon",  "say",     "kick",     "overflow", "garbled", "blocked",
    "toomany",  "block",    "unblock", "carry",   "nobehind", "reload"};
static_assert(std::size(kWords) == static_cast<std::size_t>(EventKind::Reload) + 1);

std::string ch(const Event& e) { return std::to_string(e.channel); }

// The words after the event word.
std::string words(const Event& e) {
  switch (e.kind) {
    case EventKind::Register:
      return std::to_string(e.number) + " " + quote(e.text);
    case EventKind::Logon:
      return ch(e) + " " + quote(e.userid) + (e.accepted ? " accepted" : " rejected") +
             (e.address.empty() ? "" : " " + quote(e.address));
    case EventKind::Connect:
    case EventKind::Hangup:
    case EventKind::Timeout:
    case EventKind::NewUser:
      return ch(e) + " " + quote(e.userid);
    case EventKind::Deliver:
      return ch(e) + " " + quote(e.text);
    case EventKind::Audit:
      return quote(e.text) + " " + quote(e.detail);
    case EventKind::Delay:
      return quote(e.userid) + " " + e.text;
    case EventKind::Warning:
      return quote(e.text);
    case EventKind::Board: {
      char first[24];
      std::snprintf(first, sizeof first, "%02llX", static_cast<unsigned long long>(e.first));
      return std::to_string(e.number) + " " + first + " " + quote(e.text);
    }
    case EventKind::Call:
    case EventKind::Overflow:
    case EventKind::Garbled:
      return ch(e) + " " + quote(e.address);
    case EventKind::Busy:
    case EventKind::NoSignup:
      return quote(e.address);
    case EventKind::Blocked:
    case EventKind::TooMany:
      return quote(e.address) + (e.number > 1 ? " " + std::to_string(e.number) : "");
    case EventKind::Wrong:
    case EventKind::Unknown:
      return (e.where.empty() ? ch(e) : e.where) + " " + quote(e.userid) + " " + quote(e.address);
    case EventKind::Pardon:
      return quote(e.userid) + " by " + e.by;
    case EventKind::Say:
      return quote(e.text) + " by " + e.by;
    case EventKind::Kick:
      return ch(e) + " by " + e.by;
    case EventKind::Block:
      return quote(e.address) + " " + std::to_string(e.number);
    case EventKind::Unblock:
      return quote(e.address) + " by " + e.by;
    case EventKind::Carry:
    case EventKind::NoBehind:
      return ch(e) + " " + quote(e.text);
    case EventKind::Reload:
      return e.text.empty() ? "unchanged" : e.text;
    case EventKind::Cleanup:
    case EventKind::Shutdown:
      break;
  }
  return "";
}

}  // namespace

const char* eventWord(EventKind kind) { return kWords[static_cast<std::size_t>(kind)]; }

std::string callerName(const std::string& transport, const std::string& peer) {
  return transport == "telnet" ? peer : transport + " " + peer;
}

std::string eventText(const Event& e) {
  const std::string rest = words(e);
  return rest.empty() ? std::string(eventWord(e.kind)) : eventWord(e.kind) + (" " + rest);
}

std::string traceLine(const Event& e) { return formatClock(e.at) + " " + eventText(e); }

void emit(Event e) {
  e.at = state.clock;
  if (state.setup.events) state.setup.events(e);
  if (state.setup.trace) state.setup.trace(traceLine(e));
}

}  // namespace simhost

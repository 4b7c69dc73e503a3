// What happens on a host, typed: one record for every line of the trace,
// the host's own events and those a live host adds (calls, refusals,
// blocks, a sysop's changes), and the one formatter that writes a record as
// its trace line. The trace is one format, so all its kinds are named here,
// once. Whoever listens (the trace writer, a tally, a watch) gets the
// record, never the text to read back; hostprog/event_read.h reads a saved
// trace into the same records.
#pragma once

#include <cstdint>
#include <string>

#include "simhost/simhost.h"

namespace simhost {

// Each kind is the trace's event word of the same name.
enum class EventKind {
  // the host's (every host)
  Register,  // register N "DESCRIPTION": number, text
  Logon,     // logon CH "USERID" accepted|rejected ["ADDR"]: channel, userid, accepted, address
  Connect,   // connect CH "USERID"
  Deliver,   // deliver CH "TEXT"
  Audit,     // audit "SUMMARY" "DETAIL": text, detail
  Hangup,    // hangup CH "USERID"
  Cleanup,   // cleanup
  Delay,     // delay "USERID" YYYY-MM-DD HH:MM:SS: userid, text (the stored stamp)
  Warning,   // warning "TEXT"
  Shutdown,  // shutdown
  // a live host's
  Board,     // board CHANNELS FIRST "DIR": number, first, text
  Call,      // call CH "CALLER": channel, transport, address
  Busy,      // busy "CALLER"
  Timeout,   // timeout CH "USERID"
  Wrong,     // wrong WHERE "USERID" "ADDR": channel or where, userid, address
  Unknown,   // unknown WHERE "USERID" "ADDR"
  NewUser,   // newuser CH "USERID"
  NoSignup,  // nosignup "CALLER"
  Pardon,    // pardon "USERID" by WHO
  Say,       // say "TEXT" by WHO
  Kick,      // kick CH by WHO
  Overflow,  // overflow CH "CALLER"
  Garbled,   // garbled CH "CALLER"
  Blocked,   // blocked "CALLER" [COUNT]: address, number (the refusals it stands for)
  TooMany,   // toomany "CALLER" [COUNT]: address, number (as blocked)
  Block,     // block "ADDR" SECONDS: address, number
  Unblock,   // unblock "ADDR" by WHO
  Carry,     // carry CH "KIND:HOST:PORT": channel, text (the board behind, --behind)
  NoBehind,  // nobehind CH "WHY": channel, text (the board behind could not be reached)
  Reload,    // reload FLAG... | reload unchanged: text (the flags, blank-separated; "" unchanged)
};

// One event; which fields a kind fills is said beside it above, the rest
// stay as they start, so that an emitter names only its kind's fields
// (`emit({.kind = EventKind::Busy, .address = from})`). "CALLER" is a
// caller as callerName() names him.
struct Event {
  EventKind kind = EventKind::Warning;
  Clock at = 0;             // the host's clock; emit() sets it
  int channel = -1;         // CH
  std::string where{};      // wrong/unknown without a channel: "ssh" or "console"
  std::string userid{};     // as the host holds it
  std::string text{};       // see the kind
  std::string detail{};     // an audit entry's detail
  std::string transport{};  // call: "telnet", "ssh", "ws" or "wss"
  std::string address{};    // the caller (callerName) or his address alone ("ADDR")
  std::string by{};         // who made a sysop's change: `ctl` or a quoted user-id, as written
  long number = 0;
  std::uint64_t first = 0;  // board: the first channel number
  bool accepted = false;    // logon's verdict
};

// The event word of KIND ("logon", "toomany", ...).
const char* eventWord(EventKind kind);

// A caller as the trace names him: telnet's by his peer alone ("IP:PORT"),
// any other transport's by its kind first ("ssh IP:PORT").
std::string callerName(const std::string& transport, const std::string& peer);

// The event's part of its trace line ("logon 0 \"kim\" accepted"), and the
// whole line with the stamp ("YYYY-MM-DD HH:MM:SS logon ..."), no newline.
std::string eventText(const Event& e);
std::string traceLine(const Event& e);

// Stamps E with the host's clock now and hands it to the host's listeners
// (Setup::events, and Setup::trace as its line).
void emit(Event e);

}  // namespace simhost

// The sysop's verbs, once: each one's name, operand, arity, who may ask it
// and what it does, in the one table that `ctl` (the command line and the
// board's side of the socket) and the console read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace board {

class Board;
class HostWatch;
struct ModuleOptions;

// What the verbs work on: the board, the module's option file as the
// board read it at start, and what the host's events have shown.
struct SysopDesk {
  Board& board;
  const ModuleOptions& options;
  const HostWatch& watch;
};

// What a change did: `error` says why not (nothing was done), else `said`
// is the answer.
struct SysopDone {
  std::string error;
  std::string said;
};

// A change as asked: its operand, the user the sysop saw on the channel (a
// console's kick may name one; nothing from ctl), and who asks, as the
// trace line names them.
struct Order {
  std::string operand;
  std::optional<std::string> seen;
  std::string by;
};

enum class Arity { None, One, Rest };  // Rest: the rest of ctl's words, joined by blanks
enum class Reach { Both, Ctl, Console };

// A look has `text` (ctl's) or `json` (the console's), null where its
// reach has none; a change has `change`.
struct Verb {
  const char* name;
  const char* operand;  // as ctl's usage names it: "USERID"; "" for none
  const char* member;   // the console's body member that holds it; "" for none
  bool namesSeen;       // the console's body may name the user seen, as "user"
  Arity arity;
  Reach reach;
  std::string (*text)(SysopDesk& desk);
  std::string (*json)(SysopDesk& desk);
  SysopDone (*change)(SysopDesk& desk, const Order& order);
};

// The verb NAME that FROM (Ctl or Console) may ask; null when there is none.
const Verb* findVerb(std::string_view name, Reach from);
inline bool isLook(const Verb& verb) { return verb.change == nullptr; }

// Carries out the change NAME that FROM may ask; refused, naming it, when
// there is no such change.
SysopDone sysopChange(SysopDesk& desk, const std::string& name, Reach from, const Order& order);

// The verbs ctl may ask, in the table's order, as its messages list them:
// "who|delays|pardon USERID|..." WITHOPERANDS, else "who, delays, ... or
// kick".
std::string ctlVerbList(bool withOperands);

}  // namespace board

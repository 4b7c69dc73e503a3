// The table of the sysop's verbs, and the lookups ctl's command line, the
// board's side of the socket and the console make in it.
#include "board/sysop/verbs.h"

#include "board/core/module_options.h"
#include "board/sysop/console_views.h"
#include "board/sysop/sysop.h"
#include "simhost/text.h"

namespace board {

namespace {

// In the order ctl's messages list them.
const Verb kVerbs[] = {
    {"who", "", "", false, Arity::None, Reach::Both,
     [](SysopDesk& d) { return whoText(whoRows(d.board, d.options, d.watch)); },
     [](SysopDesk& d) { return whoJson(whoRows(d.board, d.options, d.watch)); }, nullptr},
    {"delays", "", "", false, Arity::None, Reach::Both,
     [](SysopDesk& d) { return delaysText(delayRows(d.options.terms)); },
     [](SysopDesk& d) { return delaysJson(delayRows(d.options.terms)); }, nullptr},
    {"pardon", "USERID", "user", false, Arity::One, Reach::Both, nullptr, nullptr, pardonUser},
    {"say", "TEXT", "text", false, Arity::Rest, Reach::Both, nullptr, nullptr, sayToAll},
    {"shutdown", "", "", false, Arity::None, Reach::Ctl, nullptr, nullptr, shutDown},
    {"blocked", "", "", false, Arity::None, Reach::Both,
     [](SysopDesk& d) { return blockedText(blockedRows(d.board)); },
     [](SysopDesk& d) { return blockedJson(blockedRows(d.board)); }, nullptr},
    {"unblock", "ADDRESS", "address", false, Arity::One, Reach::Both, nullptr, nullptr,
     unblockAddress},
    {"kick", "CHANNEL", "channel", true, Arity::One, Reach::Both, nullptr, nullptr, kickChannel},
    {"report", "", "", false, Arity::None, Reach::Console, nullptr,
     [](SysopDesk& d) { return reportJson(d.options.reportPath, d.watch); }, nullptr},
};

}  // namespace

const Verb* findVerb(std::string_view name, Reach from) {
  for (const Verb& v : kVerbs)
    if (name == v.name && (v.reach == Reach::Both || v.reach == from)) return &v;
  return nullptr;
}

SysopDone sysopChange(SysopDesk& desk, const std::string& name, Reach from, const Order& order) {
  const Verb* verb = findVerb(name, from);
  if (!verb || isLook(*verb)) return {"there is no change " + simhost::quote(name), ""};
  return verb->change(desk, order);
}

std::string ctlVerbList(bool withOperands) {
  std::vector<const Verb*> ctl;
  for (const Verb& v : kVerbs)
    if (v.reach != Reach::Console) ctl.push_back(&v);
  std::string out;
  for (std::size_t i = 0; i < ctl.size(); ++i) {
    if (withOperands) {
      out += std::string(i ? "|" : "") + ctl[i]->name + (*ctl[i]->operand ? " " : "") +
             ctl[i]->operand;
    } else {
      out += std::string(i == 0 ? "" : i + 1 == ctl.size() ? " or " : ", ") + ctl[i]->name;
    }
  }
  return out;
}

}  // namespace board

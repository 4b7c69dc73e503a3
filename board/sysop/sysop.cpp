// The sysop's changes: a pardon (the record deleted through the host's
// data-file layer), an unblock, a line to every caller, a kick and the way
// down; ctl's text of the rows; the board's side of the control socket,
// which reads its verbs from the table and hands account requests on.
#include "board/sysop/sysop.h"

#include <cstdio>

#include "board/core/board.h"
#include "board/tools/accounts.h"
#include "simhost/event.h"
#include "simhost/text.h"

namespace board {

namespace {

std::string duration(simhost::Clock seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

Reply usage(const std::string& what) {
  return {2, "ctl: " + what + "\nusage: zorgaval-board ctl " + ctlVerbList(true) + "\n"};
}

// The words after the verb as its operand: none, one, or say's text.
std::optional<std::string> operandOf(const Verb& verb, const std::vector<std::string>& words) {
  if (verb.arity == Arity::None)
    return words.size() == 1 ? std::optional<std::string>("") : std::nullopt;
  if (words.size() < 2 || (verb.arity == Arity::One && words.size() != 2)) return std::nullopt;
  std::string operand;
  for (std::size_t i = 1; i < words.size(); ++i) operand += (i > 1 ? " " : "") + words[i];
  return operand;
}

// Whether channel CH no longer holds the user the sysop saw there: why not
// to kick, or "".
std::string seenGone(int ch, const std::string& channel, const std::string& seen) {
  const std::string on =
      usroff(ch)->status == 0
          ? std::string()
          : std::string(uacoff(ch)->userid, strnlen(uacoff(ch)->userid, USERID_SIZE));
  if (on == seen) return "";
  return "channel " + channel + " holds " + (on.empty() ? "no one" : simhost::quote(on)) +
         " now, not " + simhost::quote(seen) + ": nothing was done";
}

}  // namespace

std::string bySysop(const std::string& userid) { return simhost::quote(userid); }

std::string whoText(const std::vector<WhoRow>& rows) {
  std::string out = "channel number status user-id time-on via\n";
  for (const WhoRow& r : rows) {
    if (r.status == 0) continue;
    char row[64];
    std::snprintf(row, sizeof row, "%7d %6X %6d ", r.channel, r.number, r.status);
    out += row + simhost::quote(r.user) + " " + duration(r.seconds) + " " +
           (r.transport.empty() ? "-" : r.transport) + (r.carried.empty() ? "" : " " + r.carried) +
           "\n";
  }
  return out;
}

std::string delaysText(const std::vector<DelayRow>& rows) {
  std::string out;
  for (const DelayRow& r : rows) out += hostprog::delayLine(r.stored, r.end) + "\n";
  return out;
}

std::string blockedText(const std::vector<Throttle::Block>& rows) {
  std::string out;
  for (const Throttle::Block& b : rows)
    out += b.address + " " + std::to_string(b.left.count()) + " s\n";
  return out;
}

SysopDone pardonUser(SysopDesk& desk, const Order& order) {
  desk.board.advance();
  const std::string why = hostprog::pardon(order.operand);
  if (!why.empty()) return {why, ""};
  simhost::emit({.kind = simhost::EventKind::Pardon, .userid = order.operand, .by = order.by});
  return {"", "pardoned " + simhost::quote(order.operand)};
}

SysopDone unblockAddress(SysopDesk& desk, const Order& order) {
  desk.board.advance();
  if (!desk.board.throttle().unblock(order.operand, LiveClock::Steady::now()))
    return {simhost::quote(order.operand) + " is not blocked", ""};
  simhost::emit({.kind = simhost::EventKind::Unblock, .address = order.operand, .by = order.by});
  return {"", "unblocked " + order.operand};
}

SysopDone sayToAll(SysopDesk& desk, const Order& order) {
  const std::string& text = order.operand;
  if (text.empty()) return {"the text is empty", ""};
  desk.board.advance();
  int told = 0;
  for (const auto& call : desk.board.calls()) {
    if (!call) continue;
    call->write("\r\n*** The sysop: " + sysopText(text, desk.board.config().charset) + "\r\n");
    ++told;
  }
  simhost::emit({.kind = simhost::EventKind::Say, .text = text, .by = order.by});
  return {"", "told " + std::to_string(told) + (told == 1 ? " caller" : " callers")};
}

SysopDone kickChannel(SysopDesk& desk, const Order& order) {
  const std::string& channel = order.operand;
  const auto n = simhost::text::readDecimal(channel);
  if (!n || *n >= static_cast<unsigned long long>(nterms))
    return {simhost::quote(channel) + " is not a channel of the board (0 to " +
                std::to_string(nterms - 1) + ")",
            ""};
  const int ch = static_cast<int>(*n);
  if (order.seen) {
    if (std::string why = seenGone(ch, channel, *order.seen); !why.empty()) return {why, ""};
  }
  desk.board.advance();
  if (usroff(ch)->status == 0 && !desk.board.calls()[ch])
    return {"channel " + channel + " holds no call", ""};
  simhost::emit({.kind = simhost::EventKind::Kick, .channel = ch, .by = order.by});
  desk.board.hangUp(ch);
  return {"", "channel " + std::to_string(ch) + " let go"};
}

SysopDone shutDown(SysopDesk& desk, const Order&) {
  // The loop takes the stop as its next event, after the answer.
  Board& board = desk.board;
  net::post(board.io(), [&board] { board.stop(); });
  return {"", "the board is going down"};
}

ControlHandler sysopHandler(SysopDesk desk) {
  return [desk](const std::vector<std::string>& words) mutable -> Reply {
    if (words.empty()) return usage("no request");
    desk.board.advance();
    const std::string& name = words[0];
    if (name == "account") return accountRequest(words, desk.board.passwords());
    const Verb* verb = findVerb(name, Reach::Ctl);
    const std::optional<std::string> operand =
        verb ? operandOf(*verb, words) : std::optional<std::string>();
    if (!operand) return usage("cannot read the request " + simhost::quote(name));
    if (isLook(*verb)) return {0, verb->text(desk)};
    const SysopDone done = verb->change(desk, {*operand, std::nullopt, kByCtl});
    if (!done.error.empty()) return {1, "ctl " + name + ": " + done.error + "\n"};
    return {0, done.said + "\n"};
  };
}

}  // namespace board

// The running board's control requests: who is on, the delay records, a
// pardon (the record deleted through the host's data-file layer), a line
// to every caller, the addresses blocked for failed log-ons, and the way
// down; account requests go to their owner.
#include "board/sysop/sysop.h"

#include <cstdio>

#include "board/tools/accounts.h"
#include "hostprog/delays.h"
#include "hostprog/files.h"
#include "hostprog/vetting.h"
#include "simhost/text.h"

namespace board {

namespace {

std::string duration(simhost::Clock seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

Reply who(Board& board) {
  std::string out = "channel number status user-id time-on via\n";
  const std::vector<std::shared_ptr<Call>> calls = board.calls();
  for (int ch = 0; ch < nterms; ++ch) {
    const ChannelRecord* record = usroff(ch);
    if (record->status == 0) continue;
    const std::string id(uacoff(ch)->userid, strnlen(uacoff(ch)->userid, USERID_SIZE));
    const std::shared_ptr<Call>& call = calls[ch];
    const simhost::Clock on = call ? simhost::clock() - call->since() : 0;
    char row[64];
    std::snprintf(row, sizeof row, "%7d %6X %6d ", ch, channel[ch], record->status);
    out += row + simhost::quote(id) + " " + duration(on) + " " +
           (call ? call->transportKind() : "-") +
           (call && !call->carriedText().empty() ? " " + call->carriedText() : "") + "\n";
  }
  return {0, out};
}

Reply delays(const Board& board) {
  const hostprog::DelayTerms terms = boardDelayTerms(board.config());
  std::string out;
  for (const hostprog::StoredDelay& d : hostprog::delays())
    out += hostprog::delayLine(d, terms) + "\n";
  return {0, out};
}

Reply usage(const std::string& what) {
  return {2, "ctl: " + what +
                 "\nusage: zorgaval-board ctl who|delays|pardon USERID|blocked|unblock ADDR|say "
                 "TEXT|kick CHANNEL|shutdown\n"};
}

}  // namespace

std::string bySysop(const std::string& userid) { return simhost::quote(userid); }

hostprog::DelayTerms boardDelayTerms(const Config& config) {
  return hostprog::delayTerms(
      hostprog::readOptionFile(config.options, hostprog::absolutePath(".")).parsed);
}

SysopDone pardonUser(Board& board, const std::string& userid, const std::string& by) {
  board.advance();
  const std::string why = hostprog::pardon(userid);
  if (!why.empty()) return {why, ""};
  simhost::trace("pardon " + simhost::quote(userid) + " by " + by);
  return {"", "pardoned " + simhost::quote(userid)};
}

SysopDone unblockAddress(Board& board, const std::string& address, const std::string& by) {
  board.advance();
  if (!board.throttle().unblock(address, LiveClock::Steady::now()))
    return {simhost::quote(address) + " is not blocked", ""};
  simhost::trace("unblock " + simhost::quote(address) + " by " + by);
  return {"", "unblocked " + address};
}

SysopDone sayToAll(Board& board, const std::string& text, const std::string& by) {
  if (text.empty()) return {"the text is empty", ""};
  board.advance();
  int told = 0;
  for (const auto& call : board.calls()) {
    if (!call) continue;
    call->write("\r\n*** The sysop: " + sysopText(text, board.config().charset) + "\r\n");
    ++told;
  }
  simhost::trace("say " + simhost::quote(text) + " by " + by);
  return {"", "told " + std::to_string(told) + (told == 1 ? " caller" : " callers")};
}

SysopDone kickChannel(Board& board, const std::string& channel, const std::string& by) {
  const auto n = simhost::text::readDecimal(channel);
  if (!n || *n >= static_cast<unsigned long long>(nterms))
    return {simhost::quote(channel) + " is not a channel of the board (0 to " +
                std::to_string(nterms - 1) + ")",
            ""};
  board.advance();
  const int ch = static_cast<int>(*n);
  if (usroff(ch)->status == 0 && !board.calls()[ch])
    return {"channel " + channel + " holds no call", ""};
  simhost::trace("kick " + std::to_string(ch) + " by " + by);
  board.hangUp(ch);
  return {"", "channel " + std::to_string(ch) + " let go"};
}

SysopDone kickUser(Board& board, const std::string& channel, const std::string& userid,
                   const std::string& by) {
  const auto n = simhost::text::readDecimal(channel);
  if (n && *n < static_cast<unsigned long long>(nterms)) {
    const int ch = static_cast<int>(*n);
    const std::string on =
        usroff(ch)->status == 0
            ? std::string()
            : std::string(uacoff(ch)->userid, strnlen(uacoff(ch)->userid, USERID_SIZE));
    if (on != userid)
      return {"channel " + channel + " holds " + (on.empty() ? "no one" : simhost::quote(on)) +
                  " now, not " + simhost::quote(userid) + ": nothing was done",
              ""};
  }
  return kickChannel(board, channel, by);
}

ControlHandler sysopHandler(Board& board) {
  return [&board](const std::vector<std::string>& words) -> Reply {
    if (words.empty()) return usage("no request");
    board.advance();
    const std::string& verb = words[0];
    if (verb == "account") return accountRequest(words, board.passwords());
    if (verb == "who" && words.size() == 1) return who(board);
    if (verb == "delays" && words.size() == 1) return delays(board);
    if (verb == "blocked" && words.size() == 1) {
      std::string out;
      for (const Throttle::Block& b : board.throttle().blocked(LiveClock::Steady::now())) {
        out += b.address + " " + std::to_string(b.left.count()) + " s\n";
      }
      return {0, out};
    }
    using Change = SysopDone (*)(Board&, const std::string&, const std::string&);
    static const std::pair<const char*, Change> kChanges[] = {{"pardon", pardonUser},
                                                              {"unblock", unblockAddress},
                                                              {"say", sayToAll},
                                                              {"kick", kickChannel}};
    for (const auto& [name, change] : kChanges) {
      if (verb != name || words.size() < 2 || (verb != "say" && words.size() != 2)) continue;
      std::string operand;
      for (std::size_t i = 1; i < words.size(); ++i) operand += (i > 1 ? " " : "") + words[i];
      const SysopDone done = change(board, operand, kByCtl);
      if (!done.error.empty()) return {1, "ctl " + verb + ": " + done.error + "\n"};
      return {0, done.said + "\n"};
    }
    if (verb == "shutdown" && words.size() == 1) {
      // After the reply has gone: the loop takes the stop as its next event.
      net::post(board.io(), [&board] { board.stop(); });
      return {0, "the board is going down\n"};
    }
    return usage("cannot read the request " + simhost::quote(verb));
  };
}

}  // namespace board

// The running board's control requests: who is on, the delay records, a
// pardon (the record deleted through the host's data-file layer), a line
// to every caller, the addresses blocked for failed log-ons, and the way
// down; account requests go to their owner.
#include "board/sysop.h"

#include <cstdio>

#include "board/accounts.h"
#include "hostprog/delays.h"

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
           (call ? call->transportKind() : "-") + "\n";
  }
  return {0, out};
}

Reply delays() {
  std::string out;
  for (const hostprog::StoredDelay& d : hostprog::delays()) {
    out += "delay " + simhost::quote(d.userid) + " " + hostprog::packedStamp(d.date, d.time) + "\n";
  }
  return {0, out};
}

Reply usage(const std::string& what) {
  return {2, "ctl: " + what +
                 "\nusage: zorgaval-board ctl who|delays|pardon USERID|blocked|unblock ADDR|say "
                 "TEXT|shutdown\n"};
}

}  // namespace

ControlHandler sysopHandler(Board& board) {
  return [&board](const std::vector<std::string>& words) -> Reply {
    if (words.empty()) return usage("no request");
    board.advance();
    const std::string& verb = words[0];
    if (verb == "account") return accountRequest(words, board.passwords());
    if (verb == "who" && words.size() == 1) return who(board);
    if (verb == "delays" && words.size() == 1) return delays();
    if (verb == "pardon" && words.size() == 2) {
      const std::string why = hostprog::pardon(words[1]);
      if (!why.empty()) return {1, "ctl pardon: " + why + "\n"};
      simhost::trace("pardon " + simhost::quote(words[1]));
      return {0, "pardoned " + simhost::quote(words[1]) + "\n"};
    }
    if (verb == "blocked" && words.size() == 1) {
      std::string out;
      for (const Throttle::Block& b : board.throttle().blocked(LiveClock::Steady::now())) {
        out += b.address + " " + std::to_string(b.left.count()) + " s\n";
      }
      return {0, out};
    }
    if (verb == "unblock" && words.size() == 2) {
      if (!board.throttle().unblock(words[1], LiveClock::Steady::now())) {
        return {1, "ctl unblock: " + simhost::quote(words[1]) + " is not blocked\n"};
      }
      simhost::trace("unblock " + simhost::quote(words[1]));
      return {0, "unblocked " + words[1] + "\n"};
    }
    if (verb == "say" && words.size() >= 2) {
      std::string text;
      for (std::size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
      int told = 0;
      for (const auto& call : board.calls()) {
        if (!call) continue;
        call->write("\r\n*** The sysop: " + text + "\r\n");
        ++told;
      }
      return {0, "told " + std::to_string(told) + (told == 1 ? " caller\n" : " callers\n")};
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

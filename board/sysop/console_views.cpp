// The console's JSON, written with the escaping helper: one object per
// channel, per delay record, per blocked address and per report day.
#include "board/sysop/console_views.h"

#include <algorithm>

#include "board/core/board.h"
#include "board/sysop/json.h"
#include "board/sysop/sysop.h"
#include "hostprog/delays.h"
#include "hostprog/files.h"
#include "hostprog/vetting.h"
#include "simhost/text.h"

namespace board {

namespace {

std::string field(const char* name, const std::string& jsonValue) {
  return std::string("\"") + name + "\":" + jsonValue;
}
std::string str(const char* name, const std::string& text) { return field(name, jsonString(text)); }
std::string num(const char* name, long long n) { return field(name, std::to_string(n)); }
std::string flag(const char* name, bool b) { return field(name, b ? "true" : "false"); }

std::string list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

template <class Numbers>
std::string numbers(const Numbers& n) {
  std::vector<std::string> items;
  items.reserve(n.size());
  for (const auto v : n) items.push_back(std::to_string(v));
  return list(items);
}

std::string channelJson(int ch, const std::shared_ptr<Call>& call, const ConsoleFacts& facts) {
  const int status = usroff(ch)->status;
  const std::string user(uacoff(ch)->userid, strnlen(uacoff(ch)->userid, USERID_SIZE));
  const bool on = status != 0 && (!call || call->signedOn());
  const char* shown = status == 0 ? "free" : on ? "on line" : "at the prompts";
  char number[16];
  std::snprintf(number, sizeof number, "%02X", channel[ch]);
  const bool candidate = on && !hostWatch().candidate().empty() &&
                         simhost::text::equalFolded(user, hostWatch().candidate());
  std::vector<std::string> f = {num("channel", ch), str("number", number), str("status", shown),
                                str("user", status == 0 ? "" : user)};
  f.push_back(str("transport", call ? call->transportKind() : ""));
  f.push_back(str("address", call ? call->address() : ""));
  f.push_back(str("carried", call ? call->carriedText() : ""));
  f.push_back(
      num("seconds", call ? std::max<simhost::Clock>(0, simhost::clock() - call->since()) : 0));
  f.push_back(flag("watched", channel[ch] >= facts.watchedLow && channel[ch] <= facts.watchedHigh));
  f.push_back(flag("candidate", candidate));
  std::string out = "{";
  for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "," : "") + f[i];
  return out + "}";
}

std::string tableJson(const hostprog::ReportTable& t) {
  std::vector<std::string> rows;
  for (std::size_t k = 0; k < t.keys.size(); ++k)
    rows.push_back("{" + str("key", t.keys[k]) + "," + field("counts", numbers(t.counts[k])) + "}");
  return "{" + str("kind", t.kind) + "," + field("rows", list(rows)) + "}";
}

}  // namespace

ConsoleFacts consoleFacts(const Config& config) {
  const hostprog::OptionFile options =
      hostprog::readOptionFile(config.options, hostprog::absolutePath("."));
  ConsoleFacts f;
  f.terms = hostprog::delayTerms(options.parsed);
  const auto first = simhost::readHexOption(options.parsed, 17, 0, 255).number;
  const auto last = simhost::readHexOption(options.parsed, 18, 0, 255).number;
  f.watchedLow = static_cast<unsigned>(std::min(first, last));
  f.watchedHigh = static_cast<unsigned>(std::max(first, last));
  f.reportPath = hostprog::outputPath(options.parsed, 29, hostprog::absolutePath("."));
  return f;
}

std::string whoJson(Board& board, const ConsoleFacts& facts) {
  std::vector<std::string> rows;
  rows.reserve(static_cast<std::size_t>(nterms));
  const std::vector<std::shared_ptr<Call>> calls = board.calls();
  for (int ch = 0; ch < nterms; ++ch) rows.push_back(channelJson(ch, calls[ch], facts));
  return list(rows);
}

std::string delaysJson(const ConsoleFacts& facts) {
  const hostprog::Moment now{today(), ::now()};
  std::vector<std::string> rows;
  for (const hostprog::StoredDelay& d : hostprog::delays()) {
    const hostprog::Moment end = hostprog::delayEnd(facts.terms, {d.date, d.time});
    const hostprog::Moment lifts = hostprog::delayLifts(facts.terms, end, now);
    rows.push_back("{" + str("user", d.userid) + "," +
                   str("stamp", hostprog::packedStamp(d.date, d.time)) + "," +
                   str("until", hostprog::packedStamp(end.date, end.time)) + "," +
                   flag("holds", hostprog::delayHolds(facts.terms, end, now)) + "," +
                   str("lifts", hostprog::packedStamp(lifts.date, lifts.time)) + "}");
  }
  return list(rows);
}

std::string blockedJson(Board& board) {
  std::vector<std::string> rows;
  for (const Throttle::Block& b : board.throttle().blocked(LiveClock::Steady::now()))
    rows.push_back("{" + str("address", b.address) + "," + num("seconds", b.left.count()) + "}");
  return list(rows);
}

std::string reportJson(const hostprog::ReportFile& file, const HostWatch& today) {
  std::vector<std::string> days;
  for (const hostprog::ReportDay& d : file.days) {
    std::vector<std::string> tables;
    for (const hostprog::ReportTable& t : d.tables) tables.push_back(tableJson(t));
    days.push_back("{" + str("day", d.span) + "," + num("line", d.line) + "," +
                   str("damaged", d.damaged) + "," + field("tables", list(tables)) + "}");
  }
  std::vector<std::string> buckets(hostprog::kReportBuckets);
  for (int b = 0; b < hostprog::kReportBuckets; ++b)
    buckets[b] = jsonString(hostprog::kReportBucketNames[b]);
  const char* const kinds[] = {"warnings", "bumps", "refused", "disconnections"};
  std::vector<std::string> hours;
  hours.reserve(HostWatch::kKinds);
  for (int k = 0; k < HostWatch::kKinds; ++k)
    hours.push_back("{" + str("kind", kinds[k]) + "," + field("counts", numbers(today.hours()[k])) +
                    "}");
  const std::string host = "{" + str("label", "the host's count, not the module's table") + "," +
                           str("day", today.day()) + "," + str("since", today.since()) + "," +
                           field("rows", list(hours)) + "}";
  return "{" + str("error", file.error) + "," + field("missing", file.missing ? "true" : "false") +
         "," + field("buckets", list(buckets)) + "," + field("days", list(days)) + "," +
         field("today", host) + "}";
}

}  // namespace board

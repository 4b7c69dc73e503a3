// The console's JSON of the sysop's rows, written with the escaping helper:
// one object per channel, per delay record, per blocked address and per
// report day.
#include "board/sysop/console_views.h"

#include <algorithm>

#include "board/sysop/json.h"

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

std::string channelJson(const WhoRow& r) {
  const char* shown = r.status == 0 ? "free" : r.signedOn ? "on line" : "at the prompts";
  char number[16];
  std::snprintf(number, sizeof number, "%02X", r.number);
  const std::vector<std::string> f = {
      num("channel", r.channel),     str("number", number),
      str("status", shown),          str("user", r.user),
      str("transport", r.transport), str("address", r.address),
      str("carried", r.carried),     num("seconds", std::max<simhost::Clock>(0, r.seconds)),
      flag("watched", r.watched),    flag("candidate", r.candidate)};
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

std::string whoJson(const std::vector<WhoRow>& rows) {
  std::vector<std::string> items;
  items.reserve(rows.size());
  for (const WhoRow& r : rows) items.push_back(channelJson(r));
  return list(items);
}

std::string delaysJson(const std::vector<DelayRow>& rows) {
  std::vector<std::string> items;
  items.reserve(rows.size());
  for (const DelayRow& r : rows) {
    const hostprog::StoredDelay& d = r.stored;
    items.push_back("{" + str("user", d.userid) + "," +
                    str("stamp", hostprog::packedStamp(d.date, d.time)) + "," +
                    str("until", hostprog::packedStamp(r.end.date, r.end.time)) + "," +
                    flag("holds", r.holds) + "," +
                    str("lifts", hostprog::packedStamp(r.lifts.date, r.lifts.time)) + "}");
  }
  return list(items);
}

std::string blockedJson(const std::vector<Throttle::Block>& rows) {
  std::vector<std::string> items;
  items.reserve(rows.size());
  for (const Throttle::Block& b : rows)
    items.push_back("{" + str("address", b.address) + "," + num("seconds", b.left.count()) + "}");
  return list(items);
}

std::string reportJson(const std::string& path, const HostWatch& today) {
  return reportJson(path.empty() ? hostprog::ReportFile{"no report file is set (option 29)", {}}
                                 : hostprog::readReport(path),
                    today);
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

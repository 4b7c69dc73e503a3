// Reading the report's fixed-width tables: a rule of 80 dashes, the
// heading with the two dates and the table's kind, the column heading,
// then one row per Key class (12 characters of name, 11 counts).
#include "hostprog/report_read.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hostprog {

const char* const kReportBucketNames[kReportBuckets] = {
    "06-12", "13-15", "16-18", "19", "20", "21", "22", "23", "24", "01", "02-05"};

namespace {

const std::string kRule(80, '-');
const char kColumns[] =
    "             06-12 13-15 16-18 19    20    21    22    23    24    01    02-05";
const char kTitle[] = " Zor Gaval Activity Report: ";

bool isDate(const std::string& s, std::size_t at) {
  if (at + 8 > s.size()) return false;
  for (std::size_t k = 0; k < 8; ++k)
    if ((k == 2 || k == 5) ? s[at + k] != '/'
                           : !std::isdigit(static_cast<unsigned char>(s[at + k])))
      return false;
  return true;
}

// The span and kind of a heading, or why it is none.
std::string heading(const std::string& line, std::string* span, std::string* kind) {
  if (!isDate(line, 0) || line.size() < 17 || line[8] != '-' || !isDate(line, 9) ||
      line.compare(17, sizeof kTitle - 1, kTitle) != 0)
    return "not a table heading \"MM/DD/YY-MM/DD/YY Zor Gaval Activity Report: KIND\"";
  *span = line.substr(0, 17);
  *kind = line.substr(17 + sizeof kTitle - 1);
  if (*kind != "LOGONS" && *kind != "WARNINGS" && *kind != "BUMPS" && *kind != "DELAYS")
    return "no table kind " + *kind;
  return "";
}

std::string row(const std::string& line, ReportTable* table) {
  if (line.size() < 14) return "a Key class row too short";
  std::string key = line.substr(0, 13);
  key.erase(key.find_last_not_of(' ') + 1);
  std::istringstream in(line.substr(13));
  std::array<unsigned long, kReportBuckets> counts{};
  for (unsigned long& c : counts) {
    std::string word;
    if (!(in >> word) || word.find_first_not_of("0123456789") != std::string::npos ||
        word.size() > 10)
      return "a Key class row without its 11 counts";
    c = std::stoul(word);
  }
  if (std::string more; in >> more) return "a Key class row with more than 11 counts";
  table->keys.push_back(key);
  table->counts.push_back(counts);
  return "";
}

// One table from LINES[i] (its rule); I is left past it.
std::string table(const std::vector<std::string>& lines, std::size_t& i, std::string* span,
                  ReportTable* out) {
  ++i;
  if (i >= lines.size()) return "the file ends after a rule";
  if (std::string why = heading(lines[i], span, &out->kind); !why.empty()) return why;
  if (++i >= lines.size() || lines[i] != kColumns) return "not the column heading";
  for (int k = 0; k < kReportKeys; ++k) {
    if (++i >= lines.size()) return "the table ends after " + std::to_string(k) + " of its 10 rows";
    if (lines[i] == kRule) return "the table ends after " + std::to_string(k) + " of its 10 rows";
    if (std::string why = row(lines[i], out); !why.empty()) return why;
  }
  ++i;
  return "";
}

}  // namespace

ReportFile readReportText(const std::string& text) {
  ReportFile out;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    lines.push_back(l.empty() || l.back() != '\r' ? l : l.substr(0, l.size() - 1));
  for (std::size_t i = 0; i < lines.size();) {
    if (lines[i] != kRule) {
      // Text between tables: named with the day it follows, or alone.
      const std::string why = std::to_string(i + 1) + ": text that is not part of a table";
      if (out.days.empty() || !out.days.back().damaged.empty())
        out.days.push_back({"", static_cast<int>(i + 1), why, {}});
      else
        out.days.back().damaged = why, out.days.back().tables.clear();
      while (i < lines.size() && lines[i] != kRule) ++i;
      continue;
    }
    const std::size_t start = i;
    std::string span;
    ReportTable t;
    const std::string why = table(lines, i, &span, &t);
    const bool sameDay = !out.days.empty() && !span.empty() && out.days.back().span == span;
    if (!sameDay) out.days.push_back({span, static_cast<int>(start + 1), "", {}});
    ReportDay& day = out.days.back();
    if (!why.empty()) {
      day.damaged = std::to_string(i + 1) + ": " + why;
      day.tables.clear();
      while (i < lines.size() && lines[i] != kRule) ++i;
    } else if (day.damaged.empty()) {
      day.tables.push_back(std::move(t));
    }
  }
  return out;
}

ReportFile readReport(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file && errno == ENOENT)  // a board before its first midnight
    return {path + ": no report yet; the module appends one at each midnight", {}, true};
  if (!file) return {path + ": cannot read: " + std::strerror(errno), {}};
  std::ostringstream all;
  all << file.rdbuf();
  return readReportText(all.str());
}

}  // namespace hostprog

// The daily report file read back, table by table, from the text the
// module appended at each midnight: four tables at most per day, ten Key
// classes by eleven time buckets. A day whose text does not read is named
// with the reason; its numbers are not guessed.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace hostprog {

inline constexpr int kReportBuckets = 11;
inline constexpr int kReportKeys = 10;
extern const char* const kReportBucketNames[kReportBuckets];

struct ReportTable {
  std::string kind;  // LOGONS, WARNINGS, BUMPS or DELAYS
  std::vector<std::string> keys;
  std::vector<std::array<unsigned long, kReportBuckets>> counts;  // by key
};

struct ReportDay {
  std::string span;     // "MM/DD/YY-MM/DD/YY" as the headings give it
  int line = 0;         // of its first table
  std::string damaged;  // "LINE: why", else ""
  std::vector<ReportTable> tables;
};

struct ReportFile {
  std::string error;  // the file cannot be read at all
  std::vector<ReportDay> days;
  bool missing = false;  // there is no file yet (error says so)
};

ReportFile readReport(const std::string& path);
ReportFile readReportText(const std::string& text);

}  // namespace hostprog

// What the host sees of the module as it happens, read from the trace's
// own lines: the Bump candidate between warning and bump, and today's
// warnings, bumps, refused log-ons and disconnections by hour.
#pragma once

#include <array>
#include <string>

namespace board {

class HostWatch {
 public:
  static constexpr int kKinds = 4;  // warnings, bumps, refused, hang-ups
  // One finished trace line, "YYYY-MM-DD HH:MM:SS EVENT ...".
  void see(const std::string& line);
  const std::string& candidate() const { return candidate_; }
  const std::string& day() const { return day_; }      // "YYYY-MM-DD", "" before any line
  const std::string& since() const { return since_; }  // first moment counted today
  const std::array<std::array<int, 24>, kKinds>& hours() const { return hours_; }

 private:
  std::string candidate_, day_, since_;
  std::array<std::array<int, 24>, kKinds> hours_{};
};

// The board's one watcher, fed by the trace writer.
HostWatch& hostWatch();

}  // namespace board

// What the host sees of the module as it happens, from the board's events:
// the Bump candidate between warning and bump, and today's warnings,
// bumps, refused log-ons and disconnections by hour. The program owns the
// one watch and hands it to the console.
#pragma once

#include <array>
#include <string>

#include "simhost/event.h"

namespace board {

class HostWatch {
 public:
  static constexpr int kKinds = 4;  // warnings, bumps, refused, hang-ups
  void see(const simhost::Event& e);
  const std::string& candidate() const { return candidate_; }
  const std::string& day() const { return day_; }      // "YYYY-MM-DD", "" before any event
  const std::string& since() const { return since_; }  // first moment counted today
  const std::array<std::array<int, 24>, kKinds>& hours() const { return hours_; }

 private:
  std::string candidate_, day_, since_;
  std::array<std::array<int, 24>, kKinds> hours_{};
};

}  // namespace board

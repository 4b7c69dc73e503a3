// Flood control in the teleconference: each talker's lines pass a token
// bucket (a burst, then so many lines a second, as IRC servers pace their
// clients); a line past it is dropped, and the talker told once a spell.
#pragma once

#include <chrono>

namespace board {

struct TalkLimits {
  int burst = 10;     // lines that may come at once ...
  int perSecond = 5;  // ... then this many a second
};

// Pure bookkeeping: the time is always an argument, so it is tested
// without waiting. One per signed-on caller, on the loop's thread.
class TalkBucket {
 public:
  using Time = std::chrono::steady_clock::time_point;
  enum class Verdict { Pass, Drop, DropAndTell };

  explicit TalkBucket(TalkLimits limits = {});

  // A line the talker would say to the others, at NOW. DropAndTell is the
  // first drop of a spell; the spell ends once the bucket is full again.
  Verdict take(Time now);

 private:
  TalkLimits limits_;
  double tokens_;
  Time last_{};
  bool started_ = false;
  bool told_ = false;
};

}  // namespace board

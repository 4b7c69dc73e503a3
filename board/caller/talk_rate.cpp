// The talker's token bucket: tokens come back at the rate, up to the burst;
// each line said takes one.
#include "board/caller/talk_rate.h"

#include <algorithm>

namespace board {

TalkBucket::TalkBucket(TalkLimits limits) : limits_(limits), tokens_(limits.burst) {}

TalkBucket::Verdict TalkBucket::take(Time now) {
  if (started_ && now > last_) {
    const double seconds = std::chrono::duration<double>(now - last_).count();
    tokens_ = std::min<double>(limits_.burst, tokens_ + seconds * limits_.perSecond);
  }
  if (!started_ || now > last_) last_ = now;
  started_ = true;
  if (tokens_ >= limits_.burst) told_ = false;  // quiet long enough: a new spell
  if (tokens_ >= 1.0) {
    tokens_ -= 1.0;
    return Verdict::Pass;
  }
  if (told_) return Verdict::Drop;
  told_ = true;
  return Verdict::DropAndTell;
}

}  // namespace board

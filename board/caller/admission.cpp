// The admission's check and its refusal lines.
#include "board/caller/admission.h"

#include "simhost/event.h"

namespace board {

namespace {

constexpr auto kRefusalLines = std::chrono::seconds(5);  // an address's, at most one so often
constexpr std::size_t kRefusalsKept = 1024;              // addresses whose refusals are counted

}  // namespace

Admission::Verdict Admission::admit(const Arrival& arrival, Throttle::Time now) {
  Verdict verdict = Verdict::In;
  switch (throttle_.admit(arrival.ip, now)) {
    case Throttle::Admit::Yes:
      throttle_.callEnded(arrival.ip);  // counted once it has a channel
      return Verdict::In;
    case Throttle::Admit::Blocked:
      verdict = Verdict::Blocked;
      break;
    case Throttle::Admit::TooManyCalls:
      verdict = Verdict::TooMany;
      break;
  }
  refused(verdict, arrival.kind, arrival.from(), arrival.ip, now);
  return verdict;
}

// The first refusal of an address is traced at once, the rest at most one
// line every 5 s, naming how many refusals that line stands for.
void Admission::refused(Verdict verdict, const std::string& kind, const std::string& from,
                        const std::string& ip, Throttle::Time now) {
  if (verdict == Verdict::In) return;
  if (seen_.size() >= kRefusalsKept) {
    std::erase_if(seen_, [now](const auto& e) { return now - e.second.at >= kRefusalLines; });
    if (seen_.size() >= kRefusalsKept) seen_.clear();
  }
  const bool blocked = verdict == Verdict::Blocked;
  auto [it, fresh] =
      seen_.try_emplace((blocked ? "blocked " : "toomany ") + kind + " " + ip, Seen{now, 0});
  ++it->second.count;
  if (!fresh && now - it->second.at < kRefusalLines) return;
  const long count = it->second.count;
  simhost::emit({.kind = blocked ? simhost::EventKind::Blocked : simhost::EventKind::TooMany,
                 .address = from,
                 .number = count});
  it->second = Seen{now, 0};
}

const char* Admission::reason(Verdict verdict) {
  return verdict == Verdict::Blocked
             ? "Too many failed log-ons from your address. Please call back later.\r\n"
             : "Too many calls from your address at once. Please call back later.\r\n";
}

}  // namespace board

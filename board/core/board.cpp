// The board's loop: accepting callers onto the lowest free channel, the
// host's clock moved on by a timer armed for its next due time, the host's
// deliveries and disconnections routed to the calls, and the way down.
#include "board/core/board.h"
#include "simhost/event.h"

#include <algorithm>

namespace board {

Board::Board(net::io_context& io, const Config& config, PasswordFile& passwords)
    : io_(io),
      config_(config),
      passwords_(passwords),
      clock_(simhost::clock(), config.speed, LiveClock::Steady::now()),
      tick_(io),
      throttle_(config.throttle),
      admission_(throttle_),
      gate_(io, throttle_, admission_, passwords) {
  simhost::LiveHooks hooks;
  hooks.deliver = [this](int ch, const std::string& text) { deliver(ch, text); };
  hooks.hungUp = [this](int ch) { hungUp(ch); };
  hooks.usage = [this](int ch, std::int32_t u) { return usage(ch, u); };
  hooks.timersAsNoCaller = true;
  hooks.logonAddress = [this](int ch) {
    const auto& call = onChannel_[ch];
    return call ? call->ip() : std::string();
  };  // every watcher on line is told of a bump
  simhost::setLiveHooks(std::move(hooks));
}

Board::~Board() { simhost::setLiveHooks({}); }

void Board::reconfigure(const Config& config) {
  const bool newPace =
      config.talk.burst != config_.talk.burst || config.talk.perSecond != config_.talk.perSecond;
  config_ = config;
  throttle_.setLimits(config.throttle);
  for (const auto& call : onChannel_)
    if (call && newPace) call->paceTalk(config.talk);
}

void Board::start() { armTick(); }

void Board::turnAway(std::unique_ptr<Transport> transport, const Arrival& arrival,
                     Admission::Verdict verdict) {
  auto call = std::make_shared<Call>(*this, std::move(transport), arrival.from(), arrival.ip);
  call->turnAway(Admission::reason(verdict));
}

std::shared_ptr<Call> Board::admit(std::unique_ptr<Transport> transport, const std::string& peer,
                                   const std::string& ip, const std::string& checked) {
  advance();
  // Telnet's callers are named as they always were; the others say how
  // they came, so a sysop reading the trace can tell.
  const std::string kind = transport->kind();
  const std::string from = simhost::callerName(kind, peer);
  auto call = std::make_shared<Call>(*this, std::move(transport), from, ip);
  // Checked at accept already; the calls an address has at once are
  // counted from here, and one may have taken the last meanwhile.
  const Throttle::Time now = LiveClock::Steady::now();
  Admission::Verdict refusal = Admission::Verdict::In;
  switch (throttle_.admit(ip, now)) {
    case Throttle::Admit::Blocked:
      refusal = Admission::Verdict::Blocked;
      break;
    case Throttle::Admit::TooManyCalls:
      refusal = Admission::Verdict::TooMany;
      break;
    case Throttle::Admit::Yes:
      break;
  }
  if (refusal != Admission::Verdict::In) {
    admission_.refused(refusal, kind, from, ip, now);
    call->turnAway(Admission::reason(refusal));
    return nullptr;
  }
  int free = -1;
  for (int ch = 0; ch < nterms && free < 0; ++ch) {
    if (!onChannel_[ch] && usroff(ch)->status == 0) free = ch;
  }
  if (free < 0) {
    throttle_.callEnded(ip);
    simhost::emit({.kind = simhost::EventKind::Busy, .address = from});
    call->turnAway("All channels are busy. Please call back later.\r\n");
    return nullptr;
  }
  simhost::emit(
      {.kind = simhost::EventKind::Call, .channel = free, .transport = kind, .address = from});
  onChannel_[free] = call;
  simhost::occupy(free, 1, "(Login)");
  if (checked.empty())
    call->begin(free);
  else
    call->beginChecked(free, checked);
  return call;
}

void Board::failedLogon(const std::string& ip) {
  if (throttle_.failed(ip, LiveClock::Steady::now())) {
    simhost::emit({.kind = simhost::EventKind::Block,
                   .address = ip,
                   .number = static_cast<long>(config_.throttle.blockFor.count())});
  }
}

void Board::advance() {
  simhost::advanceTo(clock_.at(LiveClock::Steady::now()));
  armTick();
}

// One timer for the host: it wakes the loop when the host's clock reaches
// the next timer or midnight, and is armed again whenever that moves.
void Board::armTick() {
  if (stopping_) return;
  const LiveClock::Steady::time_point at = clock_.when(simhost::nextWake());
  if (tickAt_ && *tickAt_ == at) return;
  tickAt_ = at;
  tick_.expires_at(at);
  tick_.async_wait([this](const error_code& error) {
    if (error == net::error::operation_aborted) return;
    tickAt_.reset();
    advance();
  });
}

void Board::hangUp(int channel) {
  if (channel < 0 || channel >= HOST_MAX_CHANNELS) return;
  if (simhost::logoff(channel).empty()) return;
  // The host has no visit there (shut down): close the call all the same.
  hungUp(channel);
}

std::vector<std::shared_ptr<Call>> Board::calls() const {
  return std::vector<std::shared_ptr<Call>>(onChannel_.begin(), onChannel_.begin() + nterms);
}

void Board::forget(const std::shared_ptr<Call>& call) { closing_.erase(call); }

void Board::deliver(int channel, const std::string& text) {
  if (channel < 0 || channel >= HOST_MAX_CHANNELS) return;
  if (const auto& call = onChannel_[channel]) call->write(text);
}

void Board::hungUp(int channel) {
  if (channel < 0 || channel >= HOST_MAX_CHANNELS) return;
  std::shared_ptr<Call> call = std::move(onChannel_[channel]);
  onChannel_[channel].reset();
  if (!call) return;
  throttle_.callEnded(call->ip());
  closing_.insert(call);
  call->closeAfterFlush();
}

// The caller's seconds on line in this call, by the host's clock.
std::int32_t Board::usage(int channel, std::int32_t usage) const {
  const auto& call = onChannel_[channel];
  if (!call) return usage;
  const simhost::Clock on = simhost::clock() - call->since();
  return static_cast<std::int32_t>(std::clamp<simhost::Clock>(on, 0, INT32_MAX));
}

void Board::stop() {
  if (stopping_) return;
  advance();
  stopping_ = true;
  for (const auto& call : onChannel_) {
    if (call) call->write("\r\nThe board is going down now. Goodbye.\r\n");
  }
  simhost::shutdown();
  // Checks not yet begun are dropped, their callers told already; one a
  // worker is in may finish, and the exit waits for nothing more.
  gate_.stop();
  for (int ch = 0; ch < HOST_MAX_CHANNELS; ++ch) hungUp(ch);
  tick_.cancel();
  if (whenStopping_) whenStopping_();
}

}  // namespace board

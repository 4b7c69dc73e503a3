// A signed-on call carried to the board behind: the relay started in place
// of the teleconference, the caller's keys and window passed to it, its
// output and the front door's words passed to the caller, and its endings
// made the call's (a hang-up through the host's route, or one line and the
// channel freed when the board behind cannot be reached).
#include "board/core/board.h"
#include "simhost/event.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

const char kCarrying[] = "\r\nWelcome, %s. Connecting you to the board...\r\n";
const char kUnreachable[] = "\r\nThe board cannot be reached now. Please call back later.\r\n";

std::unique_ptr<BehindProtocol> protocolFor(const BehindTarget& target, const std::string& userid,
                                            Window window) {
  if (target.kind == BehindTarget::Kind::RLogin) return rloginProtocol(target, userid, window);
  return telnetClient(target, userid, window);
}

}  // namespace

void Call::carry() {
  const BehindTarget& target = board_.config().behind;
  std::string hello = kCarrying;
  hello.replace(hello.find("%s"), 2, userid_);
  connection_.write(hello);
  stage_ = Stage::Connecting;
  carriedTo_ = target.name();  // as it stands now, whatever a reload does meanwhile
  timeout_.cancel();           // the relay's own time to reach the board behind rules now
  lines().setRaw();
  RelayOwner& owner = *this;
  relay_ =
      std::make_unique<Relay>(board_.io(), target, protocolFor(target, userid_, lines().window()),
                              owner, board_.behindCounts(), [this] { return shared_from_this(); });
  lines().watchWindow([this](Window window) {
    if (relay_) relay_->resized(window);
  });
  relay_->start();
}

void Call::reached() {
  if (stage_ != Stage::Connecting) return;
  stage_ = Stage::Carried;
  carriedSince_ = simhost::clock();
  simhost::emit({.kind = simhost::EventKind::Carry, .channel = channel_, .text = carriedTo_});
  armTimeout();
  connection_.pump();  // keys typed ahead go first
}

// One line to the caller, the failure traced, and the channel freed
// through the host's route like any hang-up.
void Call::unreachable(const std::string& why) {
  if (stage_ != Stage::Connecting || channel_ < 0) return;
  board_.advance();
  simhost::emit({.kind = simhost::EventKind::NoBehind, .channel = channel_, .text = why});
  connection_.write(kUnreachable);
  board_.hangUp(channel_);
}

void Call::behindGone() {
  if (stage_ != Stage::Carried || channel_ < 0) return;
  board_.advance();
  board_.hangUp(channel_);
}

// Connecting, the caller's keys wait in the kernel; carried, while the
// queue to the board behind is full.
bool Call::holding() const {
  if (stage_ == Stage::Checking || stage_ == Stage::Connecting) return true;
  return stage_ == Stage::Carried && !relay_->takesKeys();
}

void Call::keys(std::string_view keys) {
  if (stage_ != Stage::Carried) return;
  armTimeout();
  relay_->keys(keys);
}

// The caller's queue below half its bound: the board behind is read again.
bool Call::callerHasRoom() const { return connection_.queued() < kQueueCap / 2; }

void Call::sent() {
  if (relay_ && callerHasRoom()) relay_->callerRoom();
}

std::string Call::carriedText() const {
  if (stage_ != Stage::Carried) return "";
  return "carried to " + carriedTo_ + " since " + simhost::formatClock(carriedSince_);
}

void Call::write(std::string_view text) {
  if (relay_ && relay_->carrying())
    relay_->say(text);
  else
    connection_.write(text);
}

}  // namespace board

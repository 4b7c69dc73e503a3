// The board's loop: accepting callers onto the lowest free channel, the
// host's clock moved on by a timer armed for its next due time, the host's
// deliveries and disconnections routed to the calls, and the way down.
#include "board/core/board.h"
#include "board/core/error_line.h"
#include "board/core/passed_sockets.h"
#include "simhost/event.h"

#include <algorithm>
#include <iostream>

namespace board {

net::ip::address plainAddress(const net::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return net::ip::make_address_v4(net::ip::v4_mapped, a.to_v6());
  return a;
}

std::string addressText(const net::ip::tcp::endpoint& e) {
  const net::ip::address a = plainAddress(e.address());
  const std::string host = a.is_v6() ? "[" + a.to_string() + "]" : a.to_string();
  return host + ":" + std::to_string(e.port());
}

void Board::sayOnce(const std::string& line) {
  if (said_.insert(line).second) std::cerr << errorLine(line) << std::endl;
}

Board::Board(net::io_context& io, const Config& config, PasswordFile& passwords)
    : io_(io),
      config_(config),
      passwords_(passwords),
      clock_(simhost::clock(), config.speed, LiveClock::Steady::now()),
      acceptor_(io),
      tick_(io),
      throttle_(config.throttle),
      gate_(io, throttle_, passwords) {
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

std::string Board::bind() {
  if (!config_.telnet) return "";  // --listen none
  return listenOn(acceptor_, config_.listenHost, config_.port, "--listen");
}

std::string listenOn(net::ip::tcp::acceptor& acceptor, const std::string& host, unsigned port,
                     const char* flag) {
  // A socket systemd passed for this listener is taken as it is.
  if (adoptPassedSocket(acceptor, flag)) return addressText(acceptor.local_endpoint());
  // A name is resolved (localhost, a host name); each address it has is
  // tried in turn until one can be bound.
  error_code error;
  net::ip::tcp::resolver resolver(acceptor.get_executor());
  const auto found =
      resolver.resolve(host, std::to_string(port), net::ip::tcp::resolver::passive, error);
  if (error || found.empty()) {
    throw simhost::Fatal(2, std::string(flag) + ": " + simhost::quote(host) +
                                " is not an address or a name that resolves" +
                                (error ? " (" + error.message() + ")" : ""));
  }
  std::string tried;
  for (const auto& entry : found) {
    const net::ip::tcp::endpoint wanted = entry.endpoint();
    tried = addressText(wanted);
    error.clear();
    acceptor.open(wanted.protocol(), error);
    if (!error) acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(wanted, error);
    if (!error) acceptor.listen(net::socket_base::max_listen_connections, error);
    if (!error) return addressText(acceptor.local_endpoint());
    error_code ignored;
    acceptor.close(ignored);
  }
  throw simhost::Fatal(1, "cannot listen on " + tried + ": " + error.message());
}

namespace {

// One acceptor's loop: each accept arms the next.
struct AcceptLoop : std::enable_shared_from_this<AcceptLoop> {
  AcceptLoop(net::ip::tcp::acceptor& acceptor, std::function<bool()> stopped,
             std::function<void(net::ip::tcp::socket)> take,
             std::function<void(const error_code&)> failed)
      : acceptor(acceptor),
        stopped(std::move(stopped)),
        take(std::move(take)),
        failed(std::move(failed)) {}

  void next() {
    acceptor.async_accept(
        [self = shared_from_this()](const error_code& error, net::ip::tcp::socket socket) {
          if (error == net::error::operation_aborted || self->stopped()) return;
          if (!error) {
            self->take(std::move(socket));
            self->next();
            return;
          }
          // Out of descriptors or a like fault: try again shortly rather than
          // spin on an accept that fails at once.
          if (self->failed) self->failed(error);
          auto pause = std::make_shared<net::steady_timer>(self->acceptor.get_executor(),
                                                           std::chrono::milliseconds(100));
          pause->async_wait([self, pause](const error_code& e) {
            if (!e && !self->stopped()) self->next();
          });
        });
  }

  net::ip::tcp::acceptor& acceptor;
  std::function<bool()> stopped;
  std::function<void(net::ip::tcp::socket)> take;
  std::function<void(const error_code&)> failed;
};

}  // namespace

void acceptEach(net::ip::tcp::acceptor& acceptor, std::function<bool()> stopped,
                std::function<void(net::ip::tcp::socket)> take,
                std::function<void(const error_code&)> failed) {
  std::make_shared<AcceptLoop>(acceptor, std::move(stopped), std::move(take), std::move(failed))
      ->next();
}

void Board::serveCalls() {
  armTick();
  if (!config_.telnet) return;
  acceptEach(
      acceptor_, [this] { return stopping_; },
      [this](net::ip::tcp::socket socket) { accepted(std::move(socket)); },
      [this](const error_code& error) {  // said once a kind, not a storm
        sayOnce("cannot accept a call (" + error.message() + "); trying again every 100 ms");
      });
}

void Board::accepted(net::ip::tcp::socket socket) {
  error_code error;
  const auto peer = socket.remote_endpoint(error);
  const std::string from = error ? std::string("unknown") : addressText(peer);
  const std::string ip = error ? from : plainAddress(peer.address()).to_string();
  admit(telnetTransport(std::move(socket)), from, ip);
}

std::shared_ptr<Call> Board::admit(std::unique_ptr<Transport> transport, const std::string& peer,
                                   const std::string& ip, const std::string& checked) {
  advance();
  // Telnet's callers are named as they always were; the others say how
  // they came, so a sysop reading the trace can tell.
  const std::string kind = transport->kind();
  const std::string from = simhost::callerName(kind, peer);
  auto call = std::make_shared<Call>(*this, std::move(transport), from, ip);
  switch (throttle_.admit(ip, LiveClock::Steady::now())) {
    case Throttle::Admit::Blocked:
      simhost::emit({.kind = simhost::EventKind::Blocked, .address = from});
      call->turnAway("Too many failed log-ons from your address. Please call back later.\r\n");
      return nullptr;
    case Throttle::Admit::TooManyCalls:
      simhost::emit({.kind = simhost::EventKind::TooMany, .address = from});
      call->turnAway("Too many calls from your address at once. Please call back later.\r\n");
      return nullptr;
    case Throttle::Admit::Yes:
      break;
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
  error_code ignored;
  acceptor_.close(ignored);
  tick_.cancel();
  if (whenStopping_) whenStopping_();
}

}  // namespace board

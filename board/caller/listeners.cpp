// The listeners' table: binding, the accept loop each runs, and the one
// handler every accepted connection goes through.
#include "board/caller/listeners.h"

#include <iostream>
#include <set>

#include "board/core/error_line.h"
#include "board/core/live_clock.h"
#include "board/core/passed_sockets.h"
#include "simhost/simhost.h"

namespace board {

struct Listeners::Entry {
  Entry(net::io_context& io, ListenerRole role) : role(std::move(role)), acceptor(io) {}
  ListenerRole role;
  net::ip::tcp::acceptor acceptor;
  std::set<std::string> said;  // accept faults told once a kind
};

namespace {

// ACCEPTOR bound and listening on HOST:PORT, a name resolved and each of
// its addresses tried in turn until one can be bound.
std::string listenOn(net::ip::tcp::acceptor& acceptor, const std::string& host, unsigned port,
                     const char* flag) {
  if (adoptPassedSocket(acceptor, flag)) return addressText(acceptor.local_endpoint());
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

}  // namespace

Listeners::Listeners(net::io_context& io, Admission& admission) : io_(io), admission_(admission) {}

Listeners::~Listeners() = default;

std::string Listeners::add(ListenerRole role) {
  auto entry = std::make_unique<Entry>(io_, std::move(role));
  std::string at = listenOn(entry->acceptor, entry->role.host, entry->role.port, entry->role.flag);
  entries_.push_back(std::move(entry));
  return at;
}

void Listeners::serve() {
  for (const auto& entry : entries_) acceptNext(*entry);
}

// One acceptor's loop: each accept arms the next. An accept that fails
// (out of descriptors) is said once and tried again every 100 ms, not in
// a spin.
void Listeners::acceptNext(Entry& entry) {
  entry.acceptor.async_accept([this, &entry](const error_code& error, net::ip::tcp::socket socket) {
    if (error == net::error::operation_aborted || stopping_) return;
    if (!error) {
      accepted(entry, std::move(socket));
      acceptNext(entry);
      return;
    }
    if (entry.said.insert(error.message()).second)
      std::cerr << errorLine("cannot accept a connection on " + entry.role.kind + " (" +
                             error.message() + "); trying again every 100 ms")
                << std::endl;
    auto pause = std::make_shared<net::steady_timer>(io_, std::chrono::milliseconds(100));
    pause->async_wait([this, &entry, pause](const error_code& e) {
      if (!e && !stopping_) acceptNext(entry);
    });
  });
}

void Listeners::accepted(Entry& entry, net::ip::tcp::socket socket) {
  error_code error;
  const auto remote = socket.remote_endpoint(error);
  if (error) return;  // gone already
  const auto local = socket.local_endpoint(error);
  if (error) return;
  Arrival arrival{entry.role.kind, addressText(remote), plainAddress(remote.address()).to_string(),
                  plainAddress(local.address()).to_string(), remote.port()};
  const ListenerRole& role = entry.role;
  Admission::Verdict verdict = Admission::Verdict::In;
  if (!role.deferred || !role.deferred(arrival))
    verdict = admission_.admit(arrival, LiveClock::Steady::now());
  if (verdict == Admission::Verdict::In && role.room && !role.room(arrival)) {
    verdict = Admission::Verdict::TooMany;
    admission_.refused(verdict, arrival.kind, arrival.from(), arrival.ip, LiveClock::Steady::now());
  }
  if (verdict == Admission::Verdict::In)
    role.take(std::move(socket), arrival);
  else if (role.refuse)
    role.refuse(std::move(socket), arrival, verdict);
}

void Listeners::stop() {
  stopping_ = true;
  for (const auto& entry : entries_) {
    error_code ignored;
    entry->acceptor.close(ignored);
  }
}

}  // namespace board

// The metrics: the tally of the board's events and the exposition written
// by hand, as the format is a few lines of text: a HELP, a TYPE and samples.
#include "board/sysop/metrics.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "board/behind/counts.h"
#include "board/core/board.h"
#include "board/web/web_rules.h"
#include "hostprog/delays.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

class Writer {
 public:
  void family(const char* name, const char* type, const char* help) {
    out_ << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
  }
  void sample(const std::string& name, double value, const std::string& labels = "") {
    out_ << name << (labels.empty() ? "" : "{" + labels + "}") << ' ';
    if (value == std::floor(value) && std::fabs(value) < 1e15)
      out_ << static_cast<long long>(value) << '\n';
    else
      out_ << std::setprecision(15) << value << '\n';
  }
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

// Resident bytes and the start in seconds since the epoch, from /proc.
double residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

double startTime() {
  std::ifstream stat("/proc/self/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(all.substr(all.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {  // field 22: ticks after the boot
  }
  std::ifstream system("/proc/stat");
  double boot = 0;
  for (std::string word; system >> word;) {
    if (word == "btime" && system >> boot) break;
  }
  return boot + std::stod(field.empty() ? "0" : field) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The front door's families (board/behind/counts.h), read as they stand.
void frontDoor(Writer& w, const BehindCounts& door) {
  const std::pair<const char*, double> counts[] = {
      {"zorgaval_carried_calls_total", static_cast<double>(door.carried)},
      {"zorgaval_carried_bytes_to_caller_total", static_cast<double>(door.bytesToCaller)},
      {"zorgaval_carried_bytes_to_behind_total", static_cast<double>(door.bytesToBehind)},
      {"zorgaval_behind_unreachable_total", static_cast<double>(door.unreachable)}};
  const char* helps[] = {"Calls carried to the board behind.",
                         "Bytes the board behind sent to carried callers.",
                         "Bytes carried callers typed to the board behind.",
                         "Calls that could not reach the board behind."};
  for (std::size_t i = 0; i < std::size(counts); ++i) {
    w.family(counts[i].first, "counter", helps[i]);
    w.sample(counts[i].first, counts[i].second);
  }
  w.family("zorgaval_carried_calls", "gauge", "Calls carried to the board behind now.");
  w.sample("zorgaval_carried_calls", static_cast<double>(door.carriedNow));
}

}  // namespace

void MetricsTally::see(const simhost::Event& e) {
  using simhost::EventKind;
  switch (e.kind) {
    case EventKind::Call:
      ++callsBy[e.transport];
      break;
    case EventKind::Logon:
      accepted += e.accepted ? 1 : 0;  // a refused member's is counted as delayed
      break;
    case EventKind::Wrong:
      ++rejected;
      break;
    case EventKind::Unknown:
      ++unknown;
      break;
    case EventKind::Busy:
      ++busy;
      break;
    case EventKind::Overflow:
      ++overflows;
      break;
    default:
      AuditCounts::see(e);
  }
}

std::string exposition(const MetricsTally& tally, Board& board) {
  Writer w;
  w.family("zorgaval_calls_total", "counter", "Calls given a channel, by transport.");
  for (const char* kind : {"telnet", "ssh", "ws", "wss"}) {
    const auto found = tally.callsBy.find(kind);
    w.sample("zorgaval_calls_total", found == tally.callsBy.end() ? 0 : found->second,
             std::string("transport=\"") + kind + "\"");
  }
  w.family("zorgaval_logons_total", "counter",
           "Log-ons accepted, and wrong passwords and unknown ids on every transport.");
  w.sample("zorgaval_logons_total", tally.accepted, "result=\"accepted\"");
  w.sample("zorgaval_logons_total", tally.rejected, "result=\"rejected\"");
  w.sample("zorgaval_logons_total", tally.unknown, "result=\"unknown\"");
  const std::pair<const char*, long> counts[] = {{"zorgaval_warnings_total", tally.warnings},
                                                 {"zorgaval_bumps_total", tally.bumps},
                                                 {"zorgaval_delayed_logons_total", tally.delayed},
                                                 {"zorgaval_busy_refusals_total", tally.busy},
                                                 {"zorgaval_overflows_total", tally.overflows}};
  const char* helps[] = {"Warnings the module audited.", "Bumps the module audited.",
                         "Log-ons the module delayed.", "Calls told every channel is busy.",
                         "Calls ended for not reading their output."};
  for (std::size_t i = 0; i < std::size(counts); ++i) {
    w.family(counts[i].first, "counter", helps[i]);
    w.sample(counts[i].first, counts[i].second);
  }
  int login = 0, online = 0;
  for (const auto& call : board.calls()) {
    if (call) ++(call->signedOn() ? online : login);
  }
  w.family("zorgaval_channels", "gauge", "Channels by state.");
  w.sample("zorgaval_channels", nterms - login - online, "state=\"free\"");
  w.sample("zorgaval_channels", login, "state=\"login\"");
  w.sample("zorgaval_channels", online, "state=\"online\"");
  const auto gauge = [&w](const char* name, const char* help, double value) {
    w.family(name, "gauge", help);
    w.sample(name, value);
  };
  gauge("zorgaval_blocked_addresses", "Addresses blocked for failed log-ons.",
        static_cast<double>(board.throttle().blocked(LiveClock::Steady::now()).size()));
  gauge("zorgaval_password_checks_queued", "Password checks waiting or running.",
        board.gate().queued());
  gauge("zorgaval_delay_records", "Delay records stored.",
        static_cast<double>(hostprog::delays().size()));
  frontDoor(w, board.behindCounts());
  gauge("process_resident_memory_bytes", "Resident memory size in bytes.", residentBytes());
  gauge("process_start_time_seconds", "Start time of the process since the epoch in seconds.",
        startTime());
  return w.text();
}

HttpRoute metricsRoute(Board& board, const MetricsTally& tally, std::vector<std::string> from) {
  return [&board, &tally,
          from = std::move(from)](const HttpRequest& request) -> std::optional<HttpResponse> {
    if (request.target != "/metrics" && !request.target.starts_with("/metrics?"))
      return std::nullopt;
    if (request.method != "GET") {
      HttpResponse refused = textAnswer(405, "GET or HEAD only.\n");
      refused.headers.emplace_back("Allow", "GET, HEAD");
      return refused;
    }
    error_code bad;
    const auto address = net::ip::make_address(request.ip, bad);
    const bool allowed = (!bad && address.is_loopback()) ||
                         std::any_of(from.begin(), from.end(), [&](const std::string& f) {
                           return sameAddress(f, request.ip);
                         });
    if (!allowed) return textAnswer(403, "Not for you.\n");
    HttpResponse answer = textAnswer(200, exposition(tally, board));
    answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
    return answer;
  };
}

}  // namespace board

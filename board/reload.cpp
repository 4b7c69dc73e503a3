// A reload: the settings compared one by one with the running ones, those
// that may change applied to the board in place (its Config, the throttle,
// the talkers' pace, the console's key, the TLS pair), the rest named in
// one warning; systemd told of the reload as it runs.
#include "board/reload.h"

#include <systemd/sd-daemon.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include "board/core/board.h"
#include "board/core/error_line.h"
#include "board/core/passed_sockets.h"
#include "board/web/web_listener.h"
#include "simhost/event.h"

namespace board {

namespace {

// One setting: its flag, whether a reload applies it, how two
// configurations are told apart on it, and (when applied) how it is taken.
struct Setting {
  const char* flag;
  bool (*same)(const Config& a, const Config& b);
  void (*take)(Config& running, const Config& wanted);  // null: a restart applies it
};

#define ZG_SAME(expr) [](const Config& a, const Config& b) { return a.expr == b.expr; }
#define ZG_TAKE(expr) [](Config& r, const Config& w) { r.expr = w.expr; }

// Each setting the command line and the file may give.
const Setting kSettings[] = {
    {"--idle-timeout", ZG_SAME(idleSeconds), ZG_TAKE(idleSeconds)},
    {"--prompt-timeout", ZG_SAME(promptSeconds), ZG_TAKE(promptSeconds)},
    {"--fail-limit", ZG_SAME(throttle.failures), ZG_TAKE(throttle.failures)},
    {"--fail-window", ZG_SAME(throttle.window), ZG_TAKE(throttle.window)},
    {"--block-time", ZG_SAME(throttle.blockFor), ZG_TAKE(throttle.blockFor)},
    {"--block-loopback", ZG_SAME(throttle.includeLoopback), ZG_TAKE(throttle.includeLoopback)},
    {"--calls-per-address", ZG_SAME(throttle.callsPerAddress), ZG_TAKE(throttle.callsPerAddress)},
    {"--signup-limit", ZG_SAME(throttle.signUps), ZG_TAKE(throttle.signUps)},
    {"--talk-rate",
     [](const Config& a, const Config& b) {
       return a.talk.burst == b.talk.burst && a.talk.perSecond == b.talk.perSecond;
     },
     ZG_TAKE(talk)},
    {"--charset", ZG_SAME(charset), ZG_TAKE(charset)},
    {"--new-users",
     [](const Config& a, const Config& b) {
       return a.newUsers == b.newUsers && a.newUserKeys == b.newUserKeys;
     },
     [](Config& r, const Config& w) {
       r.newUsers = w.newUsers;
       r.newUserKeys = w.newUserKeys;
     }},
    {"--console-key", ZG_SAME(consoleKey), ZG_TAKE(consoleKey)},
    // The front door's target: calls carried from now on; those carried
    // already stay where they are.
    {"--behind",
     [](const Config& a, const Config& b) {
       return a.behind.kind == b.behind.kind && a.behind.host == b.behind.host &&
              a.behind.port == b.behind.port;
     },
     [](Config& r, const Config& w) {
       r.behind.kind = w.behind.kind;
       r.behind.host = w.behind.host;
       r.behind.port = w.behind.port;
     }},
    {"--behind-user-fields",
     [](const Config& a, const Config& b) {
       const auto same = [](const UserField& x, const UserField& y) {
         return x.userid == y.userid && x.text == y.text;
       };
       return same(a.behind.clientUser, b.behind.clientUser) &&
              same(a.behind.serverUser, b.behind.serverUser);
     },
     [](Config& r, const Config& w) {
       r.behind.clientUser = w.behind.clientUser;
       r.behind.serverUser = w.behind.serverUser;
     }},
    {"--behind-terminal", ZG_SAME(behind.terminal), ZG_TAKE(behind.terminal)},
    {"--metrics-from", ZG_SAME(metricsFrom), ZG_TAKE(metricsFrom)},
    {"--web-trust-proxy", ZG_SAME(trustProxy), ZG_TAKE(trustProxy)},
    // The pair's paths; whether TLS is served at all is the listener's kind.
    {"--web-tls",
     [](const Config& a, const Config& b) {
       return a.webCert == b.webCert && a.webKey == b.webKey;
     },
     [](Config& r, const Config& w) {
       if (r.webCert.empty() || w.webCert.empty()) return;
       r.webCert = w.webCert;
       r.webKey = w.webKey;
     }},
    {"--dir", ZG_SAME(dir), nullptr},
    {"--options", ZG_SAME(options), nullptr},
    {"--module", ZG_SAME(module), nullptr},
    {"--listen",
     [](const Config& a, const Config& b) {
       return a.telnet == b.telnet &&
              (!a.telnet || (a.listenHost == b.listenHost && a.port == b.port));
     },
     nullptr},
    {"--ssh",
     [](const Config& a, const Config& b) {
       return a.ssh == b.ssh && (!a.ssh || (a.sshHost == b.sshHost && a.sshPort == b.sshPort));
     },
     nullptr},
    {"--ssh-legacy", ZG_SAME(sshLegacy), nullptr},
    {"--channels", ZG_SAME(channels), nullptr},
    {"--first", ZG_SAME(firstNumber), nullptr},
    {"--speed", ZG_SAME(speed), nullptr},
    {"--clock", ZG_SAME(clock), nullptr},
    {"--web",
     [](const Config& a, const Config& b) {
       return a.web.host == b.web.host && a.web.port == b.web.port;
     },
     nullptr},
    {"--web-root", ZG_SAME(webRoot), nullptr},
    {"--metrics",
     [](const Config& a, const Config& b) {
       return a.metrics.host == b.metrics.host && a.metrics.port == b.metrics.port;
     },
     nullptr},
};

#undef ZG_SAME
#undef ZG_TAKE

std::string joined(const std::vector<std::string>& words, const char* between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

void notifyReloading() {
  const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  // MONOTONIC_USEC: the steady clock is CLOCK_MONOTONIC, as systemd asks.
  sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%lld", static_cast<long long>(now.count()));
}

// The error line, and systemd told the reload is over with the board as it was.
void refuse(const std::string& error) {
  std::cerr << errorLine(error) << std::endl;
  simhost::warning("reload refused, the running settings stay: " + error);
  sd_notifyf(0, "READY=1\nSTATUS=reload refused: %s", error.c_str());
}

}  // namespace

std::string certificateText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ConfigChanges compareConfigs(const Config& running, const Config& wanted) {
  ConfigChanges out;
  for (const Setting& s : kSettings) {
    if (s.same(running, wanted)) continue;
    // TLS turned on or off changes the listener's kind: a restart.
    const bool tlsKind =
        std::string(s.flag) == "--web-tls" && running.webCert.empty() != wanted.webCert.empty();
    (s.take && !tlsKind ? out.applied : out.needRestart).push_back(s.flag);
  }
  return out;
}

Config reloadable(const Config& running, const Config& wanted) {
  Config out = running;
  for (const Setting& s : kSettings)
    if (s.take) s.take(out, wanted);
  return out;
}

void reload(const std::vector<std::string>& args, const std::string& base, ReloadTargets& to) {
  notifyReloading();
  to.board.advance();  // the host's clock brought to now, for the lines' stamps
  ParsedConfig parsed = parseConfig(args, base);
  if (!parsed.error.empty()) return refuse(parsed.error);
  withPassedSockets(parsed.config);
  const Config& running = to.board.config();
  ConfigChanges changes = compareConfigs(running, parsed.config);
  const Config next = reloadable(running, parsed.config);
  // The pair is read again even under the same paths: a renewal replaces
  // the files, not their names.
  if (to.tls && !next.webCert.empty()) {
    try {
      to.tls->useTls(next.webCert, next.webKey);
    } catch (const simhost::Fatal& fatal) {
      return refuse(fatal.what());
    }
    std::string pem = certificateText(next.webCert);
    if (pem != to.certPem && next.webCert == running.webCert)
      changes.applied.push_back("--web-tls");
    to.certPem = std::move(pem);
  }
  const bool newKey = next.consoleKey != running.consoleKey;
  to.board.reconfigure(next);
  if (newKey && to.consoleKey) to.consoleKey(next.consoleKey);
  std::vector<std::string> names;
  for (const std::string& flag : changes.applied) names.push_back(flag.substr(2));
  simhost::emit({.kind = simhost::EventKind::Reload, .text = joined(names, " ")});
  if (!changes.needRestart.empty()) {
    const std::string line = "reload: changed, and kept as they run until a restart: " +
                             joined(changes.needRestart, ", ");
    std::cerr << errorLine(line) << std::endl;
    simhost::warning(line);
  }
  sd_notify(0, "READY=1\nSTATUS=");
}

}  // namespace board

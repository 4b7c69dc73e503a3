// The zorgaval-board program: the command line and its configuration
// file, DIR held and completed with the samples, the module started, then
// the loop until a signal or `ctl shutdown`, SIGHUP reloading the
// configuration; errors and exit statuses as the simulator's.
#include "board/program.h"

#include <fcntl.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "board/core/board.h"
#include "board/core/error_line.h"
#include "board/core/passed_sockets.h"
#include "board/reload.h"
#include "board/ssh/ssh_host_key.h"
#include "board/ssh/ssh_listener.h"
#include "board/sysop/console.h"
#include "board/sysop/host_watch.h"
#include "board/sysop/metrics.h"
#include "board/sysop/sysop.h"
#include "board/tools/accounts.h"
#include "board/web/web_listener.h"
#include "hostprog/delays.h"
#include "hostprog/files.h"
#include "hostprog/module.h"
#include "hostprog/module_files.h"
#include "hostprog/trace_out.h"
#include "hostprog/vetting.h"
#include "hostprog/warnings.h"

namespace fs = std::filesystem;

namespace board {

namespace {

const char kVersion[] = "zorgaval-board 1.0 (module Zor Gaval 1.0W)\n";

void say(const std::string& line) { std::cerr << errorLine(line) << std::endl; }

// The option file and the paths of options 28 and 29 are vetted as the
// simulator vets them, before any file of DIR is written: an event log
// aimed at the delay file would be appended to it and ruin it.
void vetOptionFile(const Config& config, const std::string& dir) {
  const std::vector<std::string> errors =
      hostprog::vetFiles(hostprog::readOptionFile(config.options, dir));
  if (errors.empty()) return;
  std::string all;
  for (const std::string& e : errors) all += (all.empty() ? "" : "\n") + e;
  throw simhost::Fatal(2, all);
}

// A sign-up stores the password, then the account: a kill between the two
// leaves a password no account holds, removed here, so the sign-up is absent
// and its user-id free again. An account without a password (an `account
// add` cut short, a scenario's) is left as it is.
void dropOrphanPasswords(PasswordFile& passwords) {
  for (const std::string& userid : passwords.userids()) {
    if (simhost::findAccount(userid)) continue;
    if (passwords.remove(userid).empty()) {
      simhost::warning("passwords.dat: removed the password of " + simhost::quote(userid) +
                       ", who has no account (a sign-up cut short)");
    }
  }
}

// An `account` command holds DIR for the milliseconds its change takes; a
// board or a simulator holds it for good. So a lock is waited for a while,
// unless a board answers on DIR's control socket.
void holdDirectoryPatiently(const std::string& dir) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    try {
      simhost::holdDirectory(dir);
      return;
    } catch (const simhost::Fatal& fatal) {
      if (std::string(fatal.what()).find("in use by another host") == std::string::npos ||
          std::chrono::steady_clock::now() >= until || askBoard(dir, {"who"})) {
        throw;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// DIR held, vetted and completed with the samples, the module loaded and
// the host made: everything before the module starts.
simhost::InitRoutine prepareHost(const Config& config) {
  const std::string dir = hostprog::absolutePath(config.dir.empty() ? "." : config.dir);
  const std::string modulePath =
      config.module.empty() ? hostprog::defaultModule() : hostprog::absolutePath(config.module);
  const std::string optionsPath =
      config.options.empty() ? "" : hostprog::absolutePath(config.options);

  // DIR is held before any file in it is touched; reset() chdir()s there.
  holdDirectoryPatiently(dir);
  if (::chdir(dir.c_str()) != 0) {
    throw simhost::Fatal(1, dir + ": cannot work in this directory: " + std::strerror(errno));
  }
  vetOptionFile(config, dir);
  if (std::string failed = hostprog::writeSamples(dir, nullptr); !failed.empty())
    throw simhost::Fatal(1, "zorgaval-board: " + failed);
  const simhost::InitRoutine init = hostprog::loadModule(modulePath);

  simhost::Setup setup;
  setup.dir = dir;
  if (!optionsPath.empty()) setup.optionFile = {hostprog::kOptionFile, optionsPath};
  setup.clock = config.clock ? *config.clock : simhost::localClockNow();
  setup.channels = config.channels;
  setup.firstNumber = config.firstNumber;
  // The console reads what the host sees from the same lines.
  setup.trace = [](const std::string& line) {
    hostprog::writeTraceLine(line);
    hostWatch().see(line);
    metricsTally().see(line);
  };
  simhost::reset(setup);
  return init;
}

// What the board can run with but a sysop would not want: on standard
// error and as `warning` lines in the trace, once the module has started.
void startWarnings(const Config& config) {
  std::vector<std::string> lines;
  const hostprog::OptionFile options =
      hostprog::readOptionFile(config.options, hostprog::absolutePath("."));
  for (const std::string& w : hostprog::optionWarnings(options)) lines.push_back(w);
  if (simhost::accounts().empty() && !config.newUsers)
    lines.push_back(
        "zorgaval-board: no account yet, so no caller can sign on: add one with "
        "`zorgaval-board account add USERID --dir DIR`");
  if (config.behind.kind == BehindTarget::Kind::RLogin && !mayUseReservedPort())
    lines.push_back(
        "zorgaval-board: --behind " + config.behind.name() +
        ": not running as root, so the calls to the board behind come from ports above 1023, "
        "which an RLogin server refuses unless it is told to trust them");
  const auto first = simhost::readHexOption(options.parsed, 17, 0, 255).number;
  const auto last = simhost::readHexOption(options.parsed, 18, 0, 255).number;
  const unsigned low = static_cast<unsigned>(std::min(first, last));
  const unsigned high = static_cast<unsigned>(std::max(first, last));
  const unsigned top = config.firstNumber + static_cast<unsigned>(config.channels) - 1;
  if (options.readable && (low < config.firstNumber || high > top))
    lines.push_back("zorgaval-board: the watched range " + simhost::text::hex2(low) + " to " +
                    simhost::text::hex2(high) + " reaches past the board's channels " +
                    simhost::text::hex2(config.firstNumber) + " to " + simhost::text::hex2(top) +
                    ": the range counts only the channels there are");
  for (const std::string& line : lines) {
    std::cerr << errorLine(line) << std::endl;
    simhost::warning(line.rfind("zorgaval-board: ", 0) == 0 ? line.substr(16) : line);
  }
}

// What the evening starts from, for a replay of its trace: the channels,
// their first number as --first takes it, DIR, and the delay records the
// module found stored.
void traceStart(const Config& config) {
  char first[16];
  std::snprintf(first, sizeof first, "%02X", config.firstNumber);
  simhost::trace("board " + std::to_string(nterms) + " " + first + " " +
                 simhost::quote(fs::current_path().string()));  // DIR: prepareHost went there
  for (const hostprog::StoredDelay& d : hostprog::delays())
    simhost::trace("delay " + simhost::quote(d.userid) + " " +
                   hostprog::packedStamp(d.date, d.time));
}

// The web listener and the metrics' own, bound (so a bad address or TLS
// pair stops the start before the module runs), with what to say once up.
struct WebListeners {
  std::vector<std::unique_ptr<WebListener>> listeners;
  WebListener* tls = nullptr;  // the one serving HTTPS, whose pair a reload renews
  std::vector<std::string> said;
};

// /metrics answering the addresses the board's settings name at each
// request, so that a reload's --metrics-from holds at once.
HttpRoute liveMetricsRoute(Board& board) {
  return [&board](const HttpRequest& request) {
    return metricsRoute(board, board.config().metricsFrom)(request);
  };
}

// The console for the running key. A reload that changes the key mounts a
// new console, whose sessions begin empty: whoever signed in under the old
// key signs in again. The old one stays mounted for the watches it feeds.
struct ConsoleMount {
  std::vector<HttpRoute> mounted;  // the last is in use
  HttpRoute route() {
    return [this](const HttpRequest& request) { return mounted.back()(request); };
  }
};

// ROUTES (the sysop's pages) are tried first, then /metrics and the files.
WebListeners bindWeb(Board& board, const Config& config, std::vector<HttpRoute> routes) {
  WebListeners out;
  if (config.web.on()) {
    routes.push_back(liveMetricsRoute(board));
    routes.push_back(staticFiles(config.webRoot));
    auto web = std::make_unique<WebListener>(board, config.web, std::move(routes), true);
    if (!config.webCert.empty()) {
      web->useTls(config.webCert, config.webKey);
      out.tls = web.get();
    }
    out.said.push_back("web listening on " + web->bind("--web"));
    out.listeners.push_back(std::move(web));
  }
  if (config.metrics.on()) {
    auto metrics = std::make_unique<WebListener>(
        board, config.metrics, std::vector<HttpRoute>{liveMetricsRoute(board)}, false);
    out.said.push_back("metrics listening on " + metrics->bind("--metrics"));
    out.listeners.push_back(std::move(metrics));
  }
  return out;
}

// Where the running configuration came from, read again at each reload:
// the command line's words, and the directory its relative paths name.
struct Invocation {
  std::vector<std::string> args;
  std::string base;
};

// The listeners beside the board's own telnet one, bound.
struct Listeners {
  std::string telnetAt, sshAt;
  std::unique_ptr<SshListener> ssh;
  WebListeners web;
};

// Each listener bound before the module starts: a start that cannot listen
// leaves no trace of the module's, in the event log or anywhere.
Listeners bindAll(Board& board, const Config& config, ConsoleMount& console) {
  Listeners out;
  out.telnetAt = board.bind();
  if (config.ssh) {
    const std::string path =
        (fs::current_path() / kHostKeyFile).string();  // DIR: prepareHost went there
    const HostKey key = loadHostKey(path);
    if (key.made) say(path + ": made the SSH host key");
    say("ssh host key " + key.fingerprint);
    out.ssh = std::make_unique<SshListener>(board, config, key.key);
    out.sshAt = out.ssh->bind();
  }
  console.mounted.push_back(consoleRoute(board, {config.consoleKey, {}}));
  out.web = bindWeb(board, config, {console.route()});
  return out;
}

// SIGHUP reloads the configuration, each time until the board goes down.
void armReload(net::signal_set& hup, Board& board, const Invocation& how, ReloadTargets& to) {
  hup.async_wait([&hup, &board, &how, &to](const error_code& error, int) {
    if (error || board.stopping()) return;
    reload(how.args, how.base, to);
    armReload(hup, board, how, to);
  });
}

// The board on the loop until it is down; SIGTERM, SIGINT, SIGQUIT and
// `ctl shutdown` end it, SIGHUP reloads.
void runBoard(const Config& config, const Invocation& how, PasswordFile& passwords,
              simhost::InitRoutine init) {
  net::io_context io(1);
  // The signals are caught from here to the exit: the sets outlive the
  // board and its workers, and once the board goes down the loop's thread
  // blocks them, so a second SIGTERM while it closes cannot cut it short.
  net::signal_set signals(io, SIGTERM, SIGINT, SIGQUIT);
  net::signal_set hup(io, SIGHUP);
  Board board(io, config, passwords);
  ConsoleMount console;
  Listeners l = bindAll(board, config, console);
  simhost::start(init);  // option errors: Fatal(2), before any call is taken
  traceStart(config);
  startWarnings(config);
  board.serveCalls();
  if (l.ssh) l.ssh->serve();
  for (auto& listener : l.web.listeners) listener->serve();
  auto control = std::make_unique<ControlServer>(io, sysopHandler(board));
  signals.async_wait([&](const error_code& error, int) {
    if (!error) board.stop();
  });
  ReloadTargets targets{board, l.web.tls,
                        config.webCert.empty() ? "" : certificateText(config.webCert),
                        [&](const std::string& key) {
                          console.mounted.push_back(consoleRoute(board, {key, {}}));
                        }};
  armReload(hup, board, how, targets);
  board.whenStopping([&] {
    sd_notify(0, "STOPPING=1");
    control.reset();
    if (l.ssh) l.ssh->stop();
    for (auto& listener : l.web.listeners) listener->stop();
    signals.cancel();
    hup.cancel();
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  });
  if (config.telnet) say("listening on " + l.telnetAt);
  if (l.ssh) say("ssh listening on " + l.sshAt);
  for (const std::string& line : l.web.said) say(line);
  // Under systemd (Type=notify) the unit counts as started from here.
  sd_notify(0, "READY=1");
  io.run();
}

int serve(const Config& given, const Invocation& how) {
  // The sockets systemd passes are taken before anything else listens.
  takePassedSockets();
  Config config = given;
  withPassedSockets(config);
  const simhost::InitRoutine init = prepareHost(config);
  PasswordFile passwords("passwords.dat");
  dropOrphanPasswords(passwords);
  runBoard(config, how, passwords, init);
  int status = 0;
  const simhost::WriteFailures failed = simhost::writeFailures();
  if (failed.records != 0 || failed.accounts != 0) {
    say(std::to_string(failed.records) + " delay record writes and " +
        std::to_string(failed.accounts) + " account writes were refused; see the warnings");
    status = 1;
  }
  simhost::close();
  return status;
}
}  // namespace

int program(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "account" || args[0] == "ctl")) {
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "account" ? accountCommand(rest) : ctlCommand(rest);
  }
  // Paths are named from where the board was started: it works in DIR
  // from its start, and a reload reads them the same.
  const Invocation how{args, fs::current_path().string()};
  const ParsedConfig parsed = parseConfig(args, how.base);
  if (!parsed.error.empty()) {
    say(parsed.error);
    if (!parsed.inFile) std::cerr << kBoardUsage;
    return 2;
  }
  if (parsed.config.help) {
    std::cout << kBoardUsage << "\n" << kBoardHelp;
    return 0;
  }
  if (parsed.config.version) {
    std::cout << kVersion;
    return 0;
  }
  ::signal(SIGPIPE, SIG_IGN);  // a vanished caller is an error code, not a death
  ::signal(SIGUSR1, SIG_IGN);  // nothing is bound to them: never a death either
  ::signal(SIGUSR2, SIG_IGN);
  try {
    return serve(parsed.config, how);
  } catch (const simhost::Fatal& fatal) {
    // As the simulator's: said plainly, each line naming what is to blame.
    std::cout.flush();
    std::cerr << errorLine(fatal.what()) << std::endl;
    simhost::close();
    return fatal.status;
  } catch (const std::exception& error) {
    say(error.what());
    simhost::close();
    return 1;
  }
}

}  // namespace board

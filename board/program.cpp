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

#include "board/caller/listeners.h"
#include "board/core/board.h"
#include "board/core/error_line.h"
#include "board/core/module_options.h"
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
#include "simhost/event.h"

namespace fs = std::filesystem;

namespace board {

namespace {

const char kVersion[] = "zorgaval-board 1.0 (module Zor Gaval 1.0W)\n";

void say(const std::string& line) { std::cerr << errorLine(line) << std::endl; }

// The option file and the paths of options 28 and 29 are vetted as the
// simulator vets them, before any file of DIR is written: an event log
// aimed at the delay file would be appended to it and ruin it.
void vetOptionFile(const hostprog::OptionFile& file) {
  const std::vector<std::string> errors = hostprog::vetFiles(file);
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

// Where the board's events go, each to every one of them in turn: the
// trace on standard output, the metrics' tally and the console's watch.
// The program owns them from before the host is made until it is closed.
struct EventListeners {
  MetricsTally metrics;
  HostWatch watch;
  void see(const simhost::Event& e) {
    hostprog::writeTraceLine(simhost::traceLine(e));
    watch.see(e);
    metrics.see(e);
  }
};

// DIR held, vetted and completed with the samples, the module loaded and
// the host made: everything before the module starts. The option file is
// read here once, into OPTIONS, for everything the board takes from it.
simhost::InitRoutine prepareHost(const Config& config, EventListeners& listeners,
                                 ModuleOptions* options) {
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
  *options = readModuleOptions(config.options, dir);
  vetOptionFile(options->file);
  if (std::string failed = hostprog::writeSamples(dir, nullptr); !failed.empty())
    throw simhost::Fatal(1, "zorgaval-board: " + failed);
  const simhost::InitRoutine init = hostprog::loadModule(modulePath);

  simhost::Setup setup;
  setup.dir = dir;
  if (!optionsPath.empty()) setup.optionFile = {hostprog::kOptionFile, optionsPath};
  setup.clock = config.clock ? *config.clock : simhost::localClockNow();
  setup.channels = config.channels;
  setup.firstNumber = config.firstNumber;
  setup.events = [&listeners](const simhost::Event& e) { listeners.see(e); };
  simhost::reset(setup);
  return init;
}

// What the board can run with but a sysop would not want: on standard
// error and as `warning` lines in the trace, once the module has started.
void startWarnings(const Config& config, const ModuleOptions& options) {
  std::vector<std::string> lines;
  for (const std::string& w : hostprog::optionWarnings(options.file)) lines.push_back(w);
  if (simhost::accounts().empty() && !config.newUsers)
    lines.push_back(
        "zorgaval-board: no account yet, so no caller can sign on: add one with "
        "`zorgaval-board account add USERID --dir DIR`");
  if (config.behind.kind == BehindTarget::Kind::RLogin && !mayUseReservedPort())
    lines.push_back(
        "zorgaval-board: --behind " + config.behind.name() +
        ": not running as root, so the calls to the board behind come from ports above 1023, "
        "which an RLogin server refuses unless it is told to trust them");
  const unsigned low = options.watchedLow;
  const unsigned high = options.watchedHigh;
  const unsigned top = config.firstNumber + static_cast<unsigned>(config.channels) - 1;
  if (options.file.readable && (low < config.firstNumber || high > top))
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
  simhost::emit({.kind = simhost::EventKind::Board,
                 .text = fs::current_path().string(),  // DIR: prepareHost went there
                 .number = nterms,
                 .first = config.firstNumber});
  for (const hostprog::StoredDelay& d : hostprog::delays())
    simhost::emit({.kind = simhost::EventKind::Delay,
                   .userid = d.userid,
                   .text = hostprog::packedStamp(d.date, d.time)});
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
HttpRoute liveMetricsRoute(Board& board, const MetricsTally& tally) {
  return [&board, &tally](const HttpRequest& request) {
    return metricsRoute(board, tally, board.config().metricsFrom)(request);
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
WebListeners bindWeb(Board& board, Listeners& table, const Config& config,
                     const MetricsTally& tally, std::vector<HttpRoute> routes) {
  WebListeners out;
  if (config.web.on()) {
    routes.push_back(liveMetricsRoute(board, tally));
    routes.push_back(staticFiles(config.webRoot));
    auto web = std::make_unique<WebListener>(board, config.web, std::move(routes), true);
    if (!config.webCert.empty()) {
      web->useTls(config.webCert, config.webKey);
      out.tls = web.get();
    }
    out.said.push_back("web listening on " + table.add(web->role("web", "--web")));
    out.listeners.push_back(std::move(web));
  }
  if (config.metrics.on()) {
    auto metrics = std::make_unique<WebListener>(
        board, config.metrics, std::vector<HttpRoute>{liveMetricsRoute(board, tally)}, false);
    out.said.push_back("metrics listening on " + table.add(metrics->role("metrics", "--metrics")));
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

// Telnet's callers go straight to the board; one refused is told why.
ListenerRole telnetListener(Board& board, const Config& config) {
  ListenerRole role;
  role.kind = "telnet";
  role.flag = "--listen";
  role.host = config.listenHost;
  role.port = config.port;
  role.take = [&board](net::ip::tcp::socket socket, const Arrival& arrival) {
    board.admit(telnetTransport(std::move(socket)), arrival.peer, arrival.ip);
  };
  role.refuse = [&board](net::ip::tcp::socket socket, const Arrival& arrival,
                         Admission::Verdict verdict) {
    board.turnAway(telnetTransport(std::move(socket)), arrival, verdict);
  };
  return role;
}

// The listeners, each in the board's one table, and what they serve.
struct Served {
  std::string telnetAt, sshAt;
  std::unique_ptr<SshListener> ssh;
  WebListeners web;
};

// Each listener bound before the module starts: a start that cannot listen
// leaves no trace of the module's, in the event log or anywhere.
Served bindAll(SysopDesk desk, Listeners& table, const Config& config, ConsoleMount& console,
               const MetricsTally& tally) {
  Board& board = desk.board;
  Served out;
  if (config.telnet) out.telnetAt = table.add(telnetListener(board, config));
  if (config.ssh) {
    const std::string path =
        (fs::current_path() / kHostKeyFile).string();  // DIR: prepareHost went there
    const HostKey key = loadHostKey(path);
    if (key.made) say(path + ": made the SSH host key");
    say("ssh host key " + key.fingerprint);
    out.ssh = std::make_unique<SshListener>(board, config, key.key);
    out.sshAt = table.add(out.ssh->role());
  }
  console.mounted.push_back(consoleRoute(desk, {config.consoleKey, {}}));
  out.web = bindWeb(board, table, config, tally, {console.route()});
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
              simhost::InitRoutine init, const ModuleOptions& options,
              const EventListeners& listening) {
  net::io_context io(1);
  // The signals are caught from here to the exit: the sets outlive the
  // board and its workers, and once the board goes down the loop's thread
  // blocks them, so a second SIGTERM while it closes cannot cut it short.
  net::signal_set signals(io, SIGTERM, SIGINT, SIGQUIT);
  net::signal_set hup(io, SIGHUP);
  Board board(io, config, passwords);
  const SysopDesk desk{board, options, listening.watch};
  Listeners table(io, board.admission());
  ConsoleMount console;
  Served l = bindAll(desk, table, config, console, listening.metrics);
  simhost::start(init);  // option errors: Fatal(2), before any call is taken
  traceStart(config);
  startWarnings(config, options);
  board.start();
  table.serve();
  auto control = std::make_unique<ControlServer>(io, sysopHandler(desk));
  signals.async_wait([&](const error_code& error, int) {
    if (!error) board.stop();
  });
  ReloadTargets targets{board, l.web.tls,
                        config.webCert.empty() ? "" : certificateText(config.webCert),
                        [&](const std::string& key) {
                          console.mounted.push_back(consoleRoute(desk, {key, {}}));
                        }};
  armReload(hup, board, how, targets);
  board.whenStopping([&] {
    sd_notify(0, "STOPPING=1");
    control.reset();
    table.stop();
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

int serve(const Config& given, const Invocation& how, EventListeners& listeners) {
  // The sockets systemd passes are taken before anything else listens.
  takePassedSockets();
  Config config = given;
  withPassedSockets(config);
  ModuleOptions options;
  const simhost::InitRoutine init = prepareHost(config, listeners, &options);
  PasswordFile passwords("passwords.dat");
  dropOrphanPasswords(passwords);
  runBoard(config, how, passwords, init, options, listeners);
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
  EventListeners listeners;  // outlives the host, closed below on every road
  try {
    return serve(parsed.config, how, listeners);
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

// The zorgaval-board program: the command line, DIR held and completed
// with the samples, the module started, then the loop until a signal or
// `ctl shutdown`; errors and exit statuses as the simulator's.
#include "board/program.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "board/accounts.h"
#include "board/board.h"
#include "board/sysop.h"
#include "sim/embedded.h"
#include "sim/files.h"
#include "sim/run.h"
#include "sim/trace.h"

namespace fs = std::filesystem;

namespace board {

namespace {

const char kVersion[] = "zorgaval-board 1.0 (module Zor Gaval 1.0W)\n";

void say(const std::string& line) { std::cerr << "zorgaval-board: " << line << std::endl; }

// A built-in sample, written only where no file of that name is.
void writeSample(const std::string& name, std::string_view text) {
  std::string reason;
  if (sim::writeSample(name, text, &reason) < 0) {
    throw simhost::Fatal(1, "cannot write the sample " + name + ": " + reason);
  }
}

std::string absolute(const std::string& path) {
  std::error_code ec;
  return fs::absolute(path, ec).lexically_normal().string();
}

int serve(const Config& config) {
  const std::string dir = absolute(config.dir.empty() ? "." : config.dir);
  const std::string modulePath =
      config.module.empty() ? sim::moduleBesideExecutable() : absolute(config.module);
  const std::string optionsPath = config.options.empty() ? "" : absolute(config.options);

  // DIR is held before any file in it is touched; reset() chdir()s there.
  simhost::holdDirectory(dir);
  if (::chdir(dir.c_str()) != 0) {
    throw simhost::Fatal(1, dir + ": cannot work in this directory: " + std::strerror(errno));
  }
  writeSample("zorgaval.mcv", embedded::zorgaval_mcv);
  writeSample("ZORGAVAL.MDF", embedded::zorgaval_mdf);
  const simhost::InitRoutine init = sim::loadModule(modulePath);

  simhost::Setup setup;
  setup.dir = dir;
  setup.optionsPath = optionsPath;
  setup.clock = config.clock ? *config.clock : simhost::localClockNow();
  setup.channels = config.channels;
  setup.firstNumber = config.firstNumber;
  setup.trace = sim::writeTraceLine;
  simhost::reset(setup);
  PasswordFile passwords("passwords.dat");
  simhost::start(init);  // option errors: Fatal(2), before anything listens

  asio::io_context io(1);
  // The signals are caught from here to the exit: the set outlives the
  // board and its workers, and once the board goes down the loop's thread
  // blocks them, so a second SIGTERM while it closes cannot cut it short.
  // SIGHUP (the terminal gone) and SIGQUIT take the same road as SIGTERM.
  asio::signal_set signals(io, SIGTERM, SIGINT, SIGHUP);
  signals.add(SIGQUIT);
  int status = 0;
  {
    Board board(io, config, passwords);
    std::string where;
    try {
      where = board.listen();
    } catch (...) {
      simhost::shutdown();
      throw;
    }
    auto control = std::make_unique<ControlServer>(io, sysopHandler(board));
    signals.async_wait([&](const asio::error_code& error, int) {
      if (!error) board.stop();
    });
    board.whenStopping([&] {
      control.reset();
      signals.cancel();
      sigset_t ending;
      sigemptyset(&ending);
      sigaddset(&ending, SIGTERM);
      sigaddset(&ending, SIGINT);
      sigaddset(&ending, SIGHUP);
      sigaddset(&ending, SIGQUIT);
      pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    });
    say("listening on " + where);
    io.run();
  }
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
  const ParsedConfig parsed = parseConfig(args);
  if (!parsed.error.empty()) {
    say(parsed.error);
    std::cerr << kBoardUsage;
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
    return serve(parsed.config);
  } catch (const simhost::Fatal& fatal) {
    // As the simulator's: said plainly, each line naming what is to blame.
    std::cout.flush();
    std::cerr << fatal.what() << std::endl;
    simhost::close();
    return fatal.status;
  } catch (const std::exception& error) {
    say(error.what());
    simhost::close();
    return 1;
  }
}

}  // namespace board

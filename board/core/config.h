// The board's command line and its configuration file: what
// `zorgaval-board` was asked to do, read with getopt_long. The words
// `account` and `ctl` are dispatched before it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board/behind/target.h"
#include "board/caller/charset.h"
#include "board/caller/talk_rate.h"
#include "board/caller/throttle.h"
#include "simhost/simhost.h"

namespace board {

// A listener's ADDR:PORT; off while the host is empty.
struct Endpoint {
  std::string host;
  unsigned port = 0;  // 0 takes a free port
  bool on() const { return !host.empty(); }
};

struct Config {
  std::string dir;      // "" = the current directory
  std::string options;  // --options FILE
  std::string module;   // --module PATH
  std::string listenHost = "127.0.0.1";
  unsigned port = 2323;  // 0 takes a free port
  bool telnet = true;    // --listen none: SSH alone
  bool ssh = false;      // --ssh ADDR:PORT
  std::string sshHost;
  unsigned sshPort = 0;
  bool sshLegacy = false;  // --ssh-legacy: AES-CBC and SHA-1 key exchange too
  int channels = 32;
  unsigned firstNumber = 0;
  int speed = 1;
  std::optional<simhost::Clock> clock;
  bool newUsers = false;  // --new-users: unknown callers may sign up
  std::vector<std::string> newUserKeys;
  int idleSeconds = 900;                 // a signed-on caller who types nothing
  int promptSeconds = 60;                // from a call's arrival to a completed log-on
  ThrottleLimits throttle;               // password guessing held off, per address
  TalkLimits talk;                       // --talk-rate: a talker's lines in the teleconference
  Charset charset = Charset::Utf8;       // --charset: what callers' typing is kept as
  std::string consoleKey = "SYSOP";      // --console-key: who may sign in to the console
  Endpoint web;                          // --web: the web terminal's listener
  std::string webCert, webKey;           // --web-tls CERT KEY: HTTPS and WSS instead
  std::string webRoot;                   // --web-root: the page's files (default: found beside)
  std::string trustProxy;                // --web-trust-proxy: its X-Forwarded-For names the caller
  std::vector<std::string> webHosts;     // --web-host: the names in Host beside loopback
  Endpoint metrics;                      // --metrics: /metrics alone
  std::vector<std::string> metricsFrom;  // --metrics-from: beside loopback
  std::string configFile;                // --config: the settings under the command line's
  BehindTarget behind;                   // --behind: the board callers are carried to
  bool help = false, version = false;
};

// The words after the program's name, over the settings of the --config
// file they name, if any. `error` is set, one line, for a bad command line
// or file (the program then exits 2); `inFile` when the file is to blame.
// Relative paths are taken from BASE when it is set.
struct ParsedConfig {
  Config config;
  std::string error;
  bool inFile = false;
};
ParsedConfig parseConfig(const std::vector<std::string>& args, const std::string& base = "");

// The flags in ARGS read into C over what it holds, each checked as the
// command line's are; "" or the first error. GIVEN, if set, gets the
// name of each flag read ("--ssh").
std::string readFlags(const std::vector<std::string>& args, const std::string& base, Config& c,
                      std::vector<std::string>* given);

// The settings of the file at PATH read into C (board/core/config_file.cpp);
// "" or the error, "PATH:LINE: " and the line's fault.
std::string readConfigFile(const std::string& path, Config& c);

extern const char kBoardUsage[];
extern const char kBoardHelp[];

}  // namespace board

// A reload (SIGHUP, `systemctl reload`): the configuration read again and
// held against the running one; what may change while calls go on is
// applied, what needs a restart is named and keeps its running value.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "board/core/config.h"

namespace board {

class Board;
class WebListener;

// The settings of WANTED that differ from RUNNING, by their flags' names
// ("--idle-timeout"): those a reload applies, and those that wait for a
// restart (the listeners' addresses, the channels, the module and its
// option file, which the module reads once at its start).
struct ConfigChanges {
  std::vector<std::string> applied;
  std::vector<std::string> needRestart;
};
ConfigChanges compareConfigs(const Config& running, const Config& wanted);

// RUNNING with the settings a reload applies taken from WANTED.
Config reloadable(const Config& running, const Config& wanted);

// What a reload reaches of the running board.
struct ReloadTargets {
  Board& board;
  WebListener* tls = nullptr;  // the web listener, when it serves HTTPS
  std::string certPem;         // the certificate it serves, to tell a renewed one
  std::function<void(const std::string&)> consoleKey;  // mounts the console for a new key
};

// The certificate file's text as it is now, to tell a renewed one.
std::string certificateText(const std::string& path);

// The configuration read again (the command line ARGS over its file,
// relative paths from BASE) and applied to TO, on the loop's thread. A
// bad file or TLS pair changes nothing: its error line on standard error,
// and the board goes on as it was.
void reload(const std::vector<std::string>& args, const std::string& base, ReloadTargets& to);

}  // namespace board

// The zorgaval-sim program: its command line, the host's directory and its
// samples, the run and the closing lines on standard error.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct CommandLine {
  std::string dir;        // --dir; "" = a new temporary directory
  std::string options;    // --options; "" = DIR's zorgaval.mcv
  std::string module;     // --module; "" = zorgaval.so beside the program
  std::string scenario;   // "" = the built-in busy evening, "-" = stdin
  bool check = false;     // --check [FILE]
  std::string checkFile;  // its FILE, "" when none was given
  bool help = false, version = false;
  std::string replay;              // --replay TRACE: a board's trace, "-" = stdin
  std::string scenarioOut;         // --scenario OUT, with --replay
  std::string svg;                 // --svg FILE, with --replay
  std::vector<std::string> words;  // every word that is not an option
  std::string error;               // set when the command line is bad
};

// Reads the words after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The whole program; answers the exit status.
int program(int argc, char** argv);

}  // namespace sim

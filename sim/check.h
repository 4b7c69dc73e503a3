// `zorgaval-sim --check`: an option file tried the way the module reads it,
// in a scratch directory, so that no file of the sysop's is touched.
#pragma once

#include <string>

namespace sim {

struct CheckConfig {
  std::string dir;         // the host's directory, absolute: relative paths of
                           // options 28 and 29 are taken from it
  std::string path;        // the option file, absolute
  std::string label;       // its name as the sysop gave it, for the report
  std::string mdfPath;     // a ZORGAVAL.MDF to use, absolute; "" or missing = the sample
  std::string modulePath;  // the module, absolute
};

// Starts the module against a copy of the file and runs a short trial that
// warns, bumps and refuses a user, so messages 35 to 39 are formatted with
// the arguments the module passes; when the file's own settings cannot
// carry the trial, its messages are tried again under the sample's
// settings. Prints on standard output every error and warning, then a
// summary line. Answers 0 when there is no error, 2 when there is one, 1
// when the module cannot be loaded.
int checkOptionFile(const CheckConfig& config);

}  // namespace sim

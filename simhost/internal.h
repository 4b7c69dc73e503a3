// What the substitute host's own files share with each other and with
// nothing else: the seams between the host's core (clock, channels, output,
// events), its file readers, its checked formatter and its data files.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"
#include "simhost/simhost.h"

namespace simhost {

// ---- life.cpp: the option errors collected while the module starts
// An option or message-file error, one line ("FILE:7: option 16:
// ..."); collected and printed once start-up returns.
void optionError(const std::string& text);

// ---- options.cpp: message and option files, module description files
// Forget every open message file and the current-file stack. `optionFile`
// names a file a module opens by name that is read from elsewhere.
void resetMessageFiles(const FileOverride& optionFile);
// The text of entry n of the current message file, or null when there is no
// current file or no such entry. `label` receives the file's name as it is
// shown in errors and warnings.
const std::string* messageText(int n, std::string* label);

// ---- format.cpp: the checked formatter
// Formats `text` printf-style against `args`. Every conversion that does not
// fit its argument, has none, or is not allowed is copied out literally and
// described in `problems` (one short text each, e.g. "%s given an integer").
std::string formatChecked(const std::string& text, const HostArg* args, int count,
                          std::vector<std::string>* problems);

// ---- datafile.cpp: keyed data files in SQLite
void closeDataFiles();  // closes every open data file, clears the stack
// Holds the writes that follow in one transaction until endDataBatch (or
// until the file is closed). For the accounts a scenario sets up before the
// module starts: they need to be stored by the time it starts, not each on
// its own, and one commit instead of thousands keeps a big setup quick.
void beginDataBatch(HostDataFile* file);
void endDataBatch(HostDataFile* file);
void forgetWriteFailures();  // a fresh host has refused no write
// Every record of a file, in key order (case-folded user-id).
std::vector<std::vector<unsigned char>> allRecords(HostDataFile* file);
// The open data file of that name (as given to dfaOpen), or null; lets the
// host read the module's files without opening them a second time.
HostDataFile* findDataFile(const std::string& name);
int recordLengthOf(const HostDataFile* file);  // as given to dfaOpen

}  // namespace simhost

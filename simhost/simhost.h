// The substitute host's control surface: what the simulator program and the
// tests use to build a host, drive it and read it back. The module never
// sees this file; it sees only host/host.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"
#include "simhost/text.h"

namespace simhost {

// A failure that stops the host: status 1 for a data file or module that
// cannot be used, 2 for bad input. The message is one line, ready to print.
struct Fatal : std::runtime_error {
  int status;
  Fatal(int status, const std::string& message) : std::runtime_error(message), status(status) {}
};

struct Event;  // simhost/event.h

// Virtual clock value: seconds since 1980-01-01 00:00:00, no time zone.
using Clock = std::int64_t;

struct CivilTime {
  int year, month, day, hour, minute, second;
};
Clock clockFromCivil(const CivilTime& t);
CivilTime civilFromClock(Clock c);
std::string formatClock(Clock c);  // "YYYY-MM-DD HH:MM:SS"
Clock localClockNow();             // the machine's local time, for a default

// Fault injection for tests, in the manner of an OS layer. Nothing in the
// module knows about these; the host's own services consult them.
struct Faults {
  bool failDataWrite = false;  // dfaInsert and dfaDelete fail with a warning
};

// How the data files opened from now on are stored. relaxedSync: SQLite's
// synchronous=NORMAL, durable against a killed process but not against power
// loss; for measuring what the host's FULL setting costs, never set by the
// host itself. A fresh host (reset) has the defaults.
struct DataFileSettings {
  bool relaxedSync = false;
};
DataFileSettings& dataFileSettings();

// A file a module opens by its name that the host reads from elsewhere: the
// option file a program's command line names. An empty name: none.
struct FileOverride {
  std::string name;  // as the module asks for it
  std::string path;  // what is read instead
};

struct Setup {
  std::string dir;          // working directory; the host chdir()s there
  FileOverride optionFile;  // the option file named on a command line
  Clock clock = 0;
  int channels = 32;         // 1 .. HOST_MAX_CHANNELS
  unsigned firstNumber = 0;  // channel[n] = firstNumber + n
  // Receives each event as it happens (simhost/event.h), stamped.
  std::function<void(const Event&)> events;
  // Receives each trace line, already "YYYY-MM-DD HH:MM:SS EVENT ...",
  // without the newline: the events' lines, for a reader of text (a test).
  // Null: lines are dropped.
  std::function<void(const std::string&)> trace;
};

// ---- life of a host
// Locks DIR (made when missing) for this process, so that no other host
// works there; a second process is refused with Fatal(1). Holding the same
// directory again does nothing; holding another releases the first. Call it
// before any file in DIR is written; reset() takes it too.
void holdDirectory(const std::string& dir);
void releaseDirectory();         // for a test that plays a second process
void reset(const Setup& setup);  // a fresh host; any earlier one is gone
void close();                    // close data files; call before reset in tests
Faults& faults();

// ---- before start
void setChannelNumber(int index, unsigned number);
// Creates or replaces the account in accounts.dat (keys already expanded).
void setAccount(const std::string& userid, const std::vector<std::string>& keys, bool nocount);

// ---- accounts: the account file read and changed by the sysop's commands,
// before start as well as while the module runs.
struct StoredAccount {
  std::string userid;             // as stored, up to its terminator
  std::vector<std::string> keys;  // in the order stored
  bool nocount = false;
};
std::vector<StoredAccount> accounts();  // ordered by user-id ignoring ASCII case
std::optional<StoredAccount> findAccount(const std::string& userid);
// Each answers "" when done, else why not (the refused write is also a
// warning). storeAccount is setAccount, stored at once even before start.
// removeAccount calls registration slot 8 of a started module first, with
// the account as the current user's.
std::string storeAccount(const std::string& userid, const std::vector<std::string>& keys,
                         bool nocount);
std::string removeAccount(const std::string& userid);

// ---- the module
using InitRoutine = void (*)();
// Calls the module's start-up routine as the host does, then carries out
// what it asked for. Throws Fatal(2) listing the option errors, if any.
void start(InitRoutine init);
const std::vector<std::string>& optionErrors();  // collected while reading
const ModuleRecord* registered();                // null before register_module

// ---- events; each returns "" or what prevents it (e.g. "channel 3 is busy")
struct Arrival {
  int channel = 0;
  std::string userid;
  std::int32_t usage = 0;
  std::int32_t status = 6;
  bool notally = false;
  bool directend = false;
  bool badpassword = false;  // logon only
};
std::string logon(const Arrival& a);
std::string connect(const Arrival& a);
std::string occupy(int channel, std::int32_t status, const std::string& userid);
std::string logoff(int channel);
enum class Field { Usage, Status, Notally, Directend };
std::string setField(int channel, Field field, std::int32_t value);
void advanceTo(Clock target);  // fires timers and the clean-up on the way
Clock clock();
void cleanup();               // the midnight clean-up, run now
std::size_t pendingTimers();  // armed timers that have not fired yet
void shutdown();              // registration slot 9

// Every record of the data file NAME (records of LENGTH bytes), in key
// order; the module's open file when it has one, else the file as stored.
// None when there is no such file, and no file is made.
std::vector<std::vector<unsigned char>> storedRecords(const std::string& name, int length);

// Writes a data file refused in this host's life: records of the module's
// files (inserts and deletes) and accounts that could not be stored. Each
// also wrote a warning; a program ends with status 1 when either is non-zero.
struct WriteFailures {
  std::size_t records = 0;
  std::size_t accounts = 0;
};
WriteFailures writeFailures();

// ---- a live host (the board)
// What a program serving real callers adds to the host, set after reset():
// where each delivery goes, what to do once a disconnection is carried out,
// and the usage figure of each busy channel, refreshed before every call
// into the module. Each may be null.
struct LiveHooks {
  std::function<void(int channel, const std::string& text)> deliver;
  std::function<void(int channel)> hungUp;  // the channel is free again
  std::function<std::int32_t(int channel, std::int32_t usage)> usage;
  // Timer routines and the clean-up are no caller's doing: with this set
  // they run with the current user on a channel no caller holds, so the
  // module leaves out nobody (the simulator keeps the channel served last).
  bool timersAsNoCaller = false;
  // The address a live host names on a channel's `logon` event (where the
  // call comes from), so a log reader can act on it; "" for none.
  std::function<std::string(int channel)> logonAddress;
};
void setLiveHooks(LiveHooks hooks);

// The host now serves this busy channel (a line typed): it becomes the
// current user that timers and the clean-up see.
void serve(int channel);
// When advanceTo next has something to do: the earliest armed timer or
// the coming midnight.
Clock nextWake();

// The password route for a caller who holds the channel at a prompt
// (occupied, usually "(Login)"): as logon(), but a refused password leaves
// the channel with the caller, back at status 1 under `promptId`, so the
// caller can try again. A refusal after which the module ended the visit
// itself, or a visit ended by the log-on routine, is Ended.
enum class Verdict { Accepted, Rejected, Ended };
Verdict logonAtPrompt(const Arrival& a, const std::string& promptId, std::string* refused);

// Deletes the record of KEY from the module's open data file NAME through
// the data-file layer; a refused write is also a warning.
enum class Removal { Done, NoFile, NoRecord, Refused };
Removal removeRecord(const std::string& name, const std::string& key);

// ---- shared helpers
using text::quote;  // the trace's quoting, one routine under one name
// A trace line is "YYYY-MM-DD HH:MM:SS " and then the event, always here.
inline constexpr std::size_t kTraceEventOffset = 20;
// A line with no event behind it, to Setup::trace only: a test's own mark
// in the host's order. The programs write every line as an Event.
void trace(const std::string& mark);
void warning(const std::string& text);  // a `warning` event

}  // namespace simhost

// The host core's one state record and the routines its files share:
// channels and their account copies, the current user, the output buffer,
// requested disconnections, timers, hooks and the module call wrapper.
#pragma once

#include <cstdint>
#include <queue>
#include <string>
#include <type_traits>
#include <vector>

#include "host/host.h"
#include "simhost/simhost.h"

namespace simhost {

struct Timer {
  Clock due;
  std::uint64_t armed;  // arming order, breaks ties between equal due times
  HostRoutine routine;
};
struct TimerLater {
  bool operator()(const Timer& a, const Timer& b) const {
    return a.due != b.due ? a.due > b.due : a.armed > b.armed;
  }
};

struct HostState {
  Setup setup;
  Clock clock = 0;
  bool shutDown = false;
  bool started = false;  // start() has called the module's start-up routine

  ChannelRecord channels[HOST_MAX_CHANNELS] = {};
  AccountRecord accounts[HOST_MAX_CHANNELS] = {};  // on-line account copies
  std::uint64_t visit[HOST_MAX_CHANNELS] = {};     // which visit holds it
  bool freeing[HOST_MAX_CHANNELS] = {};            // hang-up under way
  std::uint64_t visits = 0;
  int current = 0;  // the channel the host served last

  std::string output;        // prf / prfmsg buffer
  std::vector<int> pending;  // disconnections requested by the running routine

  std::priority_queue<Timer, std::vector<Timer>, TimerLater> timers;
  std::uint64_t armed = 0;

  std::vector<ModuleRecord*> modules;
  std::vector<HostRoutine> connectHooks, disconnectHooks;

  LiveHooks live;  // a live host's additions; all null in the simulator

  bool badPassword = false;  // the arrival being checked must be refused
  std::vector<std::string> optionErrors;

  // Returned by usroff/uacoff for an index out of range, so a stray index
  // never reaches memory the host does not own.
  ChannelRecord spareChannel = {};
  AccountRecord spareAccount = {};
};
extern HostState state;

// The host's own password check: the routine chkpsw holds until a module
// replaces it.
int hostPasswordCheck(const char* password);

// ---- channels (channels.cpp)
bool validChannel(int ch);
void makeCurrent(int ch);      // the channel the host now serves
void restoreCurrent();         // usrnum/usrptr/usaptr back to state.current
std::string userIdOf(int ch);  // the user-id on the channel's account copy
// Fills the channel's account copy from accounts.dat, creating the account
// (no keys) when there is none.
void loadAccount(int ch, const std::string& userid);
void freeChannel(int ch);
std::string fieldText(const char* field, std::size_t size);  // up to its NUL

// ---- module calls (calls.cpp)
// Every call into module code goes through one of these. After the routine
// returns, leftover output is discarded with a warning and the routine's
// disconnection requests are handed back, to be carried out by the caller.
class ModuleCall {
 public:
  explicit ModuleCall(const char* what);
  ~ModuleCall();
  std::vector<int> finish();  // discard leftover output, take the requests
 private:
  const char* what_;
  bool finished_ = false;
};
// Carries out the disconnections, each channel once, in request order.
void carryOut(const std::vector<int>& channels);

template <class F>
auto callModule(const char* what, F routine) -> decltype(routine()) {
  ModuleCall call(what);
  if constexpr (std::is_void_v<decltype(routine())>) {
    routine();
    carryOut(call.finish());
  } else {
    auto answer = routine();
    carryOut(call.finish());
    return answer;
  }
}

}  // namespace simhost

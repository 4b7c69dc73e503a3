// The Module state: the one record of options, handles, the Bump candidate
// and the activity counters that every routine of the module reads and
// writes. The host calls us one routine at a time, so it needs no locks.
#pragma once

#include <cstdint>

#include "host/host.h"

enum : int { BUMP_KEY_COUNT = 10 };      // options 4 to 13, position 0 first
enum : int { ACTIVITY_KIND_COUNT = 4 };  // LOGONS, WARNINGS, BUMPS, DELAYS
enum : int { TIME_BUCKET_COUNT = 11 };   // report columns 06-12 .. 02-05

// Activity kinds, numbered as countActivity takes them.
enum : int { KIND_LOGONS = 1, KIND_WARNINGS = 2, KIND_BUMPS = 3, KIND_DELAYS = 4 };

struct ModuleState {
  int enabled;       // scanning, bumping, delays and the report work
  int moduleNumber;  // from register_module; kept, not used further
  HostMessageFile* msgFile;
  HostDataFile* delayFile;
  PasswordCheck savedCheck;  // the host's check that chkpsw held before us

  const char* exemptKey;                 // option 2
  const char* watcherKey;                // option 3
  const char* bumpKeys[BUMP_KEY_COUNT];  // options 4 to 13

  int reserveCount;       // option 15
  int scanInterval;       // option 16, seconds
  unsigned firstChannel;  // option 17
  unsigned lastChannel;   // option 18
  int warnGrace;          // option 19, seconds
  int delayLength;        // option 23, seconds
  int busyThreshold;      // range size minus reserveCount, signed

  int bellOnWarn;      // option 20
  int auditWarn;       // option 21
  int auditBump;       // option 22
  int auditDelay;      // option 26
  int logEnabled;      // option 27
  int reportLogons;    // option 30
  int reportWarnings;  // option 31
  int reportBumps;     // option 32
  int reportDelays;    // option 33

  PackedTime windowStart;  // option 24: the Delay window, both ends included
  PackedTime windowEnd;    // option 25
  const char* logPath;     // option 28
  const char* reportPath;  // option 29

  // The Bump candidate: all-zero id, class 10 and usage -1 when none.
  char candidateId[USERID_SIZE];
  int candidateClass;
  int candidateUsage;

  std::uint32_t counters[ACTIVITY_KIND_COUNT][BUMP_KEY_COUNT][TIME_BUCKET_COUNT];
  PackedTime bucketBounds[2 * TIME_BUCKET_COUNT];  // (first, last) pairs
};

extern ModuleState moduleState;

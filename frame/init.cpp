// Start-up, the registration record and shutdown: fills every option field
// of the Module state, the handles, savedCheck, enabled and busyThreshold,
// and installs the routines the host calls from then on.
#include "frame/init.h"

#include "frame/state.h"
#include "guard/logon_delay.h"
#include "guard/scan.h"
#include "records/counters.h"
#include "records/event_log.h"
#include "records/report.h"
#include "store/delay_file.h"

static int onInput() { return 0; }

static void onShutdown() { clsmsg(moduleState.msgFile); }

// Handed to register_module and kept by the host for the module's life.
static ModuleRecord registration = {
    .description = {},                   // filled from ZORGAVAL.MDF at start-up
    .logon = onLogon,                    // 1: count the log-on
    .input = onInput,                    // 2: the module has no menu of its own
    .status = dfsthn,                    // 3: the host's standard routine
    .inject = nullptr,                   // 4: no injected messages
    .logoff = nullptr,                   // 5: no menu to leave
    .hangup = onHangup,                  // 6: a leaving candidate gets a delay
    .cleanup = writeDailyReport,         // 7: the midnight report
    .deleteAccount = nullptr,            // 8: nothing kept per account
    .shutdown = onShutdown,              // 9: close the message file
};

// Reads options 4 to 13, position 0 first.
static void readBumpKeys() {
  for (int i = 0; i < BUMP_KEY_COUNT; ++i) moduleState.bumpKeys[i] = stgopt(4 + i);
}

extern "C" void _init__zorgaval() {
  ModuleState& s = moduleState;

  stzcpy(registration.description, gmdnam("ZORGAVAL.MDF"), sizeof registration.description);
  s.moduleNumber = register_module(&registration);

  s.delayFile = dfaOpen("zorgaval.dat", DELAY_RECORD_SIZE, 0);
  s.msgFile = opnmsg("zorgaval.mcv");

  s.exemptKey = stgopt(2);
  s.watcherKey = stgopt(3);

  hook_connect(onConnect);
  hook_disconnect(onDisconnect);

  s.savedCheck = chkpsw;
  chkpsw = checkPasswordHook;

  zeroCounters();
  parseBucketBounds();

  // This order is also the order in which a sysop meets option errors.
  s.reserveCount = numopt(15, 0, 255);
  s.scanInterval = numopt(16, 20, 300);
  s.firstChannel = static_cast<unsigned>(hexopt(17, 0, 255));
  s.lastChannel = static_cast<unsigned>(hexopt(18, 0, 255));
  s.warnGrace = numopt(19, 10, 120);
  s.bellOnWarn = ynopt(20);
  s.auditWarn = ynopt(21);
  s.auditBump = ynopt(22);
  s.auditDelay = ynopt(26);
  s.windowStart = dctime(stgopt(24));
  s.windowEnd = dctime(stgopt(25));
  s.delayLength = numopt(23, 0, 7200);
  readBumpKeys();
  s.logEnabled = ynopt(27);
  s.logPath = stgopt(28);
  s.reportLogons = ynopt(30);
  s.reportWarnings = ynopt(31);
  s.reportBumps = ynopt(32);
  s.reportDelays = ynopt(33);
  s.reportPath = stgopt(29);

  clearCandidate();

  // Before the range is put in order and checked, so that even a setting
  // that disables the module leaves its start entry in the log.
  if (s.logEnabled) logEvent("", LOG_START);

  if (s.firstChannel > s.lastChannel) {
    const unsigned first = s.lastChannel;
    s.lastChannel = s.firstChannel;
    s.firstChannel = first;
  }

  shocst("Zor Gaval 1.0W", "Keeping channels free for privileged users");

  s.enabled = 1;
  s.busyThreshold = static_cast<int>(s.lastChannel) - static_cast<int>(s.firstChannel) + 1 -
                    s.reserveCount;
  if (s.busyThreshold < 1) {
    s.enabled = 0;
    shocst("Zor Gaval Config Error", "Your settings will not allow DEMOs to be bumped");
  }

  if (s.enabled) rtkick(s.scanInterval, scanChannels);
}

// Warning the Bump candidate, bumping him when the grace runs out, and
// telling the watchers (reads and clears the Bump candidate; reads the
// warning, audit and log options, msgFile and delayFile).
#include "guard/bump.h"

#include "frame/state.h"
#include "guard/scan.h"
#include "records/counters.h"
#include "records/event_log.h"
#include "store/delay_file.h"

static void bumpCandidate();
static void ringBell(int count);
static void notifyWatchers(const char* userId);

// When the candidate is gone, or there is none, the warning would land on
// whichever channel the other user last pointed at: then nothing is done.
void warnCandidate() {
  if (moduleState.candidateId[0] == '\0' || !onsysn(moduleState.candidateId, 1)) return;
  if (moduleState.bellOnWarn) ringBell(1);
  prfmsg(35, moduleState.warnGrace);
  injoth();
  if (moduleState.auditWarn) shocst("Gaval warned a user", "User-ID: %s", moduleState.candidateId);
  if (moduleState.logEnabled) logEvent(moduleState.candidateId, LOG_WARNED);
  countActivity(moduleState.candidateId, KIND_WARNINGS);
  rtkick(moduleState.warnGrace, bumpCandidate);
}

// The timer is not tied to the user it was armed for: it acts on the
// candidate of the moment, and only checks that he is still on line. An
// empty id names nobody: after an earlier bump there is no one to bump.
static void bumpCandidate() {
  if (moduleState.candidateId[0] != '\0' && onsysn(moduleState.candidateId, 1)) {
    writeDelayRecord();
    DelayRecord record;
    dfaSetBlk(moduleState.delayFile);
    if (lookUpDelayRecord(&record, othuap->userid)) {
      const DelayNotice notice = delayNotice(record);
      setmbk(moduleState.msgFile);
      prfmsg(36, notice.endDate, notice.endTime);
      prfmsg(38, notice.todayText, notice.nowText);
      injoth();
      rstmbk();
    }
    dfaRstBlk();
    bbsdsc(othusn);
    notifyWatchers(moduleState.candidateId);
    if (moduleState.auditBump) shocst("Gaval bumped a user", "User-ID: %s", moduleState.candidateId);
    if (moduleState.logEnabled) logEvent(moduleState.candidateId, LOG_DISCONNECTED);
    countActivity(moduleState.candidateId, KIND_BUMPS);
  }
  clearCandidate();
}

static void ringBell(int count) {
  for (int i = 0; i < count; ++i) prf("\a");
}

static void notifyWatchers(const char* userId) {
  setmbk(moduleState.msgFile);
  for (int n = 0; n < nterms; ++n) {
    makeOtherUser(n);
    if ((othusp->status == 6 || othusp->status == 2) && isuidc(othuap->userid[0]) &&
        n != usrnum && othkey(moduleState.watcherKey)) {
      prfmsg(39, userId);
      injoth();
    }
  }
  rstmbk();
}

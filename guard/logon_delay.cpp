// Log-on delay enforcement at the password check and the connect hook, and
// the delay record of a candidate who leaves (reads enabled, the window, the
// range, exemptKey, delayFile, msgFile; clears the Bump candidate).
#include "guard/logon_delay.h"

#include "frame/state.h"
#include "guard/scan.h"
#include "records/counters.h"
#include "records/event_log.h"
#include "store/delay_file.h"
#include "store/packed_time.h"

static int checkDelayAtLogon();
static int delayIsOver(PackedDate date, PackedTime time);
static void injectToSelf();

int checkPasswordHook(const char* argument) {
  if (!moduleState.savedCheck(argument)) return 0;
  if (!isuidc(usaptr->userid[0])) return 0;
  if (moduleState.enabled && checkDelayAtLogon() == 1) return 0;
  return 1;
}

// A refused visit is already ended by checkDelayAtLogon; the host carries out
// a disconnection once per channel, so asking again costs nothing. The
// log-on is counted even when refused.
void onConnect() {
  if (moduleState.enabled && checkDelayAtLogon() == 1) bbsdsc(usrnum);
  countActivity(usaptr->userid, KIND_LOGONS);
}

// With no candidate pending there is nobody to remember: a record with an
// empty user-id would protect nobody.
static void recordLeavingCandidate() {
  if (moduleState.candidateId[0] == '\0') return;
  if (sameas(usaptr->userid, moduleState.candidateId)) {
    writeDelayRecord();
    clearCandidate();
  }
}

void onDisconnect() { recordLeavingCandidate(); }

void onHangup() {
  if (!(usrptr->flags3 & CHANNEL_NOTALLY)) recordLeavingCandidate();
}

// Return 1 when the log-on was refused and the visit ended, 0 when the
// user may come in.
static int checkDelayAtLogon() {
  DelayRecord record;
  dfaSetBlk(moduleState.delayFile);
  if (!lookUpDelayRecord(&record, usaptr->userid)) {
    dfaRstBlk();
    return 0;
  }
  if (delayIsOver(recordDate(record), recordTime(record))) {
    deleteDelayRecord();
    dfaRstBlk();
    return 0;
  }
  const DelayNotice notice = delayNotice(record);
  if (moduleState.auditDelay) shocst("Gaval delayed Log-on", "User-ID: %s", usaptr->userid);
  if (moduleState.logEnabled) logEvent(usaptr->userid, LOG_DELAYED);
  countActivity(usaptr->userid, KIND_DELAYS);
  setmbk(moduleState.msgFile);
  prfmsg(37, notice.endDate, notice.endTime);
  if (usrptr->flags2 & CHANNEL_DIRECTEND) {
    prfmsg(38, notice.todayText, notice.nowText);
    injectToSelf();
    bbsdsc(usrnum);
  } else {
    byenow(38, notice.todayText, notice.nowText);
  }
  rstmbk();
  dfaRstBlk();
  return 1;
}

// For the current user and his record's stamp: return 1 when the record no
// longer applies. A stamp that is not a calendar date and time of day can
// only come from a damaged file; it is judged over, so the record goes and
// bars nobody rather than until some time made from the wrapped value.
static int delayIsOver(PackedDate date, PackedTime time) {
  if (haskey(moduleState.exemptKey)) return 1;
  if (!inWatchedRange(channel[usrnum])) return 1;
  if (!isCalendarDate(date) || !isClockTime(time)) return 1;
  const DelayEnd end = endOfDelay(date, time);
  const PackedDate dateNow = today();
  if (end.date < dateNow) return 1;
  const PackedTime timeNow = now();
  if (!inDelayWindow(timeNow)) return 1;
  if (end.date == dateNow && end.time <= timeNow) return 1;
  return 0;
}

int inDelayWindow(PackedTime time) {
  if (moduleState.windowEnd < moduleState.windowStart)
    return time >= moduleState.windowStart || time <= moduleState.windowEnd;
  return moduleState.windowStart <= time && time <= moduleState.windowEnd;
}

// Delivers the output buffer to the current user's own channel.
static void injectToSelf() {
  const int self = usrnum;
  othusn = usrnum;
  injoth();
  usrnum = self;
}

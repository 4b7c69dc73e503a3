// The periodic scan of the watched range and the choice of the Bump
// candidate (touches candidateId, candidateClass, candidateUsage; reads the
// range, busyThreshold, the keys and msgFile).
#include "guard/scan.h"

#include <cstring>

#include "frame/state.h"
#include "guard/bump.h"

static int considerCandidate();

void makeOtherUser(int n) {
  othusn = n;
  othusp = usroff(n);
  othuap = uacoff(n);
}

int inWatchedRange(unsigned channelNumber) {
  return moduleState.firstChannel <= channelNumber && channelNumber <= moduleState.lastChannel;
}

void scanChannels() {
  if (!moduleState.enabled) return;
  setmbk(moduleState.msgFile);
  // A log-on in progress shows "(" in place of a user-id: it takes a
  // channel just the same.
  int count = 0;
  for (int n = 0; n < nterms; ++n) {
    makeOtherUser(n);
    const char first = othuap->userid[0];
    if (inWatchedRange(channel[n]) && othusp->status != 0 && (isuidc(first) || first == '('))
      ++count;
  }
  if (count >= moduleState.busyThreshold && chooseCandidate()) warnCandidate();
  rtkick(moduleState.scanInterval, scanChannels);
  rstmbk();
}

int chooseCandidate() {
  int found = 0;
  for (int n = 0; n < nterms; ++n) {
    makeOtherUser(n);
    const char first = othuap->userid[0];
    if ((othusp->status == 6 || othusp->status == 2) && isuidc(first) && first != '(' &&
        !othkey(moduleState.exemptKey) && inWatchedRange(channel[n]) && considerCandidate())
      found = 1;
  }
  return found;
}

// Examines the other user; return nonzero when he holds a bump key. He
// replaces the candidate only with a class no worse AND a usage figure
// strictly higher, so when the two disagree the walk order decides.
static int considerCandidate() {
  for (int i = 0; i < BUMP_KEY_COUNT; ++i) {
    if (!othkey(moduleState.bumpKeys[i])) continue;
    if (i <= moduleState.candidateClass && othusp->usage > moduleState.candidateUsage) {
      std::strncpy(moduleState.candidateId, othuap->userid, USERID_SIZE - 1);
      moduleState.candidateId[USERID_SIZE - 1] = '\0';
      moduleState.candidateClass = i;
      moduleState.candidateUsage = othusp->usage;
    }
    return 1;
  }
  return 0;
}

void clearCandidate() {
  std::memset(moduleState.candidateId, 0, sizeof moduleState.candidateId);
  moduleState.candidateClass = BUMP_KEY_COUNT;
  moduleState.candidateUsage = -1;
}

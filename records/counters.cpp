// Counting log-ons, warnings, bumps and refused log-ons by Key class and
// time of day (touches counters and bucketBounds, reads bumpKeys).
#include "records/counters.h"

#include <cstring>

#include "frame/state.h"

// First and last moment of each bucket. The last pair is parsed for
// completeness but never consulted: whatever falls outside the first ten
// buckets lands in bucket 10.
static const char* const bucketTexts[2 * TIME_BUCKET_COUNT] = {
    "06:00:00", "12:59:58", "13:00:00", "15:59:58", "16:00:00", "18:59:58",
    "19:00:00", "19:59:58", "20:00:00", "20:59:58", "21:00:00", "21:59:58",
    "22:00:00", "22:59:58", "23:00:00", "23:59:58", "00:00:00", "00:59:58",
    "01:00:00", "01:59:58", "02:00:00", "05:59:58"};

void zeroCounters() {
  std::memset(moduleState.counters, 0, sizeof moduleState.counters);
}

void parseBucketBounds() {
  for (int i = 0; i < 2 * TIME_BUCKET_COUNT; ++i)
    moduleState.bucketBounds[i] = dctime(bucketTexts[i]);
}

int timeBucketNow() {
  const PackedTime time = now();
  for (int bucket = 0; bucket < TIME_BUCKET_COUNT - 1; ++bucket) {
    if (moduleState.bucketBounds[2 * bucket] <= time &&
        time <= moduleState.bucketBounds[2 * bucket + 1])
      return bucket;
  }
  return TIME_BUCKET_COUNT - 1;
}

int keyClassOf(const char* userId) {
  AccountRecord account;
  dfaSetBlk(accbb);
  if (dfaAcqLock(&account, userId, 0, 5, 0) && (account.flags220 & ACCOUNT_NOCOUNT)) {
    dfaRstBlk();
    return -1;
  }
  dfaRstBlk();
  // An account that is not on file is judged by its keys alone.
  for (int i = 0; i < BUMP_KEY_COUNT; ++i)
    if (uhskey(userId, moduleState.bumpKeys[i])) return i;
  return -1;
}

void countActivity(const char* userId, int kind) {
  const int bucket = timeBucketNow();
  const int keyClass = keyClassOf(userId);
  if (keyClass == -1) return;
  if (kind >= KIND_LOGONS && kind <= KIND_DELAYS)
    ++moduleState.counters[kind - 1][keyClass][bucket];
}

int onLogon() {
  if (!(usrptr->flags3 & CHANNEL_NOTALLY)) countActivity(usaptr->userid, KIND_LOGONS);
  return 0;
}

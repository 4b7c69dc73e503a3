// Activity counters by Key class and Time bucket, for the daily report.
#pragma once

// Zeroes the four counter tables; start-up is the only caller.
void zeroCounters();
// Parses the 22 bucket bounds into bucketBounds.
void parseBucketBounds();

// The Time bucket, 0 to 10, of the time now.
int timeBucketNow();
// The Key class, 0 to 9, of the user; -1 when the user is not counted.
int keyClassOf(const char* userId);
// Adds one to the count of `kind` (KIND_LOGONS .. KIND_DELAYS) for the
// user's class and the bucket now; users of no class are not counted.
void countActivity(const char* userId, int kind);

// Registration slot 1: counts the log-on unless the visit is no-tally.
// Returns 0.
int onLogon();

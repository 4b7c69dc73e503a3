// The delay record file: a keyed data file of 34-byte records, one per
// delayed user, stamped with the moment the delay began.
#pragma once

#include "host/host.h"

enum : int { DELAY_RECORD_SIZE = 34 };

// Byte for byte the record as the file holds it; the stamp is little-endian
// whatever the machine, so it is kept as bytes.
struct DelayRecord {
  char userId[USERID_SIZE];  // zero-terminated, zero after the terminator
  unsigned char date[2];     // Packed date the delay began
  unsigned char time[2];     // Packed time the delay began
};
static_assert(sizeof(DelayRecord) == DELAY_RECORD_SIZE);

PackedDate recordDate(const DelayRecord& record);
PackedTime recordTime(const DelayRecord& record);

// Stores a record for the Bump candidate, stamped now, whoever the current
// user is. Restores the current data file.
void writeDelayRecord();

// Reads the record of `userId` from the current data file (the caller has
// selected the delay file with dfaSetBlk and restores it with dfaRstBlk),
// making it the current record. Return nonzero when found.
int lookUpDelayRecord(DelayRecord* record, const char* userId);

// Removes the record found by the look-up just before.
void deleteDelayRecord();

// The texts a delay notice needs (messages 36 or 37, then 38): the end of
// the record's delay, today and now. Each has a buffer of its own, since
// ncdate and nctime reuse theirs.
enum : int { DATE_TEXT_SIZE = 10 };  // at most 9 characters and the terminator
struct DelayNotice {
  char endDate[DATE_TEXT_SIZE];
  char endTime[DATE_TEXT_SIZE];
  char todayText[DATE_TEXT_SIZE];
  char nowText[DATE_TEXT_SIZE];
};
DelayNotice delayNotice(const DelayRecord& record);

// Writing, finding and deleting delay records in the delay file, and the
// texts of a delay notice (reads candidateId, delayFile, delayLength).
#include "store/delay_file.h"

#include "frame/state.h"
#include "store/packed_time.h"

PackedDate recordDate(const DelayRecord& record) {
  return static_cast<PackedDate>(record.date[0] | (record.date[1] << 8));
}

PackedTime recordTime(const DelayRecord& record) {
  return static_cast<PackedTime>(record.time[0] | (record.time[1] << 8));
}

void writeDelayRecord() {
  dfaSetBlk(moduleState.delayFile);
  DelayRecord record{};
  // At most 29 characters: the terminator in byte 29 is never lost, and the
  // bytes after it stay zero.
  stzcpy(record.userId, moduleState.candidateId, USERID_SIZE);
  const PackedDate date = today();
  const PackedTime time = now();
  record.date[0] = static_cast<unsigned char>(date & 0xFF);
  record.date[1] = static_cast<unsigned char>(date >> 8);
  record.time[0] = static_cast<unsigned char>(time & 0xFF);
  record.time[1] = static_cast<unsigned char>(time >> 8);
  dfaInsert(&record);
  dfaRstBlk();
}

int lookUpDelayRecord(DelayRecord* record, const char* userId) {
  return dfaAcqLock(record, userId, 0, 5, 0) != 0;
}

void deleteDelayRecord() { dfaDelete(); }

DelayNotice delayNotice(const DelayRecord& record) {
  const PackedDate date = today();
  const PackedTime time = now();
  const DelayEnd end = endOfDelay(recordDate(record), recordTime(record));
  DelayNotice notice;
  stzcpy(notice.endDate, ncdate(end.date), DATE_TEXT_SIZE);
  stzcpy(notice.endTime, nctime(end.time), DATE_TEXT_SIZE);
  stzcpy(notice.todayText, ncdate(date), DATE_TEXT_SIZE);
  stzcpy(notice.nowText, nctime(time), DATE_TEXT_SIZE);
  return notice;
}

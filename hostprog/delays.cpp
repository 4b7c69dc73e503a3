// Reading and removing delay records through the host's data-file layer;
// the record's fields are read byte for byte from the module's own layout.
#include "hostprog/delays.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sqlite3.h>

#include "hostprog/module_files.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace hostprog {
namespace {

std::uint16_t littleEndian(const unsigned char* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

}  // namespace

StoredDelay fromBytes(const void* bytes) {
  DelayRecord r;
  std::memcpy(&r, bytes, sizeof r);
  return {std::string(r.userId, strnlen(r.userId, sizeof r.userId)), littleEndian(r.date),
          littleEndian(r.time)};
}

void byUserid(std::vector<StoredDelay>* list) {
  std::stable_sort(list->begin(), list->end(), [](const StoredDelay& a, const StoredDelay& b) {
    return simhost::text::lessFolded(a.userid, b.userid);
  });
}

std::vector<StoredDelay> delays() {
  std::vector<StoredDelay> out;
  for (const std::vector<unsigned char>& bytes :
       simhost::storedRecords(kDelayFile, DELAY_RECORD_SIZE)) {
    if (bytes.size() < sizeof(DelayRecord)) {
      simhost::warning(std::string(kDelayFile) + ": a record of " + std::to_string(bytes.size()) +
                       " bytes is skipped");
      continue;
    }
    out.push_back(fromBytes(bytes.data()));
  }
  byUserid(&out);
  return out;
}

std::vector<StoredDelay> delaysReadOnly(const std::string& path, std::string* error) {
  std::vector<StoredDelay> out;
  sqlite3* db = nullptr;
  const std::string uri = "file:" + path + "?mode=ro";
  int rc = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  sqlite3_stmt* all = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, "SELECT record FROM records", -1, &all, nullptr);
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(all);
    if (rc != SQLITE_ROW) break;
    const int size = sqlite3_column_bytes(all, 0);
    if (size < static_cast<int>(sizeof(DelayRecord))) continue;
    out.push_back(fromBytes(sqlite3_column_blob(all, 0)));
  }
  if (rc != SQLITE_DONE)
    *error = path + ": cannot read: " + (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_finalize(all);
  sqlite3_close(db);
  byUserid(&out);
  return out;
}

std::string delayLine(const StoredDelay& d, Moment end) {
  return "delay " + simhost::quote(d.userid) + " " + packedStamp(d.date, d.time) + " until " +
         packedStamp(end.date, end.time);
}

std::string pardon(const std::string& userid) {
  switch (simhost::removeRecord(kDelayFile, userid)) {
    case simhost::Removal::Done:
      return "";
    case simhost::Removal::NoFile:
      return "there is no delay file open";
    case simhost::Removal::NoRecord:
      return "no delay record for " + simhost::quote(userid);
    case simhost::Removal::Refused:
      break;
  }
  return "the delay file refused the delete";
}

std::string packedStamp(std::uint16_t date, std::uint16_t time) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9),
                (date >> 5) & 0x0f, date & 0x1f, time >> 11, (time >> 5) & 0x3f, (time & 0x1f) * 2);
  return text;
}

DelayRecord makeDelayRecord(std::string_view userid, std::uint16_t date, std::uint16_t time) {
  DelayRecord r{};
  std::memcpy(r.userId, userid.data(), std::min(userid.size(), sizeof r.userId - 1));
  r.date[0] = static_cast<unsigned char>(date & 0xFF);
  r.date[1] = static_cast<unsigned char>(date >> 8);
  r.time[0] = static_cast<unsigned char>(time & 0xFF);
  r.time[1] = static_cast<unsigned char>(time >> 8);
  return r;
}

}  // namespace hostprog

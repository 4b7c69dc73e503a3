// The checks of a data file before the host uses it: its header and its
// companions read as raw bytes, a log left beside it tried on a copy, its
// contents asked of SQLite through connections that cannot change it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace simhost::datafile {

// The marks of the host's data files: application_id "ZGV1", user_version
// the record length, the records by folded key, and a one-row table holding
// the file's own identity (16 random bytes made with the file) and a count
// that every commit of the host raises, so that each commit, and so each
// write-ahead log, carries the identity of the file it was written for.
constexpr std::uint32_t kApplicationId = 0x5A475631;
constexpr int kIdentitySize = 16;
extern const char kCreateRecords[];
extern const char kCreateIdentity[];  // the table and its one row
extern const char kRaiseCount[];      // part of every commit

[[noreturn]] void refuse(const std::string& name, const std::string& reason);
// SQLite's reason for a failed call, with a lock held elsewhere said as
// "in use by another host (database is locked)".
std::string sqliteReason(sqlite3* db, int rc);

// The one check that an SQLite file is ours, for the host's data files and
// the board's password file alike: the header's first 100 bytes read
// without SQLite, so that another program's database is never opened for
// writing (closing it would checkpoint its log). Refuses (Fatal 1, "NAME:
// not WHAT (not an SQLite database)", "... (an SQLite database of another
// program)", "damaged: truncated within its header") unless the file is an
// SQLite database marked with `applicationId`, or with no mark at all when
// `unmarkedOk`. The header is left in `header`.
constexpr std::size_t kHeaderSize = 100;
void checkHeader(const std::string& name, std::uint32_t applicationId, bool unmarkedOk,
                 const std::string& what, unsigned char (&header)[kHeaderSize]);
int run(sqlite3* db, const char* sql);  // statements that answer nothing

enum class Found {
  New,      // missing or empty: to be made
  Closed,   // closed cleanly, nothing beside it
  WithLog,  // a write-ahead log beside it holds data
};

// Reads the file, its companions and its directory without SQLite, so that
// a foreign, damaged or unusable file is refused (Fatal 1) before anything
// could touch it.
Found checkBeforeOpening(const std::string& name);

// A closed file, checked through a read-only, immutable connection; refuses
// it when unsound. Returns whether it carries an identity (files written by
// earlier hosts do not).
bool verifyClosed(const std::string& name, int recordLength);

// The log beside the file, applied to a copy in a scratch directory: refuses
// the file unless the log is the file's own and leaves it sound. Nothing
// beside the file is changed.
void verifyLog(const std::string& name, int recordLength);

// Why SQLite could not open or create the file, in the host's words where
// a cause can be seen (permissions, path length), else in SQLite's.
std::string openFailure(const std::string& name, sqlite3* db, int rc, bool creating);

}  // namespace simhost::datafile

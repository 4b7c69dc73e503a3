// The checks of a data file before the host uses it: its header and its
// companions read as raw bytes, a log left beside it tried on a copy, its
// contents asked of SQLite through connections that cannot change it.
#include "simhost/datafile_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "simhost/datafile_pages.h"
#include "simhost/simhost.h"

namespace simhost::datafile {

const char kCreateRecords[] =
    "CREATE TABLE records(key BLOB PRIMARY KEY NOT NULL,"
    " record BLOB NOT NULL) WITHOUT ROWID";
const char kCreateIdentity[] =
    "CREATE TABLE identity(id BLOB NOT NULL, writes INTEGER NOT NULL);"
    " INSERT INTO identity(id, writes) VALUES(randomblob(16), 0)";
const char kRaiseCount[] = "UPDATE identity SET writes = writes + 1";

namespace {

namespace fs = std::filesystem;

// The database header, as SQLite lays it out in the first 100 bytes.
constexpr char kMagic[] = "SQLite format 3";  // with its terminator: 16 bytes
constexpr std::size_t kMagicSize = sizeof kMagic;
// (the page size, 2 bytes at 16, is read by headerPageSize)
constexpr std::size_t kChangeCounterAt = 24;  // 4 bytes
constexpr std::size_t kPageCountAt = 28;      // 4 bytes, valid when...
constexpr std::size_t kApplicationIdAt = 68;  // 4 bytes
constexpr std::size_t kValidForAt = 92;       // ...this equals the counter

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

off_t fileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// The directory that holds the file, as a whole path.
std::string directoryOf(const std::string& name) {
  std::error_code error;
  std::string dir = fs::absolute(name, error).parent_path().lexically_normal().string();
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir.empty() ? "." : dir;
}

// The causes SQLite would only call "unable to open database file" or
// "disk I/O error"; "" when none is seen.
std::string visibleCause(const std::string& name, bool creating) {
  std::error_code error;
  const fs::path full = fs::absolute(name, error);
  const sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
  const std::size_t limit = vfs != nullptr ? static_cast<std::size_t>(vfs->mxPathname) : 512;
  // SQLite names the file's journal by adding "-journal", and refuses a
  // name longer than its limit.
  const std::size_t longest = limit - std::strlen("-journal");
  if (!error && full.string().size() > longest) {
    return "its path is " + std::to_string(full.string().size()) +
           " bytes long, past SQLite's limit of " + std::to_string(longest);
  }
  // (No -shm: with exclusive locking SQLite never uses one.)
  for (const char* suffix : {"-wal", "-journal"}) {
    const std::string companion = name + suffix;
    struct stat info {};
    if (::lstat(companion.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode))
      return companion + " is a directory, where SQLite keeps the file's log";
    if (!S_ISREG(info.st_mode)) return companion + " is not a regular file";
    if (::access(companion.c_str(), R_OK | W_OK) != 0) {
      return "cannot use " + companion + ": " + std::strerror(errno);
    }
  }
  const std::string dir = directoryOf(name);
  if (!creating && ::access(name.c_str(), R_OK | W_OK) != 0) {
    return std::string(errno == EACCES ? "is read-only for this host (" : "cannot be written (") +
           std::strerror(errno) + ")";
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    return "its directory " + dir + " is read-only for this host (" + std::strerror(errno) +
           "): the host needs to make " + (creating ? "the file and " : "") + name + "-wal there";
  }
  return "";
}

// An identity row as found in a file: absent in files of earlier hosts.
struct Identity {
  bool present = false;
  std::string id;
  std::int64_t writes = 0;
};

Identity readIdentity(sqlite3* db) {
  Identity identity;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT id, writes FROM identity", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    identity.present = true;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 0));
    identity.id.assign(bytes != nullptr ? bytes : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
    identity.writes = sqlite3_column_int64(stmt, 1);
  }
  sqlite3_finalize(stmt);
  return identity;
}

// One integer answer of a query, or the failure in *reason.
bool queryInt(sqlite3* db, const char* sql, std::int64_t bind, bool hasBind, std::int64_t* value,
              std::string* reason) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (rc == SQLITE_OK && hasBind) rc = sqlite3_bind_int64(stmt, 1, bind);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  const bool ok = rc == SQLITE_ROW;
  if (ok) {
    *value = sqlite3_column_int64(stmt, 0);
  } else {
    *reason = sqliteReason(db, rc);
  }
  sqlite3_finalize(stmt);
  return ok;
}

// What SQLite itself says about a database that passed the header check:
// "" when it is a sound data file of `recordLength`, else the reason.
std::string verify(sqlite3* db, int recordLength) {
  std::string reason;
  std::int64_t id = 0, length = 0, wrong = 0, tables = 0, rows = 0;
  sqlite3_stmt* check = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr);
  std::string verdict;
  while (rc == SQLITE_OK && (rc = sqlite3_step(check)) == SQLITE_ROW) {
    const unsigned char* line = sqlite3_column_text(check, 0);
    if (!verdict.empty()) verdict += "; ";
    verdict += line != nullptr ? reinterpret_cast<const char*>(line) : "";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(check);
  if (rc != SQLITE_DONE) {
    return rc == SQLITE_BUSY ? sqliteReason(db, rc) : "damaged: " + sqliteReason(db, rc);
  }
  if (verdict != "ok") return "damaged: " + verdict;
  if (!queryInt(db, "PRAGMA application_id", 0, false, &id, &reason)) return reason;
  if (static_cast<std::uint32_t>(id) != kApplicationId) {
    return "not a data file of this host (an SQLite database of another program)";
  }
  if (!queryInt(db, "PRAGMA user_version", 0, false, &length, &reason)) return reason;
  if (length != recordLength) {
    return "holds records of " + std::to_string(length) + " bytes, not " +
           std::to_string(recordLength);
  }
  if (!queryInt(db, "SELECT count(*) FROM records WHERE length(record) <> ?1", recordLength, true,
                &wrong, &reason)) {
    return "damaged: " + reason;
  }
  if (wrong != 0) {
    return "damaged: " + std::to_string(wrong) + " records are not " +
           std::to_string(recordLength) + " bytes long";
  }
  if (!queryInt(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'identity'", 0, false, &tables,
                &reason)) {
    return "damaged: " + reason;
  }
  if (tables != 0 && (!queryInt(db, "SELECT count(*) FROM identity WHERE length(id) = 16", 0, false,
                                &rows, &reason) ||
                      rows != 1)) {
    return "damaged: its identity row is missing or malformed";
  }
  return "";
}

// A file name as an SQLite URI path: only bytes that need no escaping are
// kept as they are.
std::string uriPath(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '-' || c == '_' || (c == '/' && !out.empty())) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// A scratch directory of its own, removed with everything in it.
struct Scratch {
  std::string path;
  Scratch() {
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "simhost-log-check-XXXXXX").string();
    if (!error && ::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

}  // namespace

[[noreturn]] void refuse(const std::string& name, const std::string& reason) {
  throw Fatal(1, name + ": " + reason);
}

std::string sqliteReason(sqlite3* db, int rc) {
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    return "in use by another host (database is locked)";
  }
  return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

int run(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

void checkHeader(const std::string& name, std::uint32_t applicationId, bool unmarkedOk,
                 const std::string& what, unsigned char (&header)[kHeaderSize]) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(name, std::string("cannot read: ") + std::strerror(errno));
  const ssize_t got = ::pread(fd, header, kHeaderSize, 0);
  const int readError = errno;
  ::close(fd);
  if (got < 0) refuse(name, std::string("cannot read: ") + std::strerror(readError));
  if (got < static_cast<ssize_t>(kMagicSize) || std::memcmp(header, kMagic, kMagicSize) != 0)
    refuse(name, "not " + what + " (not an SQLite database)");
  if (got < static_cast<ssize_t>(kHeaderSize)) refuse(name, "damaged: truncated within its header");
  const std::uint32_t id = bigEndian32(header + kApplicationIdAt);
  if (id != applicationId && !(unmarkedOk && id == 0))
    refuse(name, "not " + what + " (an SQLite database of another program)");
}

Found checkBeforeOpening(const std::string& name) {
  const std::string wal = name + "-wal";
  const std::string journal = name + "-journal";
  struct stat info {};
  const bool exists = ::stat(name.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) refuse(name, std::string("cannot open: ") + std::strerror(errno));
  if (exists && S_ISDIR(info.st_mode)) refuse(name, "is a directory, not a data file");
  if (exists && !S_ISREG(info.st_mode)) refuse(name, "is not a regular file");
  const bool isNew = !exists || info.st_size == 0;
  const std::string cause = visibleCause(name, isNew);
  if (!cause.empty()) refuse(name, cause);
  // This host never leaves a live rollback journal: one is another
  // database's, and SQLite would roll it back into this file. (A journal
  // whose first byte is zero is finished with, and SQLite never applies it:
  // a host stopped while making the file can leave one.)
  char first = 0;
  if (std::ifstream(journal, std::ios::binary).get(first) && first != 0) {
    refuse(name, journal +
                     " beside it is not its own (this host leaves no rollback journal;"
                     " it may be another database's); neither file was changed");
  }
  const bool walHoldsData = fileSize(wal) > 0;
  if (isNew) {
    if (walHoldsData)
      refuse(name,
             std::string(exists ? "empty" : "missing") + ", but " + wal + " beside it holds data");
    return Found::New;
  }
  unsigned char header[kHeaderSize] = {};
  checkHeader(name, kApplicationId, false, "a data file of this host", header);
  const std::uint32_t pageSize = headerPageSize(header);
  if (pageSize == 0) refuse(name, "damaged: its header names no valid page size");
  // With a write-ahead log holding data the log has the last word on size.
  if (walHoldsData) return Found::WithLog;
  if (info.st_size % pageSize != 0)
    refuse(name, "damaged: truncated (not a whole number of pages)");
  const std::uint32_t pages = bigEndian32(header + kPageCountAt);
  const bool pagesValid =
      pages != 0 && bigEndian32(header + kChangeCounterAt) == bigEndian32(header + kValidForAt);
  if (pagesValid &&
      static_cast<std::uint64_t>(info.st_size) < static_cast<std::uint64_t>(pages) * pageSize) {
    refuse(name, "damaged: truncated (shorter than its header says)");
  }
  return Found::Closed;
}

bool verifyClosed(const std::string& name, int recordLength) {
  sqlite3* db = nullptr;
  const std::string uri = "file:" + uriPath(name) + "?mode=ro&immutable=1";
  const int rc = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  const std::string reason =
      rc == SQLITE_OK ? verify(db, recordLength) : "cannot open: " + sqliteReason(db, rc);
  const bool identified = reason.empty() && readIdentity(db).present;
  sqlite3_close(db);
  if (!reason.empty()) refuse(name, reason);
  return identified;
}

void verifyLog(const std::string& name, int recordLength) {
  const std::string wal = name + "-wal";
  const std::string notOurs = wal + " beside it is not its own log (";
  const std::string untouched = "); neither file was changed";
  const std::string main = contents(name);
  const auto* header = reinterpret_cast<const unsigned char*>(main.data());
  const std::uint32_t pageSize = main.size() >= kHeaderSize ? headerPageSize(header) : 0;
  const RawIdentity own = rawIdentity(main, pageSize);
  if (own.id.empty()) {
    refuse(name, wal +
                     " beside it holds changes that cannot be proven its own: the file was"
                     " written by an earlier host and carries no identity yet. If the log is"
                     " its own (its host stopped without closing it), apply it with that"
                     " earlier host, or with `sqlite3 " +
                     name + " 'PRAGMA wal_checkpoint'` run in the file's directory; if not, move " +
                     wal + " away. Neither file was changed");
  }
  std::string reason = logWithoutIdentity(contents(wal), pageSize, own.page);
  if (!reason.empty()) refuse(name, notOurs + reason + untouched);

  // The file with the log applied, in a scratch directory: sound, and of
  // the same identity.
  Scratch scratch;
  if (scratch.path.empty()) {
    refuse(name,
           "cannot check " + wal + " beside it: no scratch directory: " + std::strerror(errno));
  }
  const std::string copy = scratch.path + "/copy.dat";
  std::error_code error;
  fs::copy_file(name, copy, error);
  if (!error) fs::copy_file(wal, copy + "-wal", error);
  if (error) {
    refuse(name, "cannot check " + wal + " beside it: copying it to " + scratch.path +
                     " failed: " + error.message());
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) reason = "it cannot be read: " + sqliteReason(db, rc);
  if (reason.empty() && run(db, "PRAGMA locking_mode=EXCLUSIVE") != SQLITE_OK) {
    reason = "it cannot be read: " + sqliteReason(db, SQLITE_ERROR);
  }
  if (reason.empty()) {
    reason = verify(db, recordLength);
    if (!reason.empty()) reason = "with it applied the file would be " + reason;
  }
  if (reason.empty()) {
    const Identity logged = readIdentity(db);
    if (logged.id != own.id) {
      reason = logged.present ? "it is the log of another data file" : "it holds no identity";
    }
  }
  sqlite3_close(db);
  if (!reason.empty()) refuse(name, notOurs + reason + untouched);
}

std::string openFailure(const std::string& name, sqlite3* db, int rc, bool creating) {
  const std::string cause = visibleCause(name, creating);
  return cause.empty() ? sqliteReason(db, rc) : cause;
}

}  // namespace simhost::datafile

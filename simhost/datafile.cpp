// Keyed data files (dfaOpen, dfaSetBlk, dfaRstBlk, dfaAcqLock, dfaInsert,
// dfaDelete): one SQLite database per file, checked before anything is
// written to it, held exclusively while the host runs.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "simhost/internal.h"

namespace {

// Marks a database as one of this host's data files ("ZGV1").
constexpr std::uint32_t kApplicationId = 0x5A475631;
constexpr int kMaxRecordLength = 65536;

const char kCreate[] =
    "CREATE TABLE records(key BLOB PRIMARY KEY NOT NULL,"
    " record BLOB NOT NULL) WITHOUT ROWID";
const char kSelect[] = "SELECT record FROM records WHERE key = ?1";
const char kInsert[] =
    "INSERT OR REPLACE INTO records(key, record) VALUES(?1, ?2)";
const char kDelete[] = "DELETE FROM records WHERE key = ?1";
const char kAll[] = "SELECT record FROM records ORDER BY key";

}  // namespace

struct HostDataFile {
  std::string name;
  int recordLength = 0;
  sqlite3* db = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_stmt* all = nullptr;
  bool hasCurrent = false;
  std::string currentKey;  // folded key of the current record
  bool batching = false;   // a transaction is held open by beginDataBatch
  std::size_t batched = 0; // inserts held by that transaction

  ~HostDataFile() {
    // Closing would roll an open batch back; what was written is kept.
    if (batching) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    for (sqlite3_stmt* s : {select, insert, remove, all}) sqlite3_finalize(s);
    if (db != nullptr) sqlite3_close(db);
  }
};

namespace simhost {

namespace {

struct DataFiles {
  std::vector<std::unique_ptr<HostDataFile>> open;
  std::vector<HostDataFile*> stack;  // back() is current; may hold null
  WriteFailures failures;
};

DataFiles& dataFiles() {
  static DataFiles files;
  return files;
}

[[noreturn]] void refuse(const std::string& name, const std::string& reason) {
  throw Fatal(1, name + ": " + reason);
}

// The key of a record or a look-up: the text up to its terminator, at most
// `limit` bytes, ASCII letters lower-cased.
std::string foldedKey(const char* text, std::size_t limit) {
  std::string key(text, strnlen(text, limit));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::uint32_t bigEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 |
         static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// A file name as an SQLite URI path: only bytes that need no escaping are
// kept as they are.
std::string uriPath(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
        (c == '/' && !out.empty())) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string sqliteReason(sqlite3* db, int rc) {
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    return "in use by another host (database is locked)";
  }
  return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

// Runs statements that answer nothing; returns the SQLite result.
int run(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// One integer answer of a query, or the failure in *reason.
bool queryInt(sqlite3* db, const char* sql, std::int64_t bind, bool hasBind,
              std::int64_t* value, std::string* reason) {
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
  std::int64_t id = 0, length = 0, wrong = 0;
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
    return rc == SQLITE_BUSY ? sqliteReason(db, rc)
                             : "damaged: " + sqliteReason(db, rc);
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
  if (!queryInt(db, "SELECT count(*) FROM records WHERE length(record) <> ?1",
                recordLength, true, &wrong, &reason)) {
    return "damaged: " + reason;
  }
  if (wrong != 0) {
    return "damaged: " + std::to_string(wrong) + " records are not " +
           std::to_string(recordLength) + " bytes long";
  }
  return "";
}

off_t fileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Looks at the file without SQLite, so that a foreign or damaged file is
// refused before anything could touch it. Returns true when the file is to
// be made new (missing or empty).
bool checkBeforeOpening(const std::string& name, bool* walHoldsData) {
  const std::string wal = name + "-wal";
  *walHoldsData = fileSize(wal) > 0;
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) {
    if (errno != ENOENT) refuse(name, std::string("cannot open: ") + std::strerror(errno));
    if (*walHoldsData) refuse(name, "missing, but " + wal + " beside it holds data");
    return true;
  }
  if (S_ISDIR(info.st_mode)) refuse(name, "is a directory, not a data file");
  if (!S_ISREG(info.st_mode)) refuse(name, "is not a regular file");
  if (info.st_size == 0) {
    if (*walHoldsData) refuse(name, "empty, but " + wal + " beside it holds data");
    return true;
  }
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(name, std::string("cannot read: ") + std::strerror(errno));
  unsigned char header[100] = {};
  const ssize_t got = ::pread(fd, header, sizeof header, 0);
  ::close(fd);
  if (got < 0) refuse(name, std::string("cannot read: ") + std::strerror(errno));
  if (got < 16 || std::memcmp(header, "SQLite format 3", 16) != 0) {
    refuse(name, "not a data file of this host (not an SQLite database)");
  }
  if (got < static_cast<ssize_t>(sizeof header)) {
    refuse(name, "damaged: truncated within its header");
  }
  if (bigEndian(header + 68) != kApplicationId) {
    refuse(name, "not a data file of this host (an SQLite database of another program)");
  }
  std::uint32_t pageSize = static_cast<std::uint32_t>(header[16]) << 8 | header[17];
  if (pageSize == 1) pageSize = 65536;
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
    refuse(name, "damaged: its header names no valid page size");
  }
  // With a write-ahead log holding data the log has the last word on size.
  if (!*walHoldsData) {
    if (info.st_size % pageSize != 0) {
      refuse(name, "damaged: truncated (not a whole number of pages)");
    }
    const std::uint32_t pages = bigEndian(header + 28);
    const bool pagesValid = pages != 0 && bigEndian(header + 24) == bigEndian(header + 92);
    if (pagesValid &&
        static_cast<std::uint64_t>(info.st_size) < static_cast<std::uint64_t>(pages) * pageSize) {
      refuse(name, "damaged: truncated (shorter than its header says)");
    }
  }
  return false;
}

// Checks an existing file through a connection that cannot change it or
// make files beside it: read-only, immutable.
void verifyUntouched(const std::string& name, int recordLength) {
  sqlite3* db = nullptr;
  const std::string uri = "file:" + uriPath(name) + "?mode=ro&immutable=1";
  int rc = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                           nullptr);
  std::string reason = rc == SQLITE_OK ? verify(db, recordLength)
                                       : "cannot open: " + sqliteReason(db, rc);
  sqlite3_close(db);
  if (!reason.empty()) refuse(name, reason);
}

void prepare(HostDataFile* file, const char* sql, sqlite3_stmt** stmt) {
  const int rc = sqlite3_prepare_v3(file->db, sql, -1, SQLITE_PREPARE_PERSISTENT,
                                    stmt, nullptr);
  if (rc != SQLITE_OK) refuse(file->name, "cannot be used: " + sqliteReason(file->db, rc));
}

// Opens, checks where needed, locks and prepares a data file. Throws Fatal
// with the file left as it was whenever the file is refused.
std::unique_ptr<HostDataFile> openDataFile(const std::string& name, int recordLength) {
  bool walHoldsData = false;
  const bool isNew = checkBeforeOpening(name, &walHoldsData);
  // A log holding data means the last host stopped without closing; the log
  // can only be read through a connection that may write, so that case is
  // checked below, under the lock, with checkpoints held off.
  if (!isNew && !walHoldsData) verifyUntouched(name, recordLength);

  auto file = std::make_unique<HostDataFile>();
  file->name = name;
  file->recordLength = recordLength;
  int flags = SQLITE_OPEN_READWRITE | (isNew ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(name.c_str(), &file->db, flags, nullptr);
  if (rc != SQLITE_OK) {
    refuse(name, std::string(isNew ? "cannot create: " : "cannot open: ") +
                     sqliteReason(file->db, rc));
  }
  sqlite3_db_config(file->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // Exclusive locking before the first access: the lock is taken by the
  // first transaction and kept until close, and a write-ahead log needs no
  // shared-memory file beside the database.
  rc = run(file->db, faults().relaxedSync
                         ? "PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=NORMAL"
                         : "PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=FULL");
  if (rc == SQLITE_OK) rc = run(file->db, "BEGIN EXCLUSIVE");
  if (rc != SQLITE_OK) refuse(name, sqliteReason(file->db, rc));
  if (isNew) {
    // Made in rollback mode, so that the marks are in the main file from the
    // first commit on and a header check never depends on the log.
    const std::string create = std::string(kCreate) +
                               "; PRAGMA application_id=" + std::to_string(kApplicationId) +
                               "; PRAGMA user_version=" + std::to_string(recordLength);
    rc = run(file->db, create.c_str());
    if (rc == SQLITE_OK) rc = run(file->db, "COMMIT");
    if (rc != SQLITE_OK) refuse(name, "cannot create: " + sqliteReason(file->db, rc));
  } else {
    const std::string reason = walHoldsData ? verify(file->db, recordLength) : "";
    run(file->db, "ROLLBACK");
    if (!reason.empty()) refuse(name, reason);
  }
  sqlite3_db_config(file->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  rc = run(file->db, "PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK) rc = run(file->db, "BEGIN EXCLUSIVE; COMMIT");
  if (rc != SQLITE_OK) refuse(name, "cannot be used: " + sqliteReason(file->db, rc));
  prepare(file.get(), kSelect, &file->select);
  prepare(file.get(), kInsert, &file->insert);
  prepare(file.get(), kDelete, &file->remove);
  prepare(file.get(), kAll, &file->all);
  return file;
}

bool isOpen(const HostDataFile* file) {
  for (const auto& f : dataFiles().open) {
    if (f.get() == file) return true;
  }
  return false;
}

// The current file, or null with a warning naming the routine.
HostDataFile* currentFile(const char* routine) {
  const auto& stack = dataFiles().stack;
  HostDataFile* file = stack.empty() ? nullptr : stack.back();
  if (file == nullptr) warning(std::string(routine) + ": no data file is selected");
  return file;
}

// Steps a statement that answers no rows; "" or the reason it failed.
std::string change(HostDataFile* file, sqlite3_stmt* stmt) {
  const int rc = sqlite3_step(stmt);
  std::string reason = rc == SQLITE_DONE ? "" : sqliteReason(file->db, rc);
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return reason;
}

}  // namespace

void closeDataFiles() {
  DataFiles& files = dataFiles();
  files.stack.clear();
  files.open.clear();
}

void forgetWriteFailures() { dataFiles().failures = WriteFailures{}; }

WriteFailures writeFailures() { return dataFiles().failures; }

// Counts one refused write of FILE: account lines are the host's own, the
// rest are the module's records.
static void countFailure(const HostDataFile* file, std::size_t writes) {
  WriteFailures& failures = dataFiles().failures;
  (file == accbb ? failures.accounts : failures.records) += writes;
}

void beginDataBatch(HostDataFile* file) {
  if (file == nullptr || file->batching) return;
  const int rc = run(file->db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) {
    warning(file->name + ": cannot begin a batch: " + sqliteReason(file->db, rc));
    return;
  }
  file->batching = true;
}

void endDataBatch(HostDataFile* file) {
  if (file == nullptr || !file->batching) return;
  file->batching = false;
  const int rc = run(file->db, "COMMIT");
  if (rc != SQLITE_OK) {
    warning(file->name + ": cannot store the batch: " + sqliteReason(file->db, rc));
    run(file->db, "ROLLBACK");
    countFailure(file, file->batched);
  }
  file->batched = 0;
}

HostDataFile* findDataFile(const std::string& name) {
  for (const auto& f : dataFiles().open) {
    if (f->name == name) return f.get();
  }
  return nullptr;
}

std::vector<std::vector<unsigned char>> allRecords(HostDataFile* file) {
  std::vector<std::vector<unsigned char>> out;
  if (file == nullptr || !isOpen(file)) return out;
  int rc;
  while ((rc = sqlite3_step(file->all)) == SQLITE_ROW) {
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(file->all, 0));
    const int size = sqlite3_column_bytes(file->all, 0);
    out.emplace_back(bytes, bytes + size);
  }
  if (rc != SQLITE_DONE) {
    warning(file->name + ": cannot list the records: " + sqliteReason(file->db, rc));
  }
  sqlite3_reset(file->all);
  return out;
}

}  // namespace simhost

using namespace simhost;

extern "C" {

HostDataFile* dfaOpen(const char* name, int recordLength, int /*reserved*/) {
  if (name == nullptr || *name == '\0') throw Fatal(1, "dfaOpen: no file name given");
  if (recordLength < 1 || recordLength > kMaxRecordLength) {
    refuse(name, "record length " + std::to_string(recordLength) +
                     " is not between 1 and " + std::to_string(kMaxRecordLength));
  }
  if (HostDataFile* already = findDataFile(name)) {
    if (already->recordLength != recordLength) {
      refuse(name, "already open with records of " +
                       std::to_string(already->recordLength) + " bytes, not " +
                       std::to_string(recordLength));
    }
    return already;
  }
  dataFiles().open.push_back(openDataFile(name, recordLength));
  return dataFiles().open.back().get();
}

void dfaSetBlk(HostDataFile* file) {
  if (file == nullptr || !isOpen(file)) {
    warning("dfaSetBlk: not an open data file");
    file = nullptr;  // kept on the stack so dfaRstBlk still pairs with it
  }
  dataFiles().stack.push_back(file);
}

void dfaRstBlk() {
  auto& stack = dataFiles().stack;
  if (stack.empty()) {
    warning("dfaRstBlk: no data file to restore");
    return;
  }
  stack.pop_back();
}

std::uint16_t dfaAcqLock(void* buffer, const char* key, int keyNumber,
                         int /*lockMode*/, int /*reserved*/) {
  HostDataFile* file = currentFile("dfaAcqLock");
  if (file == nullptr) return 0;
  if (buffer == nullptr || key == nullptr) {
    warning(file->name + ": dfaAcqLock given no buffer or no key");
    return 0;
  }
  if (keyNumber != 0) {
    warning(file->name + ": dfaAcqLock: there is no key " + std::to_string(keyNumber));
    return 0;
  }
  std::string folded = foldedKey(key, USERID_SIZE);
  file->hasCurrent = false;
  sqlite3_stmt* stmt = file->select;
  sqlite3_bind_blob(stmt, 1, folded.data(), static_cast<int>(folded.size()),
                    SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  bool found = false;
  if (rc == SQLITE_ROW) {
    const int size = sqlite3_column_bytes(stmt, 0);
    const void* bytes = sqlite3_column_blob(stmt, 0);
    // Lengths were checked at open and every insert writes a whole record.
    std::memset(buffer, 0, static_cast<std::size_t>(file->recordLength));
    if (bytes != nullptr) {
      std::memcpy(buffer, bytes,
                  static_cast<std::size_t>(std::min(size, file->recordLength)));
    }
    file->currentKey = std::move(folded);
    file->hasCurrent = true;
    found = true;
  } else if (rc != SQLITE_DONE) {
    warning(file->name + ": cannot read a record: " + sqliteReason(file->db, rc));
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return found ? 1 : 0;
}

void dfaInsert(const void* record) {
  HostDataFile* file = currentFile("dfaInsert");
  if (file == nullptr) return;
  if (record == nullptr) {
    warning(file->name + ": dfaInsert given no record");
    return;
  }
  const auto limit = static_cast<std::size_t>(std::min<int>(USERID_SIZE, file->recordLength));
  std::string key = foldedKey(static_cast<const char*>(record), limit);
  std::string reason;
  if (faults().failDataWrite) {
    reason = "write refused (injected fault)";
  } else {
    sqlite3_bind_blob(file->insert, 1, key.data(), static_cast<int>(key.size()),
                      SQLITE_STATIC);
    sqlite3_bind_blob(file->insert, 2, record, file->recordLength, SQLITE_STATIC);
    reason = change(file, file->insert);
  }
  if (!reason.empty()) {
    warning(file->name + ": cannot insert " + quote(key) + ": " + reason);
    countFailure(file, 1);
    return;
  }
  if (file->batching) ++file->batched;
  file->currentKey = std::move(key);
  file->hasCurrent = true;
}

void dfaDelete() {
  HostDataFile* file = currentFile("dfaDelete");
  if (file == nullptr) return;
  if (!file->hasCurrent) {
    warning(file->name + ": dfaDelete: there is no current record");
    return;
  }
  std::string reason;
  if (faults().failDataWrite) {
    reason = "write refused (injected fault)";
  } else {
    sqlite3_bind_blob(file->remove, 1, file->currentKey.data(),
                      static_cast<int>(file->currentKey.size()), SQLITE_STATIC);
    reason = change(file, file->remove);
  }
  if (!reason.empty()) {
    warning(file->name + ": cannot delete " + quote(file->currentKey) + ": " + reason);
    countFailure(file, 1);
    return;
  }
  file->hasCurrent = false;
}

}  // extern "C"

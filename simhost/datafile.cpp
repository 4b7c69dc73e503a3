// Keyed data files (dfaOpen, dfaSetBlk, dfaRstBlk, dfaAcqLock, dfaInsert,
// dfaDelete): one SQLite database per file, held exclusively while the host
// runs, with the set of its keys in memory to answer a miss at once.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "simhost/datafile_checks.h"
#include "simhost/internal.h"
#include "simhost/text.h"

using namespace simhost::datafile;

namespace {

constexpr int kMaxRecordLength = 65536;

const char kSelect[] = "SELECT record FROM records WHERE key = ?1";
const char kInsert[] = "INSERT OR REPLACE INTO records(key, record) VALUES(?1, ?2)";
const char kDelete[] = "DELETE FROM records WHERE key = ?1";
const char kAll[] = "SELECT record FROM records ORDER BY key";
const char kKeys[] = "SELECT key FROM records";

enum class Change { Insert, Delete };

}  // namespace

struct HostDataFile {
  std::string name;
  int recordLength = 0;
  sqlite3* db = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_stmt* all = nullptr;
  sqlite3_stmt* raise = nullptr;  // the identity's count, in every commit
  bool hasCurrent = false;
  std::string currentKey;  // folded key of the current record
  // Every key the file holds as committed. Nobody else writes the file
  // while the host holds it, so a key not here is not in the file.
  std::unordered_set<std::string> keys;
  bool batching = false;  // a transaction is held open by beginDataBatch
  // The changes held by that transaction, applied to `keys` once committed;
  // a look-up of a key inserted in it asks SQLite.
  std::vector<std::pair<Change, std::string>> batched;
  std::unordered_set<std::string> batchedInserts;

  ~HostDataFile() {
    // Closing would roll an open batch back; what was written is kept.
    if (batching) {
      sqlite3_step(raise);
      sqlite3_reset(raise);
      run(db, "COMMIT");
    }
    for (sqlite3_stmt* s : {select, insert, remove, all, raise}) sqlite3_finalize(s);
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

// The key of a record or a look-up: the text up to its terminator, at most
// `limit` bytes, ASCII letters lower-cased.
std::string foldedKey(const char* text, std::size_t limit) {
  return text::folded(std::string_view(text, strnlen(text, limit)));
}

void prepare(HostDataFile* file, const char* sql, sqlite3_stmt** stmt) {
  const int rc = sqlite3_prepare_v3(file->db, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr);
  if (rc != SQLITE_OK) refuse(file->name, "cannot be used: " + sqliteReason(file->db, rc));
}

void loadKeys(HostDataFile* file) {
  sqlite3_stmt* stmt = nullptr;
  prepare(file, kKeys, &stmt);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 0));
    file->keys.emplace(bytes != nullptr ? bytes : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) refuse(file->name, "cannot read its keys: " + sqliteReason(file->db, rc));
}

// A new file is made in rollback mode, so that the marks and the identity
// are in the main file from the first commit on and a header check never
// depends on the log.
void createTables(HostDataFile* file) {
  const std::string create = std::string(kCreateRecords) + "; " + kCreateIdentity +
                             "; PRAGMA application_id=" + std::to_string(kApplicationId) +
                             "; PRAGMA user_version=" + std::to_string(file->recordLength);
  int rc = run(file->db, create.c_str());
  if (rc == SQLITE_OK) rc = run(file->db, "COMMIT");
  if (rc != SQLITE_OK)
    refuse(file->name, "cannot create: " + openFailure(file->name, file->db, rc, true));
}

// Opens, checks where needed, locks and prepares a data file. Throws Fatal
// with the file left as it was whenever the file is refused.
std::unique_ptr<HostDataFile> openDataFile(const std::string& name, int recordLength) {
  const Found found = checkBeforeOpening(name);
  bool identified = true;
  if (found == Found::Closed) identified = verifyClosed(name, recordLength);
  if (found == Found::WithLog) verifyLog(name, recordLength);

  auto file = std::make_unique<HostDataFile>();
  file->name = name;
  file->recordLength = recordLength;
  const bool isNew = found == Found::New;
  int flags = SQLITE_OPEN_READWRITE | (isNew ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(name.c_str(), &file->db, flags, nullptr);
  if (rc != SQLITE_OK) {
    refuse(name, std::string(isNew ? "cannot create: " : "cannot open: ") +
                     openFailure(name, file->db, rc, isNew));
  }
  // Until the file is accepted, closing it must not write a log into it.
  sqlite3_db_config(file->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // Exclusive locking before the first access: the lock is taken by the
  // first transaction and kept until close, and a write-ahead log needs no
  // shared-memory file beside the database.
  rc = run(file->db, dataFileSettings().relaxedSync
                         ? "PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=NORMAL"
                         : "PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=FULL");
  if (rc == SQLITE_OK) rc = run(file->db, "BEGIN EXCLUSIVE");
  if (rc != SQLITE_OK) {
    refuse(name, (isNew ? "cannot create: " : "") + openFailure(name, file->db, rc, isNew));
  }
  if (isNew)
    createTables(file.get());
  else
    run(file->db, "ROLLBACK");
  sqlite3_db_config(file->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  rc = run(file->db, "PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK) rc = run(file->db, "BEGIN EXCLUSIVE; COMMIT");
  if (rc == SQLITE_OK && !identified) {
    // A file of an earlier host gets its identity at its first clean open,
    // checkpointed at once so that the main file carries it.
    const std::string stamp = std::string("BEGIN IMMEDIATE; ") + kCreateIdentity + "; COMMIT";
    rc = run(file->db, stamp.c_str());
    if (rc == SQLITE_OK) rc = run(file->db, "PRAGMA wal_checkpoint(TRUNCATE)");
  }
  if (rc != SQLITE_OK) {
    refuse(name, "cannot be used: " + openFailure(name, file->db, rc, isNew));
  }
  prepare(file.get(), kSelect, &file->select);
  prepare(file.get(), kInsert, &file->insert);
  prepare(file.get(), kDelete, &file->remove);
  prepare(file.get(), kAll, &file->all);
  prepare(file.get(), kRaiseCount, &file->raise);
  loadKeys(file.get());
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
std::string step(HostDataFile* file, sqlite3_stmt* stmt) {
  const int rc = sqlite3_step(stmt);
  std::string reason = rc == SQLITE_DONE ? "" : sqliteReason(file->db, rc);
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return reason;
}

// Counts refused writes of FILE: account lines are the host's own, the
// rest are the module's records.
void countFailure(const HostDataFile* file, std::size_t writes) {
  WriteFailures& failures = dataFiles().failures;
  (file == accbb ? failures.accounts : failures.records) += writes;
}

void noteCommitted(HostDataFile* file, Change change, const std::string& key) {
  if (change == Change::Insert) {
    file->keys.insert(key);
  } else {
    file->keys.erase(key);
  }
}

// The changes an open batch held are gone: warned, counted, forgotten.
void loseBatch(HostDataFile* file, const std::string& reason) {
  warning(file->name + ": cannot store the batch: " + reason);
  if (!sqlite3_get_autocommit(file->db)) run(file->db, "ROLLBACK");
  countFailure(file, file->batched.size());
  if (file->hasCurrent && file->batchedInserts.count(file->currentKey) != 0) {
    file->hasCurrent = false;
  }
  file->batching = false;
  file->batched.clear();
  file->batchedInserts.clear();
}

// SQLite rolls a transaction back by itself after some failures (a full
// disk among them); the batch it held is then lost, and what follows is
// committed change by change.
void checkBatch(HostDataFile* file) {
  if (file->batching && sqlite3_get_autocommit(file->db)) {
    loseBatch(file, "rolled back after a failed write");
  }
}

// The one route of every change to a file: the fault settings, then the
// change, committed with the identity's count unless a batch holds it.
// Warns and counts a refused change; true when it was made.
bool store(HostDataFile* file, Change change, const std::string& key, const void* record) {
  std::string reason;
  checkBatch(file);
  if (faults().failDataWrite) {
    reason = "write refused (injected fault)";
  } else {
    if (!file->batching && run(file->db, "BEGIN IMMEDIATE") != SQLITE_OK) {
      reason = sqliteReason(file->db, sqlite3_errcode(file->db));
    }
    sqlite3_stmt* stmt = change == Change::Insert ? file->insert : file->remove;
    sqlite3_bind_blob(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (change == Change::Insert) {
      sqlite3_bind_blob(stmt, 2, record, file->recordLength, SQLITE_STATIC);
    }
    if (reason.empty()) reason = step(file, stmt);
    if (!file->batching) {
      if (reason.empty()) reason = step(file, file->raise);
      if (reason.empty() && run(file->db, "COMMIT") != SQLITE_OK) {
        reason = sqliteReason(file->db, sqlite3_errcode(file->db));
      }
      if (!reason.empty() && !sqlite3_get_autocommit(file->db)) run(file->db, "ROLLBACK");
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
  if (!reason.empty()) {
    checkBatch(file);
    warning(file->name + (change == Change::Insert ? ": cannot insert " : ": cannot delete ") +
            quote(key) + ": " + reason);
    countFailure(file, 1);
    return false;
  }
  if (file->batching) {
    file->batched.emplace_back(change, key);
    if (change == Change::Insert) file->batchedInserts.insert(key);
  } else {
    noteCommitted(file, change, key);
  }
  return true;
}

}  // namespace

void closeDataFiles() {
  DataFiles& files = dataFiles();
  files.stack.clear();
  files.open.clear();
}

void forgetWriteFailures() { dataFiles().failures = WriteFailures{}; }

WriteFailures writeFailures() { return dataFiles().failures; }

DataFileSettings& dataFileSettings() {
  static DataFileSettings settings;
  return settings;
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
  std::string reason = step(file, file->raise);
  if (reason.empty() && run(file->db, "COMMIT") != SQLITE_OK) {
    reason = sqliteReason(file->db, sqlite3_errcode(file->db));
  }
  if (!reason.empty()) {
    loseBatch(file, reason);
    return;
  }
  file->batching = false;
  for (const auto& [change, key] : file->batched) noteCommitted(file, change, key);
  file->batched.clear();
  file->batchedInserts.clear();
}

HostDataFile* findDataFile(const std::string& name) {
  for (const auto& f : dataFiles().open) {
    if (f->name == name) return f.get();
  }
  return nullptr;
}

int recordLengthOf(const HostDataFile* file) { return file->recordLength; }

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
    refuse(name, "record length " + std::to_string(recordLength) + " is not between 1 and " +
                     std::to_string(kMaxRecordLength));
  }
  if (HostDataFile* already = findDataFile(name)) {
    if (already->recordLength != recordLength) {
      refuse(name, "already open with records of " + std::to_string(already->recordLength) +
                       " bytes, not " + std::to_string(recordLength));
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

std::uint16_t dfaAcqLock(void* buffer, const char* key, int keyNumber, int /*lockMode*/,
                         int /*reserved*/) {
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
  if (file->keys.count(folded) == 0 && file->batchedInserts.count(folded) == 0) return 0;
  sqlite3_stmt* stmt = file->select;
  sqlite3_bind_blob(stmt, 1, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  bool found = false;
  if (rc == SQLITE_ROW) {
    const int size = sqlite3_column_bytes(stmt, 0);
    const void* bytes = sqlite3_column_blob(stmt, 0);
    // Lengths were checked at open and every insert writes a whole record.
    std::memset(buffer, 0, static_cast<std::size_t>(file->recordLength));
    if (bytes != nullptr) {
      std::memcpy(buffer, bytes, static_cast<std::size_t>(std::min(size, file->recordLength)));
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
  if (!store(file, Change::Insert, key, record)) return;
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
  if (store(file, Change::Delete, file->currentKey, nullptr)) file->hasCurrent = false;
}

}  // extern "C"

// The board's passwords: Argon2id hashing and checking through libsodium,
// and passwords.dat, an SQLite file of its own holding one hash per user-id
// (compared ignoring ASCII case), locked and durable as the host's files are.
#include "board/caller/passwords.h"

#include <fcntl.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "simhost/datafile_checks.h"
#include "simhost/simhost.h"
#include "simhost/text.h"

namespace board {

namespace {

const char kLabel[] = "passwords.dat";
// Marks a database as the board's password file ("ZGP1").
constexpr std::uint32_t kApplicationId = 0x5A475031;

void initSodium() {
  // A function-local static is initialised once, whichever thread comes
  // first; sodium_init itself may be called again, but need not be.
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("libsodium cannot be initialised");
}

[[noreturn]] void refuse(const std::string& reason) {
  throw simhost::Fatal(1, std::string(kLabel) + ": " + reason);
}

std::string reasonOf(sqlite3* db, int rc) { return simhost::datafile::sqliteReason(db, rc); }

// Refuses, without touching it, a file that cannot be an SQLite database.
void checkBeforeOpening(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) refuse(std::string("cannot open: ") + std::strerror(errno));
    // Made by hand so that only the board's user can read the hashes;
    // SQLite's own files beside it (the log) take the same mode.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) refuse(std::string("cannot create: ") + std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return;
  }
  if (!S_ISREG(info.st_mode)) refuse("is not a regular file");
  if (info.st_size == 0) return;
  // A file made but not yet marked (a board stopped while making it) has
  // no mark; any other mark is another program's.
  unsigned char header[simhost::datafile::kHeaderSize];
  simhost::datafile::checkHeader(path, kApplicationId, true, "a password file of this board",
                                 header);
}

// One statement with up to three text bindings; the callback sees each row.
// Answers SQLITE_DONE or the failing result.
template <class Row>
int runStatement(sqlite3* db, const char* sql, std::initializer_list<std::string> binds, Row row) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  int n = 0;
  for (const std::string& b : binds) {
    if (rc == SQLITE_OK) {
      rc = sqlite3_bind_text(stmt, ++n, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    }
  }
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
  }
  sqlite3_finalize(stmt);
  return rc;
}

int exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

std::int64_t pragmaInt(sqlite3* db, const char* sql, int* rc) {
  std::int64_t value = 0;
  *rc = runStatement(db, sql, {}, [&](sqlite3_stmt* s) { value = sqlite3_column_int64(s, 0); });
  return value;
}

}  // namespace

std::string hashPassword(const std::string& password) {
  initSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw std::runtime_error("cannot hash a password: not enough memory");
  }
  return out;
}

bool verifyPassword(const std::string& hash, const std::string& password) {
  initSodium();
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES ||
      hash.find('\0') != std::string::npos) {
    return false;
  }
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

const std::string& dummyHash() {
  // A random password nobody knows, thrown away once hashed.
  static const std::string hash = [] {
    initSodium();
    unsigned char secret[32];
    randombytes_buf(secret, sizeof secret);
    std::string password(reinterpret_cast<const char*>(secret), sizeof secret);
    std::string made = hashPassword(password);
    sodium_memzero(password.data(), password.size());
    return made;
  }();
  return hash;
}

PasswordFile::PasswordFile(const std::string& path) {
  checkBeforeOpening(path);
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = reasonOf(db_, rc);
    sqlite3_close(db_);
    db_ = nullptr;
    refuse("cannot open: " + reason);
  }
  // Everything below runs under one exclusive lock that is then kept until
  // the file is closed, as the host's data files are.
  std::string problem;
  rc = exec(db_, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=FULL; BEGIN EXCLUSIVE");
  if (rc != SQLITE_OK) problem = reasonOf(db_, rc);
  std::int64_t id = 0, tables = 0;
  if (problem.empty()) id = pragmaInt(db_, "PRAGMA application_id", &rc);
  if (problem.empty() && rc != SQLITE_DONE) {
    problem = rc == SQLITE_NOTADB ? "not a password file of this board (not an SQLite database)"
                                  : reasonOf(db_, rc);
  }
  if (problem.empty()) tables = pragmaInt(db_, "SELECT count(*) FROM sqlite_master", &rc);
  if (problem.empty() && rc != SQLITE_DONE) problem = "damaged: " + reasonOf(db_, rc);
  if (problem.empty() && id == 0 && tables == 0) {
    const std::string create =
        "CREATE TABLE passwords(key TEXT PRIMARY KEY NOT NULL, userid TEXT NOT NULL,"
        " hash TEXT NOT NULL) WITHOUT ROWID; PRAGMA application_id=" +
        std::to_string(kApplicationId) + "; PRAGMA user_version=1";
    rc = exec(db_, create.c_str());
    if (rc != SQLITE_OK) problem = "cannot create: " + reasonOf(db_, rc);
  } else if (problem.empty() && id != kApplicationId) {
    problem = "not a password file of this board (an SQLite database of another program)";
  } else if (problem.empty()) {
    std::string verdict;
    rc = runStatement(db_, "PRAGMA quick_check", {}, [&](sqlite3_stmt* s) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      if (!verdict.empty()) verdict += "; ";
      verdict += text != nullptr ? reinterpret_cast<const char*>(text) : "";
    });
    if (rc != SQLITE_DONE) {
      problem = "damaged: " + reasonOf(db_, rc);
    } else if (verdict != "ok") {
      problem = "damaged: " + verdict;
    }
  }
  if (problem.empty()) rc = exec(db_, "COMMIT");
  if (problem.empty() && rc != SQLITE_OK) problem = reasonOf(db_, rc);
  if (problem.empty()) rc = exec(db_, "PRAGMA journal_mode=WAL");
  if (problem.empty() && rc != SQLITE_OK) problem = "cannot be used: " + reasonOf(db_, rc);
  if (!problem.empty()) {
    exec(db_, "ROLLBACK");
    sqlite3_close(db_);
    db_ = nullptr;
    refuse(problem);
  }
}

PasswordFile::~PasswordFile() {
  if (db_ != nullptr) sqlite3_close(db_);
}

std::optional<std::string> PasswordFile::hashOf(const std::string& userid) {
  std::optional<std::string> hash;
  const int rc = runStatement(db_, "SELECT hash FROM passwords WHERE key = ?1",
                              {simhost::text::folded(userid)}, [&](sqlite3_stmt* s) {
                                const unsigned char* text = sqlite3_column_text(s, 0);
                                hash = text != nullptr ? reinterpret_cast<const char*>(text) : "";
                              });
  if (rc != SQLITE_DONE) {
    simhost::warning(std::string(kLabel) + ": cannot read the password of " +
                     simhost::quote(userid) + ": " + reasonOf(db_, rc));
    return std::nullopt;
  }
  return hash;
}

std::vector<std::string> PasswordFile::userids() {
  std::vector<std::string> out;
  const int rc =
      runStatement(db_, "SELECT userid FROM passwords ORDER BY key", {}, [&](sqlite3_stmt* s) {
        const unsigned char* text = sqlite3_column_text(s, 0);
        out.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      });
  if (rc != SQLITE_DONE) {
    simhost::warning(std::string(kLabel) + ": cannot list the user-ids: " + reasonOf(db_, rc));
  }
  return out;
}

std::string PasswordFile::store(const std::string& userid, const std::string& hash) {
  const int rc =
      runStatement(db_, "INSERT OR REPLACE INTO passwords(key, userid, hash) VALUES(?1, ?2, ?3)",
                   {simhost::text::folded(userid), userid, hash}, [](sqlite3_stmt*) {});
  if (rc == SQLITE_DONE) return "";
  std::string reason = std::string(kLabel) + ": cannot store the password of " +
                       simhost::quote(userid) + ": " + reasonOf(db_, rc);
  simhost::warning(reason);
  return reason;
}

std::string PasswordFile::remove(const std::string& userid) {
  const int rc = runStatement(db_, "DELETE FROM passwords WHERE key = ?1",
                              {simhost::text::folded(userid)}, [](sqlite3_stmt*) {});
  if (rc == SQLITE_DONE) return "";
  std::string reason = std::string(kLabel) + ": cannot remove the password of " +
                       simhost::quote(userid) + ": " + reasonOf(db_, rc);
  simhost::warning(reason);
  return reason;
}

}  // namespace board

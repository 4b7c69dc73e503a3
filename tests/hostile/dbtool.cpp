// Makes the SQLite files the hostile-file tests feed the host: databases of
// the host's layout (right or wrong record length, records of any bytes),
// foreign databases, and a database held locked by this process.
//   dbtool make FILE LENGTH            an empty data file of LENGTH-byte records
//   dbtool put FILE KEY HEXBYTES       store a record under KEY, as given
//   dbtool foreign FILE                a database of another program
//   dbtool hold FILE                   lock FILE as a host does, say "held",
//                                      keep it until standard input closes
//   dbtool wal FILE KEY HEXBYTES       store a record in WAL mode and stop
//                                      without closing: FILE-wal holds it
//   dbtool journal FILE                make FILE a database of its own and
//                                      stop mid-transaction: FILE-journal is hot
#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The host's marks: application_id "ZGV1", user_version = record length.
constexpr long kApplicationId = 0x5A475631;

[[noreturn]] void fail(sqlite3* db, const char* what) {
  std::fprintf(stderr, "dbtool: %s: %s\n", what, db != nullptr ? sqlite3_errmsg(db) : "?");
  std::exit(1);
}

sqlite3* open(const char* file) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file, &db) != SQLITE_OK) fail(db, file);
  return db;
}

void exec(sqlite3* db, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) fail(db, sql.c_str());
}

std::vector<unsigned char> fromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 2 ? argv[1] : "";
  if (verb == "make" && argc == 4) {
    sqlite3* db = open(argv[2]);
    exec(db,
         "CREATE TABLE records(key BLOB PRIMARY KEY NOT NULL, record BLOB NOT NULL)"
         " WITHOUT ROWID; PRAGMA application_id=" +
             std::to_string(kApplicationId) + "; PRAGMA user_version=" + std::string(argv[3]));
    sqlite3_close(db);
  } else if ((verb == "put" || verb == "wal") && argc == 5) {
    sqlite3* db = open(argv[2]);
    if (verb == "wal") exec(db, "PRAGMA journal_mode=WAL");
    const std::string key = argv[3];
    const std::vector<unsigned char> record = fromHex(argv[4]);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO records(key, record) VALUES(?1, ?2)", -1,
                           &stmt, nullptr) != SQLITE_OK)
      fail(db, "put");
    sqlite3_bind_blob(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_blob(stmt, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_DONE) fail(db, "put");
    sqlite3_finalize(stmt);
    if (verb == "wal") _exit(0);  // no close, so no checkpoint
    sqlite3_close(db);
  } else if (verb == "journal" && argc == 3) {
    // A cache of one page spills into the file mid-transaction, so the
    // journal on disk is hot when the process stops.
    sqlite3* db = open(argv[2]);
    exec(db,
         "PRAGMA journal_mode=DELETE; PRAGMA cache_size=1;"
         " CREATE TABLE notes(text TEXT);"
         " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50)"
         " INSERT INTO notes SELECT hex(randomblob(500)) FROM n");
    exec(db, "BEGIN; UPDATE notes SET text = 'overwritten'");
    _exit(0);
  } else if (verb == "foreign" && argc == 3) {
    sqlite3* db = open(argv[2]);
    exec(db,
         "CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT);"
         " INSERT INTO notes(text) VALUES('not a delay file')");
    sqlite3_close(db);
  } else if (verb == "hold" && argc == 3) {
    sqlite3* db = open(argv[2]);
    exec(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE");
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    exec(db, "ROLLBACK");
    sqlite3_close(db);
  } else {
    std::fprintf(stderr,
                 "usage: dbtool make FILE LENGTH | put FILE KEY HEX | foreign FILE | hold FILE"
                 " | wal FILE KEY HEX | journal FILE\n");
    return 2;
  }
  return 0;
}

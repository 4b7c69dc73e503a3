// The kill test's judge of a data file: runs SQLite's integrity_check on it
// through a read-only connection, so a killed host's write-ahead log is read
// as the next host would read it, and nothing is written back.
//   dbcheck FILE    exit 0 when the answer is "ok", 1 otherwise
#include <sqlite3.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dbcheck FILE\n");
    return 2;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr);
  std::string verdict;
  sqlite3_stmt* stmt = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* line = sqlite3_column_text(stmt, 0);
    if (!verdict.empty()) verdict += "; ";
    verdict += line != nullptr ? reinterpret_cast<const char*>(line) : "";
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", argv[1],
                 db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return 1;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  std::printf("%s: %s\n", argv[1], verdict.c_str());
  return verdict == "ok" ? 0 : 1;
}

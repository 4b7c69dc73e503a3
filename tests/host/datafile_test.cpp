// Keyed data files: records found ignoring case, replaced, deleted, kept
// across a reopen and a killed host; files that are not ours, damaged or
// held by another host refused and left exactly as they were.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "core_host.h"
#include "simhost/internal.h"

using namespace simhost;
namespace fs = std::filesystem;

namespace {

constexpr int kLength = 34;
using Record = std::vector<unsigned char>;

Record record(const std::string& id, unsigned char stamp) {
  Record r(kLength, 0);
  std::copy_n(id.begin(), std::min<std::size_t>(id.size(), USERID_SIZE), r.begin());
  r[30] = stamp;
  r[33] = 0xEE;
  return r;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Every file of the directory with its bytes, to show nothing was touched.
std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> all;
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    all[name] = entry.is_regular_file() ? contents(name) : "<not a file>";
  }
  return all;
}

void sql(const std::string& path, const char* statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class DataFiles : public CoreHost {
 protected:
  HostDataFile* open(const char* name = "t.dat", int length = kLength) {
    HostDataFile* file = dfaOpen(name, length, 0);
    dfaSetBlk(file);
    return file;
  }
  void insert(const Record& r) { dfaInsert(r.data()); }
  // The record found for `key`, or empty.
  Record find(const char* key) {
    Record buffer(kLength, 0xAA);
    return dfaAcqLock(buffer.data(), key, 0, 5, 0) ? buffer : Record();
  }
  // A stored file of ours with `count` records, closed again.
  void makeFile(const char* name, int length, int count) {
    dfaSetBlk(dfaOpen(name, length, 0));
    for (int i = 0; i < count; ++i) {
      Record r(length, static_cast<unsigned char>(i));
      std::snprintf(reinterpret_cast<char*>(r.data()), USERID_SIZE, "user%04d", i);
      dfaInsert(r.data());
    }
    simhost::close();
  }
};

TEST_F(DataFiles, InsertFindIgnoringCaseReplaceDelete) {
  HostDataFile* file = open();
  insert(record("Alice", 1));
  insert(record("bob", 2));
  EXPECT_EQ(find("ALICE"), record("Alice", 1));
  EXPECT_EQ(find("Bob"), record("bob", 2));
  EXPECT_EQ(find("carol"), Record());
  EXPECT_EQ(find(""), Record());

  insert(record("BOB", 3));  // the newest record of a key wins
  EXPECT_EQ(find("bob"), record("BOB", 3));
  EXPECT_EQ(allRecords(file), (std::vector<Record>{record("Alice", 1), record("BOB", 3)}));

  ASSERT_FALSE(find("alice").empty());
  dfaDelete();
  EXPECT_EQ(find("Alice"), Record());
  EXPECT_EQ(allRecords(file), std::vector<Record>{record("BOB", 3)});
  EXPECT_TRUE(take().empty());
  dfaDelete();  // the failed look-up left no current record
  EXPECT_EQ(take(),
            std::vector<std::string>{"warning \"t.dat: dfaDelete: there is no current record\""});
}

// Changes held by a batch are found while it is open and after it ends,
// in the order they were made.
TEST_F(DataFiles, ABatchIsSeenAtOnceAndKeptInOrder) {
  HostDataFile* file = open();
  insert(record("alice", 1));
  beginDataBatch(file);
  ASSERT_FALSE(find("alice").empty());
  dfaDelete();
  insert(record("Alice", 2));
  insert(record("bob", 3));
  EXPECT_EQ(find("BOB"), record("bob", 3));
  endDataBatch(file);
  EXPECT_EQ(find("alice"), record("Alice", 2));
  EXPECT_EQ(find("bob"), record("bob", 3));
  EXPECT_TRUE(take().empty());
}

TEST_F(DataFiles, KeysAreTheFirstThirtyBytesAtMost) {
  HostDataFile* file = open();
  const std::string id29(29, 'Z');
  insert(record(id29, 1));
  EXPECT_EQ(find(std::string(29, 'z').c_str()), record(id29, 1));
  EXPECT_EQ(find(std::string(28, 'z').c_str()), Record());

  // A record with no terminator in its key field: the key is all 30 bytes,
  // and a longer look-up key is read no further than that.
  Record full(kLength, 'Q');
  insert(full);
  EXPECT_EQ(find((std::string(30, 'q') + "trailing").c_str()), full);
  EXPECT_EQ(allRecords(file).size(), 2u);
}

TEST_F(DataFiles, RecordsInKeyOrderAndKeptAcrossAReopen) {
  open();
  insert(record("carol", 1));
  insert(record("Alice", 2));
  insert(record("bob", 3));
  simhost::close();
  HostDataFile* file = open();
  EXPECT_EQ(allRecords(file),
            (std::vector<Record>{record("Alice", 2), record("bob", 3), record("carol", 1)}));
  EXPECT_EQ(findDataFile("t.dat"), file);
  EXPECT_EQ(dfaOpen("t.dat", kLength, 0), file);
  EXPECT_THROW(dfaOpen("t.dat", 40, 0), Fatal);
}

TEST_F(DataFiles, AnEmptyFileCountsAsNew) {
  std::ofstream("t.dat").close();
  open();
  insert(record("x", 1));
  EXPECT_EQ(find("X"), record("x", 1));
}

// The file is one an earlier host wrote, with no identity: the killed host
// gave it one at its first open, so its own log is taken back.
TEST_F(DataFiles, AKilledHostLosesNothing) {
  sql("t.dat",
      "CREATE TABLE records(key BLOB PRIMARY KEY NOT NULL, record BLOB NOT NULL) WITHOUT ROWID;"
      " PRAGMA application_id=1514624561; PRAGMA user_version=34; PRAGMA journal_mode=WAL");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dfaSetBlk(dfaOpen("t.dat", kLength, 0));
    dfaInsert(record("kept", 7).data());
    _exit(0);  // no close: the record is only in the write-ahead log
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(fs::exists("t.dat-wal") && fs::file_size("t.dat-wal") > 0);
  const auto before = snapshot();
  EXPECT_THROW(dfaOpen("t.dat", 40, 0), Fatal);  // refused, even with a log
  EXPECT_EQ(snapshot(), before);
  open();
  EXPECT_EQ(find("KEPT"), record("kept", 7));
}

TEST_F(DataFiles, FailedWritesWarnAndChangeNothing) {
  HostDataFile* file = open();
  insert(record("alice", 1));
  faults().failDataWrite = true;
  insert(record("bob", 2));
  insert(record("ALICE", 3));
  ASSERT_FALSE(find("alice").empty());
  dfaDelete();
  EXPECT_EQ(take(),
            (std::vector<std::string>{
                "warning \"t.dat: cannot insert \\\"bob\\\": write refused (injected fault)\"",
                "warning \"t.dat: cannot insert \\\"alice\\\": write refused (injected fault)\"",
                "warning \"t.dat: cannot delete \\\"alice\\\": write refused (injected fault)\"",
            }));
  faults().failDataWrite = false;
  EXPECT_EQ(writeFailures().records, 3u);  // each refused write is counted
  EXPECT_EQ(writeFailures().accounts, 0u);
  EXPECT_EQ(allRecords(file), std::vector<Record>{record("alice", 1)});
  dfaDelete();  // the failed delete left the record current
  EXPECT_TRUE(allRecords(file).empty());
}

TEST_F(DataFiles, TheCurrentFileStack) {
  HostDataFile* a = dfaOpen("a.dat", kLength, 0);
  HostDataFile* b = dfaOpen("b.dat", kLength, 0);
  dfaSetBlk(a);
  insert(record("in-a", 1));
  dfaSetBlk(b);
  insert(record("in-b", 2));
  dfaRstBlk();
  EXPECT_FALSE(find("in-a").empty());
  EXPECT_TRUE(find("in-b").empty());
  dfaRstBlk();
  EXPECT_TRUE(take().empty());
  dfaRstBlk();
  EXPECT_TRUE(find("in-a").empty());
  insert(record("nowhere", 3));
  EXPECT_EQ(take(), (std::vector<std::string>{
                        "warning \"dfaRstBlk: no data file to restore\"",
                        "warning \"dfaAcqLock: no data file is selected\"",
                        "warning \"dfaInsert: no data file is selected\"",
                    }));
  EXPECT_EQ(allRecords(b), std::vector<Record>{record("in-b", 2)});
}

TEST_F(DataFiles, FilesThatAreNotOursOrDamagedAreRefusedUntouched) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string reason;
  };
  auto randomBytes = [] {
    std::string bytes;
    unsigned state = 12345;
    for (int i = 0; i < 8192; ++i) {
      state = state * 1103515245 + 12345;
      bytes += static_cast<char>(state >> 16);
    }
    std::ofstream("t.dat", std::ios::binary) << bytes;
  };
  auto truncateTo = [this](std::uintmax_t size) {
    makeFile("t.dat", kLength, 300);
    fs::resize_file("t.dat", size);
  };
  const Case cases[] = {
      {"random bytes", randomBytes, "t.dat: not a data file of this host (not an SQLite database)"},
      {"a text file", [] { std::ofstream("t.dat") << "hello\n"; },
       "t.dat: not a data file of this host (not an SQLite database)"},
      {"another program's database",
       [] { sql("t.dat", "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1)"); },
       "t.dat: not a data file of this host (an SQLite database of another program)"},
      {"our file of another record length", [this] { makeFile("t.dat", 512, 3); },
       "t.dat: holds records of 512 bytes, not 34"},
      {"cut inside its header", [&] { truncateTo(60); },
       "t.dat: damaged: truncated within its header"},
      {"cut inside a page", [&] { truncateTo(5000); },
       "t.dat: damaged: truncated (not a whole number of pages)"},
      {"cut at a page boundary", [&] { truncateTo(8192); },
       "t.dat: damaged: truncated (shorter than its header says)"},
      {"a damaged page",
       [this] {
         makeFile("t.dat", kLength, 300);
         std::fstream f("t.dat", std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(4096 + 0);
         f << std::string(64, '\xFF');
       },
       "t.dat: damaged: "},
      {"a directory", [] { fs::create_directory("t.dat"); },
       "t.dat: is a directory, not a data file"},
  };
  for (const Case& c : cases) {
    for (const char* stale : {"t.dat", "t.dat-wal", "t.dat-shm"}) fs::remove_all(stale);
    c.make();
    const auto before = snapshot();
    try {
      dfaOpen("t.dat", kLength, 0);
      ADD_FAILURE() << c.what << ": opened";
    } catch (const Fatal& fatal) {
      EXPECT_EQ(fatal.status, 1) << c.what;
      EXPECT_EQ(std::string(fatal.what()).rfind(c.reason, 0), 0u) << c.what << ": " << fatal.what();
    }
    EXPECT_EQ(snapshot(), before) << c.what;
    EXPECT_EQ(findDataFile("t.dat"), nullptr) << c.what;
  }
}

TEST_F(DataFiles, AFileHeldByAnotherHostIsRefused) {
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dfaSetBlk(dfaOpen("t.dat", kLength, 0));
    dfaInsert(record("held", 1).data());
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1 || read(done[0], &byte, 1) != 1) _exit(2);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  const auto before = snapshot();
  try {
    dfaOpen("t.dat", kLength, 0);
    ADD_FAILURE() << "opened a file another host holds";
  } catch (const Fatal& fatal) {
    EXPECT_EQ(fatal.status, 1);
    EXPECT_STREQ(fatal.what(), "t.dat: in use by another host (database is locked)");
  }
  EXPECT_EQ(snapshot(), before);
  ASSERT_EQ(write(done[1], &byte, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  // The same file under a second name, within one host.
  open("t.dat");
  EXPECT_THROW(dfaOpen("./t.dat", kLength, 0), Fatal);
  EXPECT_FALSE(find("held").empty());
}

}  // namespace

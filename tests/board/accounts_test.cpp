// The board's accounts and what guards them: hashes and passwords.dat, the
// control socket, and the account and ctl commands on DIR's own files and
// on a running board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include "board/core/net.h"

#include "board/tools/accounts.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;
using board::Reply;

namespace {

// A new directory for each case, made the current one (the control socket
// is bound by a relative path, as the board does it).
class InDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/board_accounts_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    simhost::close();
    simhost::releaseDirectory();
    if (chdir("/") == 0) fs::remove_all(dir);
  }
  std::string dir;
};

// A control server on a private loop in a thread, as a running board has.
struct Board {
  Board(net::io_context& io, board::ControlHandler handler)
      : io(io), server(io, std::move(handler)), thread([&io] { io.run(); }) {}
  ~Board() {
    io.stop();
    thread.join();
  }
  net::io_context& io;
  board::ControlServer server;
  std::thread thread;
};

// Runs a command with INPUT as its standard input; answers the status and
// what it printed on standard output and standard error.
struct Ran {
  int status;
  std::string out, err;
};
Ran run(int (*command)(const std::vector<std::string>&), const std::vector<std::string>& args,
        const std::string& input = "") {
  int pipeFds[2];
  EXPECT_EQ(pipe(pipeFds), 0);
  EXPECT_EQ(write(pipeFds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(pipeFds[1]);
  const int savedIn = dup(STDIN_FILENO);
  dup2(pipeFds[0], STDIN_FILENO);
  close(pipeFds[0]);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Ran ran;
  ran.status = command(args);
  ran.out = testing::internal::GetCapturedStdout();
  ran.err = testing::internal::GetCapturedStderr();
  dup2(savedIn, STDIN_FILENO);
  close(savedIn);
  return ran;
}

}  // namespace

TEST(Passwords, HashesDifferAndOnlyTheRightPasswordVerifies) {
  const std::string first = board::hashPassword("open sesame");
  const std::string second = board::hashPassword("open sesame");
  EXPECT_NE(first, second);  // salted: equal passwords never show
  EXPECT_EQ(first.rfind("$argon2id$", 0), 0u) << first;
  EXPECT_TRUE(board::verifyPassword(first, "open sesame"));
  EXPECT_TRUE(board::verifyPassword(second, "open sesame"));
  for (const char* wrong : {"open sesame ", "Open sesame", "", "open"}) {
    EXPECT_FALSE(board::verifyPassword(first, wrong)) << wrong;
  }
  EXPECT_FALSE(board::verifyPassword(board::dummyHash(), ""));
  EXPECT_FALSE(board::verifyPassword("not a hash", "open sesame"));
}

TEST_F(InDir, PasswordFileIsDurableCaseFoldedAndHeldByOne) {
  const std::string path = dir + "/passwords.dat";
  {
    board::PasswordFile file(path);
    EXPECT_EQ(file.store("Alice", "hash-1"), "");
    EXPECT_EQ(file.store("aLiCe", "hash-2"), "");  // the same user-id: replaced
    EXPECT_EQ(file.store("Bob", "hash-3"), "");
    EXPECT_THROW(board::PasswordFile second(path), simhost::Fatal);
  }
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // the hashes are the board user's alone
  board::PasswordFile again(path);
  EXPECT_EQ(again.hashOf("ALICE"), "hash-2");
  EXPECT_EQ(again.remove("BOB"), "");
  EXPECT_EQ(again.hashOf("bob"), std::nullopt);
}

TEST_F(InDir, PasswordFileRefusesFilesNotItsOwnAndLeavesThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"a text file", "not an SQLite database"},
      {"SQLite format 3", "not an SQLite database"},  // a header cut short
  };
  for (const auto& [bytes, why] : cases) {
    std::ofstream(dir + "/passwords.dat") << bytes;
    try {
      board::PasswordFile file(dir + "/passwords.dat");
      ADD_FAILURE() << bytes << " was taken";
    } catch (const simhost::Fatal& fatal) {
      EXPECT_NE(std::string(fatal.what()).find(why), std::string::npos) << fatal.what();
    }
    std::ifstream kept(dir + "/passwords.dat");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), bytes);
  }
  // The host's own data file is an SQLite database too, but not this one.
  simhost::Setup setup;
  setup.dir = dir;
  simhost::reset(setup);
  simhost::close();
  EXPECT_THROW(board::PasswordFile("accounts.dat"), simhost::Fatal);
}

TEST_F(InDir, ControlSocketCarriesWordsBothWays) {
  // A killed board's socket is in the way: bound, never removed.
  const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  std::strcpy(address.sun_path, board::kControlSocket);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale);
  EXPECT_EQ(board::askBoard(dir, {"who"}), std::nullopt);  // nobody listens there

  net::io_context io;
  std::vector<std::vector<std::string>> heard;
  Board running(io, [&](const std::vector<std::string>& words) {
    heard.push_back(words);
    return Reply{words[0] == "fail" ? 3 : 0, "answer\n"};
  });
  struct stat info {};
  ASSERT_EQ(stat(board::kControlSocket, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::vector<std::string> awkward = {"say", "a \"quoted\" \\ line\n\t\x01\xff", ""};
  std::optional<Reply> reply = board::askBoard(dir, awkward);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 0);
  EXPECT_EQ(reply->text, "answer\n");
  EXPECT_EQ(board::askBoard(dir, {"fail"})->status, 3);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], awkward);

  // Reached through a path longer than a socket address holds.
  const std::string deep = dir + "/" + std::string(120, 'd');
  fs::create_directory(deep);
  ASSERT_EQ(rename(board::kControlSocket, (deep + "/" + board::kControlSocket).c_str()), 0);
  reply = board::askBoard(deep, {"who"});
  ASSERT_TRUE(reply);
  EXPECT_EQ(heard.back(), std::vector<std::string>{"who"});
  ASSERT_EQ(rename((deep + "/" + board::kControlSocket).c_str(), board::kControlSocket), 0);

  // A request with no end within the bound is refused, not read forever.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string flood(70 * 1024, '"');
  EXPECT_GT(send(fd, flood.data(), flood.size(), MSG_NOSIGNAL), 0);
  char answer[64] = {};
  EXPECT_GT(recv(fd, answer, sizeof answer - 1, MSG_WAITALL), 0);
  close(fd);
  EXPECT_EQ(std::string(answer).substr(0, 2), "2\n") << answer;
  EXPECT_EQ(heard.size(), 3u);
}

TEST_F(InDir, SomethingElseInTheSocketsPlaceIsKept) {
  std::ofstream(board::kControlSocket) << "notes";
  net::io_context io;
  EXPECT_THROW(board::ControlServer(io, [](const auto&) { return Reply{}; }), simhost::Fatal);
  EXPECT_EQ(fs::file_size(board::kControlSocket), 5u);
}

TEST_F(InDir, AccountCommandsOnTheDirectory) {
  const std::string d = dir + "/board";
  struct Step {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string shows;  // in what it printed
  };
  // Only the board and the simulator make DIR: a mistyped one is refused.
  const std::string plain = dir + "/plain";
  std::ofstream(plain) << "x";
  const Step refused[] = {
      {{"list", "--dir", d}, "", 1, "no such directory"},
      {{"add", "Alice", "--dir", d}, "secret\n", 1, "no such directory"},
      {{"add", "Alice", "--dir", plain}, "secret\n", 1, "not a directory"},
  };
  for (const Step& step : refused) {
    const Ran ran = run(board::accountCommand, step.args, step.input);
    EXPECT_EQ(ran.status, step.status) << ::testing::PrintToString(step.args);
    EXPECT_NE(ran.err.find(step.shows), std::string::npos) << ran.err;
  }
  EXPECT_FALSE(std::filesystem::exists(d));
  EXPECT_NE(run(board::ctlCommand, {"who", "--dir", d}).err.find("no such directory"),
            std::string::npos);
  std::filesystem::create_directory(d);
  const Step steps[] = {
      {{"add", "Alice", "--keys", "BUMP,SYSOP", "--dir", d}, "secret\n", 0, "added"},
      {{"add", "ALICE", "--dir", d}, "other\n", 1, "there is an account \"Alice\" already"},
      {{"add", "Bob", "--nocount", "--dir", d}, "pw\r\n", 0, "added"},
      {{"add", "Carol", "--dir", d}, "", 2, "no password"},
      {{"keys", "alice", "X", "--dir", d}, "", 0, "now holds keys \"X\""},
      {{"password", "Carol", "--dir", d}, "pw\n", 1, "there is no account \"Carol\""},
      {{"password", "bob", "--dir", d}, "new one\n", 0, "new password"},
      {{"list", "--dir", d}, "", 0, "account \"Alice\" keys \"X\"\naccount \"Bob\" nocount\n"},
      {{"remove", "ALICE", "--dir", d}, "", 0, "removed"},
      {{"remove", "Alice", "--dir", d}, "", 1, "there is no account"},
      {{"list", "--dir", d}, "", 0, "account \"Bob\" nocount\n"},
      // Two-word ids, kept trimmed and folded as a caller will type them.
      {{"add", "  Gus   Guest ", "--dir", d}, "pw\n", 0, "account \"Gus Guest\" added"},
      {{"add", "gus guest", "--dir", d}, "pw\n", 1, "there is an account \"Gus Guest\""},
      {{"keys", "GUS GUEST", "W", "--dir", d}, "", 0, "now holds keys \"W\""},
      {{"list", "--dir", d}, "", 0, "account \"Gus Guest\" keys \"W\"\n"},
      {{"add", "Tab\tHere", "--dir", d}, "pw\n", 2, "only printable ASCII"},
      {{"add", "   ", "--dir", d}, "pw\n", 2, "cannot be empty"},
      // Bad command lines: nothing is asked, nothing changes.
      {{}, "", 2, "name a command"},
      {{"frob"}, "", 2, "unknown command \"frob\""},
      {{"add", "--dir", d}, "", 2, "takes a user-id, not 0"},
      {{"add", "A", "--frob"}, "", 2, "unknown option \"--frob\""},
      {{"add", "A", "--keys"}, "", 2, "--keys needs a value"},
      {{"add", "A", "--dir", "x", "--dir", "y"}, "", 2, "--dir given twice"},
      {{"add", "(Login)", "--dir", d}, "pw\n", 2, "cannot begin with ( or )"},
      {{"add", "Dave", "--keys", "A,,B", "--dir", d}, "pw\n", 2, "an empty key name"},
      {{"add", "Dave", "--dir", d}, std::string(256, 'p') + "\n", 2, "longer than 255"},
      {{"keys", "Bob", "--dir", d}, "", 2, "takes a user-id and KEY,KEY..., not 1"},
      {{"remove", "Bob", "--nocount", "--dir", d}, "", 2, "takes no --nocount"},
  };
  for (const Step& step : steps) {
    const Ran ran = run(board::accountCommand, step.args, step.input);
    const std::string where = ::testing::PrintToString(step.args);
    EXPECT_EQ(ran.status, step.status) << where << "\n" << ran.err;
    EXPECT_NE((ran.out + ran.err).find(step.shows), std::string::npos) << where << "\n"
                                                                       << ran.out << ran.err;
  }
  // The hash stored is the password typed, whatever the user-id's case.
  board::PasswordFile passwords(d + "/passwords.dat");
  EXPECT_TRUE(board::verifyPassword(passwords.hashOf("BOB").value_or(""), "new one"));
  EXPECT_EQ(passwords.hashOf("alice"), std::nullopt);
}

TEST_F(InDir, WhileABoardRunsItCarriesTheCommandsOut) {
  EXPECT_EQ(run(board::ctlCommand, {"who", "--dir", dir}).status, 1);
  simhost::Setup setup;
  setup.dir = dir;
  simhost::reset(setup);
  simhost::setAccount("Old Timer", {}, false);  // as a scenario's account line makes it
  board::PasswordFile passwords("passwords.dat");
  net::io_context io;
  std::vector<std::string> asked;
  Board running(io, [&](const std::vector<std::string>& words) {
    asked.push_back(words[0]);
    if (words[0] == "account") return board::accountRequest(words, passwords);
    return Reply{words[0] == "who" ? 0 : 2, words[0] + " heard\n"};
  });
  Ran ran = run(board::accountCommand, {"add", "Eve", "--dir", dir}, "pw\n");
  EXPECT_EQ(ran.status, 0) << ran.err;
  ran = run(board::accountCommand, {"list", "--dir", dir});
  EXPECT_EQ(ran.out,
            "account \"Eve\"\naccount \"Old Timer\"  # no password: cannot log on"
            " to the board\n");
  EXPECT_EQ(run(board::accountCommand, {"remove", "old timer", "--dir", dir}).status, 0);
  ran = run(board::ctlCommand, {"say", "hello", "all", "--dir", dir});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "zorgaval-board: say heard\n");
  EXPECT_EQ(run(board::ctlCommand, {"say", "--dir", dir}).status, 2);  // no text: not sent
  EXPECT_EQ(run(board::ctlCommand, {"frob", "--dir", dir}).status, 2);
  EXPECT_EQ(asked, (std::vector<std::string>{"account", "account", "account", "say"}));
  EXPECT_TRUE(board::verifyPassword(passwords.hashOf("eve").value_or(""), "pw"));
}

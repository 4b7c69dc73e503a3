// The sysop's console as its routes answer, with no listener: sign-in on
// the hashing workers and its throttle, the session and CSRF rules, the
// request bodies, the verbs it may not ask, the live stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "board/core/board.h"
#include "board/core/module_options.h"
#include "board/sysop/console.h"
#include "board/sysop/host_watch.h"
#include "board/sysop/verbs.h"
#include "simhost/simhost.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

board::HttpResponse noAnswer() {
  board::HttpResponse r;
  r.status = 0;
  return r;
}

// A board in a fresh directory with two accounts, its console mounted on a
// clock the test moves.
class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/board_console_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    simhost::Setup setup;
    setup.dir = dir;
    setup.channels = 4;
    setup.trace = [this](const std::string& line) { traced.push_back(line); };
    simhost::reset(setup);
    simhost::setAccount("Sysop", {"SYSOP"}, false);
    simhost::setAccount("plain", {"DEMO"}, false);
    passwords = std::make_unique<board::PasswordFile>("passwords.dat");
    passwords->store("Sysop", board::hashPassword("s-pass"));
    passwords->store("plain", board::hashPassword("p-pass"));
    config.throttle.failures = 3;
    boardp = std::make_unique<board::Board>(io, config, *passwords);
    options = board::readModuleOptions("", dir);
    route = board::consoleRoute({*boardp, options, watch}, {"SYSOP", [this] { return now; }});
  }
  void TearDown() override {
    route = nullptr;
    boardp.reset();
    passwords.reset();
    simhost::close();
    simhost::releaseDirectory();
    if (chdir("/") == 0) fs::remove_all(dir);
  }

  // The route's answer; one given later is waited for on the loop.
  board::HttpResponse ask(const std::string& method, const std::string& name,
                          const std::string& body = "", const std::string& cookie = "",
                          const std::string& csrf = "", const std::string& ip = "192.0.2.7") {
    board::HttpRequest request;
    request.method = method;
    request.target = "/console/api/" + name;
    request.body = body;
    request.ip = ip;
    if (!cookie.empty()) request.headers["cookie"] = "other=1; zgconsole=" + cookie;
    if (!csrf.empty()) request.headers["x-csrf-token"] = csrf;
    if (method == "POST") request.headers["content-type"] = "application/json";
    for (const auto& [name, value] : headers) request.headers[name] = value;
    std::optional<board::HttpResponse> r = route(request);
    if (!r) return noAnswer();
    if (!r->later) return *r;
    std::optional<board::HttpResponse> got;
    int asked = 0;  // the route asked whether the client waits
    r->later([&](board::HttpResponse a) { got = std::move(a); }, [&] { return ++asked, waits; });
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!got && (waits || !asked) && std::chrono::steady_clock::now() < until)
      io.run_one_for(50ms);
    return got.value_or(noAnswer());
  }

  struct Session {
    int status;
    std::string cookie, csrf;
  };
  Session signIn(const std::string& user, const std::string& password,
                 const std::string& ip = "203.0.113.5") {
    const board::HttpResponse r =
        ask("POST", "signin", R"({"user":")" + user + R"(","password":")" + password + "\"}", "",
            "", ip);
    Session s{r.status, "", ""};
    for (const auto& [name, value] : r.headers) {
      if (name != "Set-Cookie") continue;
      EXPECT_NE(value.find("; HttpOnly; SameSite=Strict; Path=/console"), std::string::npos)
          << value;
      s.cookie = value.substr(10, value.find(';') - 10);
    }
    const std::size_t at = r.body.find("\"csrf\":\"");
    if (at != std::string::npos) s.csrf = r.body.substr(at + 8, 64);
    return s;
  }

  std::vector<std::string> traced;
  board::HostWatch watch;
  std::map<std::string, std::string> headers;  // beside those ask() sets
  bool waits = true;                           // the client waits for a later answer
  std::string dir;
  net::io_context io;
  board::Config config;
  std::unique_ptr<board::PasswordFile> passwords;
  std::unique_ptr<board::Board> boardp;
  board::ModuleOptions options;
  board::HttpRoute route;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
};

TEST_F(Console, WithoutASessionEveryRequestIs401) {
  for (const auto& [method, name] :
       std::vector<std::pair<std::string, std::string>>{{"GET", "who"},
                                                        {"GET", "delays"},
                                                        {"GET", "blocked"},
                                                        {"GET", "report"},
                                                        {"GET", "events"},
                                                        {"POST", "pardon"},
                                                        {"POST", "kick"},
                                                        {"POST", "signout"}}) {
    EXPECT_EQ(ask(method, name).status, 401) << name;
    EXPECT_EQ(ask(method, name, "", "0123abcd").status, 401) << name << " with a made-up token";
  }
  board::HttpRequest elsewhere;
  elsewhere.method = "GET";
  elsewhere.target = "/elsewhere";
  EXPECT_EQ(route(elsewhere), std::nullopt);
}

TEST_F(Console, SignInRefusalsAndTheThrottle) {
  struct Case {
    const char* what;
    std::string user, password;
    int status;
    const char* says;
  } const cases[] = {
      {"a wrong password", "Sysop", "nope", 401, "Wrong user-id or password."},
      {"an unknown id, the same words", "nobody", "nope", 401, "Wrong user-id or password."},
      {"no console key", "plain", "p-pass", 403, "does not hold the console key"},
      {"the third failure blocks", "sysop", "again", 401, "Wrong user-id or password."},
      {"then even the right password", "Sysop", "s-pass", 429, "Too many failed log-ons"},
  };
  // A foreign page's sign-ins are refused unchecked: they block nobody.
  const std::map<std::string, std::string> foreign[] = {
      {{"content-type", "text/plain"}},
      {{"origin", "http://evil.example"}, {"host", "board.example"}},
  };
  for (const auto& h : foreign) {
    headers = h;
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(ask("POST", "signin", R"({"user":"Sysop","password":"no"})").status,
                h.contains("origin") ? 403 : 415);
  }
  headers.clear();
  for (const Case& c : cases) {
    const board::HttpResponse r =
        ask("POST", "signin", R"({"user":")" + c.user + R"(","password":")" + c.password + "\"}");
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.body;
    EXPECT_NE(r.body.find(c.says), std::string::npos) << c.what << ": " << r.body;
  }
  // A blocked address's refusals are not a line each.
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(ask("POST", "signin", R"({"user":"Sysop","password":"s-pass"})").status, 429);
  EXPECT_EQ(std::count_if(traced.begin(), traced.end(),
                          [](const std::string& l) {
                            return l.find(R"(blocked "console 192.0.2.7")") != std::string::npos;
                          }),
            1);
  // Another address is not held back, and sees the first one blocked.
  const Session s = signIn("SYSOP", "s-pass");
  ASSERT_EQ(s.status, 200);
  EXPECT_NE(ask("GET", "blocked", "", s.cookie).body.find("\"address\":\"192.0.2.7\""),
            std::string::npos);
}

TEST_F(Console, BadBodiesAre400WithTheReason) {
  struct Case {
    const char* body;
    const char* says;
  } const cases[] = {
      {"", "not a JSON object"},
      {R"({"user":"Sysop"})", "\\\"password\\\" is missing"},
      {R"({"user":"Sysop","password":"s-pass","x":"y"})", "no member \\\"x\\\""},
      {R"({"user":"Sysop","user":"a","password":"s"})", "given twice"},
      {R"({"user":1,"password":"s"})", "must be a string"},
      {R"({"user":"a\u0000","password":"s"})", "\\\\u escape"},
      {R"({"user":"a","password":"s"} x)", "something follows"},
  };
  for (const Case& c : cases) {
    const board::HttpResponse r = ask("POST", "signin", c.body);
    EXPECT_EQ(r.status, 400) << c.body;
    EXPECT_NE(r.body.find(c.says), std::string::npos) << c.body << " -> " << r.body;
  }
}

TEST_F(Console, AChangeWithoutTheCsrfTokenIs403AndChangesNothing) {
  for (int i = 0; i < 3; ++i)
    ask("POST", "signin", R"({"user":"Sysop","password":"x"})", "", "", "198.51.100.9");
  const Session s = signIn("Sysop", "s-pass");
  ASSERT_EQ(s.status, 200);
  const std::string body = R"({"address":"198.51.100.9"})";
  for (const std::string& token : {std::string(), std::string(64, '0'), s.csrf.substr(0, 63)}) {
    EXPECT_EQ(ask("POST", "unblock", body, s.cookie, token).status, 403) << token;
    EXPECT_NE(ask("GET", "blocked", "", s.cookie).body.find("198.51.100.9"), std::string::npos);
  }
  EXPECT_EQ(ask("POST", "signout", "", s.cookie).status, 403);
  EXPECT_EQ(ask("POST", "unblock", body, s.cookie, s.csrf).status, 200);
  EXPECT_EQ(ask("GET", "blocked", "", s.cookie).body, "[]");
  EXPECT_EQ(ask("POST", "unblock", body, s.cookie, s.csrf).status, 409);  // no longer blocked
  EXPECT_EQ(ask("POST", "kick", R"({"channel":"9"})", s.cookie, s.csrf).status, 409);
  // A kick naming the user the sysop saw there, who has gone.
  const board::HttpResponse kick =
      ask("POST", "kick", R"({"channel":"1","user":"bob"})", s.cookie, s.csrf);
  EXPECT_EQ(kick.status, 409);
  EXPECT_NE(kick.body.find("no one now, not \\\"bob\\\""), std::string::npos) << kick.body;
  // Names the console may not ask as a change are refused by name, never
  // carried out as another verb, even where its routes would let one by.
  board::SysopDesk desk{*boardp, options, watch};
  for (const char* name : {"frob", "shutdown", "who"}) {
    EXPECT_EQ(ask("POST", name, R"({"channel":"0"})", s.cookie, s.csrf).status,
              std::string(name) == "who" ? 405 : 404)
        << name;
    const board::SysopDone done =
        board::sysopChange(desk, name, board::Reach::Console, {"0", std::nullopt, "\"Sysop\""});
    EXPECT_EQ(done.error, "there is no change \"" + std::string(name) + "\"") << name;
  }
  EXPECT_EQ(ask("POST", "signout", "", s.cookie, s.csrf).status, 200);
  EXPECT_EQ(ask("GET", "who", "", s.cookie).status, 401);
}

TEST_F(Console, ASessionEndsUnusedAfter30MinutesOrWhenTheKeyGoes) {
  const Session s = signIn("Sysop", "s-pass");
  ASSERT_EQ(s.status, 200);
  now += 29min;
  EXPECT_EQ(ask("GET", "report", "", s.cookie).status, 200);  // the page's own: no use
  EXPECT_EQ(ask("POST", "say", R"({"text":"hi"})", s.cookie, s.csrf).status, 200);  // used
  now += 29min;
  EXPECT_EQ(ask("GET", "who", "", s.cookie).status, 200);
  now += 1min;
  EXPECT_EQ(ask("GET", "who", "", s.cookie).status, 401);
  const Session t = signIn("Sysop", "s-pass");
  ASSERT_EQ(t.status, 200);
  simhost::storeAccount("Sysop", {"DEMO"}, false);
  EXPECT_EQ(ask("GET", "who", "", t.cookie).status, 401);
  simhost::storeAccount("Sysop", {"SYSOP"}, false);
  EXPECT_EQ(ask("GET", "who", "", t.cookie).status, 401);  // the session is gone for good
}

TEST_F(Console, TheSeventeenthSessionIsRefusedUntilOneEnds) {
  std::vector<Session> open;
  for (int i = 0; i < 16; ++i) {
    open.push_back(signIn("Sysop", "s-pass"));
    ASSERT_EQ(open.back().status, 200) << i;
  }
  EXPECT_EQ(signIn("Sysop", "s-pass").status, 503);
  for (const Session& s : open) EXPECT_EQ(ask("GET", "who", "", s.cookie).status, 200);
  EXPECT_EQ(ask("POST", "signout", "", open[3].cookie, open[3].csrf).status, 200);
  EXPECT_EQ(signIn("Sysop", "s-pass").status, 200);
  now += 31min;  // all lapse: room again; sign-ins whose client has gone take none
  waits = false;
  for (int i = 0; i < 16; ++i) signIn("Sysop", "s-pass");
  waits = true;
  EXPECT_EQ(signIn("Sysop", "s-pass").status, 200);
}

TEST_F(Console, EventsStreamTheStateAndEndWithTheSession) {
  const Session s = signIn("Sysop", "s-pass");
  const board::HttpResponse r = ask("GET", "events", "", s.cookie);
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.contentType, "text/event-stream");
  ASSERT_TRUE(r.stream);
  std::vector<std::string> got;
  r.stream([&](const std::string& chunk) { return got.push_back(chunk), true; });
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("event: state\ndata: {\"who\":[{\"channel\":0,", 0), 0u) << got[0];
  now += 31min;
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (got.size() < 2 && std::chrono::steady_clock::now() < until) io.run_one_for(50ms);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1], "event: end\ndata: {}\n\n");
  EXPECT_EQ(got[2], "");  // the stream's connection closes
}

}  // namespace

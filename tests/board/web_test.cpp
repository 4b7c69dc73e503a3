// The web listener's rules row by row: whose upgrade opens a call, the
// connection caps, the proxy's rule, the files served, the page's size
// message, the web flags and the metrics' tally.
#include <gtest/gtest.h>

#include "board/core/config.h"
#include "board/sysop/metrics.h"
#include "board/web/web_listener.h"
#include "board/web/web_rules.h"
#include "board/web/web_stream.h"
#include "hostprog/event_read.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(WebOrigin, OnlyTheBoardsOwnPageOrNoBrowser) {
  struct Row {
    const char* origin;
    const char* host;
    bool tls;
    bool allowed;
  };
  const Row rows[] = {
      {"", "board.example:8080", false, true},  // no Origin: not a browser
      {"http://board.example:8080", "board.example:8080", false, true},
      {"HTTP://Board.Example:8080", "board.example:8080", false, true},
      {"https://board.example", "board.example", true, true},
      {"http://board.example", "board.example", true, false},  // the page came over TLS
      {"https://board.example", "board.example", false, false},
      {"http://evil.example", "board.example", false, false},
      {"http://board.example.evil.example", "board.example", false, false},
      {"http://board.example:8081", "board.example:8080", false, false},
      {"null", "board.example", false, false},
      {"http://board.example", "", false, false},  // no Host to compare
  };
  for (const Row& r : rows)
    EXPECT_EQ(board::originAllowed(r.origin, r.host, r.tls), r.allowed)
        << r.origin << " " << r.host;
}

TEST(WebHost, OnlyTheBoardsOwnNames) {
  const std::vector<std::string> names = {"board.example"};
  const std::pair<const char*, bool> rows[] = {
      {"board.example:8443", true},  {"BOARD.example", true}, {"localhost:8080", true},
      {"127.0.0.1:8080", true},      {"[::1]:8080", true},    {"192.0.2.10:80", true},
      {"rebind.example", false},     {"192.0.2.11", false},   {"", false},
      {"board.example.evil", false}, {"2001:db8::1", false},  {"[::1", false},
  };
  for (const auto& [host, allowed] : rows)
    EXPECT_EQ(board::hostAllowed(host, names, "192.0.2.10"), allowed) << host;
  // A dual-stack listener reached over IPv4: its own address, unmapped.
  EXPECT_TRUE(board::hostAllowed("192.0.2.10", {}, "::ffff:192.0.2.10"));
}

TEST(WebCaps, EightAnAddressAndAFreshRangeNeverStarved) {
  board::ConnectionCaps caps;
  std::vector<int> first;
  for (int i = 0; i < board::kHttpPerAddress; ++i) first.push_back(caps.take("10.0.0.1").id);
  EXPECT_LT(caps.take("10.0.0.1").id, 0);  // the ninth from one address
  caps.give(first.back());
  EXPECT_GE(caps.take("10.0.0.1").id, 0);  // a slot given back is taken again
  caps.idle(first[0], false);              // one is being answered: it never gives way
  // Seven more addresses of one /64 fill the listener with idle heads.
  for (int a = 1; a < 8; ++a)
    for (int i = 0; i < board::kHttpPerAddress; ++i)
      ASSERT_GE(caps.take("2001:db8::" + std::to_string(a)).id, 0);
  EXPECT_EQ(caps.total(), board::kHttpConnections);
  EXPECT_LT(caps.take("2001:db8::99").id, 0);  // the busiest range gains nothing
  const auto fresh = caps.take("198.51.100.7");
  ASSERT_GE(fresh.id, 0);  // a fresh range gets in: the /64's oldest idle one goes
  EXPECT_GT(fresh.evict, first.back());
  EXPECT_EQ(caps.total(), board::kHttpConnections);
  EXPECT_LT(caps.take("2001:db8::1").id, 0);
  const auto proxied = caps.take("");
  EXPECT_GE(proxied.id, 0);  // the proxy too, held by the total only
  board::ConnectionCaps all;
  for (int i = 0; i < 20; ++i) EXPECT_GE(all.take("").id, 0);
}

TEST(WebProxy, OnlyTheTrustedProxyNamesTheCaller) {
  struct Row {
    const char* peer;
    const char* proxy;
    const char* forwarded;
    const char* caller;
  };
  const Row rows[] = {
      {"10.0.0.9", "", "203.0.113.5", "10.0.0.9"},          // no proxy trusted
      {"10.0.0.9", "10.0.0.1", "203.0.113.5", "10.0.0.9"},  // not from the proxy
      {"10.0.0.1", "10.0.0.1", "203.0.113.5", "203.0.113.5"},
      {"10.0.0.1", "10.0.0.1", "198.51.100.7, 203.0.113.5",
       "203.0.113.5"},  // the proxy's own entry
      {"10.0.0.1", "10.0.0.1", " 2001:db8::1 ", "2001:db8::1"},
      {"10.0.0.1", "10.0.0.1", "::ffff:203.0.113.5", "203.0.113.5"},
      {"127.0.0.1", "::ffff:127.0.0.1", "203.0.113.5", "203.0.113.5"},  // one address
      // Without a bare client address: refused, never the proxy's own.
      {"10.0.0.1", "10.0.0.1", "not-an-address", nullptr},
      {"10.0.0.1", "10.0.0.1", "", nullptr},
      {"10.0.0.1", "10.0.0.1", "203.0.113.5,", nullptr},
      {"10.0.0.1", "10.0.0.1", "203.0.113.7:51234", nullptr},
      {"10.0.0.1", "10.0.0.1", "[2001:db8::7]:51234", nullptr},
      {"10.0.0.1", "10.0.0.1", "unknown", nullptr},
  };
  for (const Row& r : rows)
    EXPECT_EQ(board::callerAddress(r.peer, r.proxy, r.forwarded),
              r.caller ? std::optional<std::string>(r.caller) : std::nullopt)
        << r.forwarded;
}

TEST(WebFiles, OnlyPlainNamesUnderTheRoot) {
  const std::pair<const char*, const char*> rows[] = {
      {"/", "index.html"},
      {"/terminal.js?v=2", "terminal.js"},
      {"/xterm/xterm.mjs", "xterm/xterm.mjs"},
      {"/../etc/passwd", nullptr},
      {"/xterm/../../x", nullptr},
      {"/.hidden", nullptr},
      {"//etc/passwd", nullptr},
      {"/a%2e%2e/b", nullptr},
      {"/dir/", nullptr},
      {"relative", nullptr},
      {"", nullptr},
  };
  for (const auto& [target, path] : rows) {
    const auto found = board::staticPath(target);
    EXPECT_EQ(found.has_value(), path != nullptr) << target;
    if (found && path) {
      EXPECT_EQ(*found, path);
    }
  }
  // A link that leaves the root is not followed; one inside it is.
  const fs::path root = fs::temp_directory_path() / ("web_root_" + std::to_string(getpid()));
  fs::create_directories(root);
  std::ofstream(root / "page.html") << "here";
  fs::create_symlink("/etc/passwd", root / "out.html");
  fs::create_symlink(root / "page.html", root / "in.html");
  const board::HttpRoute files = board::staticFiles(root.string());
  for (const auto& [target, served] : {std::pair{"/out.html", false}, {"/in.html", true}}) {
    board::HttpRequest get;
    get.method = "GET";
    get.target = target;
    EXPECT_EQ(files(get).has_value(), served) << target;
  }
  fs::remove_all(root);
  EXPECT_EQ(board::contentTypeOf("xterm/xterm.mjs"), "text/javascript; charset=utf-8");
  EXPECT_EQ(board::contentTypeOf("a.bin"), "application/octet-stream");
}

TEST(WebWindow, TheSizeMessageAndNothingElse) {
  struct Row {
    const char* text;
    int columns, rows;  // 0: not a size message
  };
  const Row rows[] = {
      {R"({"cols":80,"rows":24})", 80, 24},
      {R"({"rows": 50, "cols": 132})", 132, 50},
      {R"({"cols":0,"rows":24})", 0, 0},
      {R"({"cols":1001,"rows":24})", 0, 0},
      {R"({"cols":99999999999999,"rows":1})", 0, 0},
      {R"({"cols":80})", 0, 0},
      {"cols 80 rows 24", 0, 0},
      {"", 0, 0},
  };
  for (const Row& r : rows) {
    const auto window = board::windowMessage(r.text);
    EXPECT_EQ(window ? window->columns : 0, r.columns) << r.text;
    EXPECT_EQ(window ? window->rows : 0, r.rows) << r.text;
  }
  board::PlainLine lines;
  board::takeMessage(lines, true, R"({"cols":100,"rows":40})");
  board::takeMessage(lines, false,
                     R"({"cols":1,"rows":1})"
                     "\r");  // typed, not a size
  EXPECT_EQ(lines.window().columns, 100);
  board::Line line;
  ASSERT_TRUE(lines.nextLine(&line));
  EXPECT_EQ(line.text, R"({"cols":1,"rows":1})");
}

TEST(WebCommandLine, TheListenersFlags) {
  const std::vector<std::vector<std::string>> bad = {
      {"--web", "1.2.3.4"},         {"--web-tls", "cert.pem"},
      {"--web-tls", "c", "k"},  // no --web to serve it on
      {"--metrics", "x:99999"},     {"--web-trust-proxy", "proxy.example"},
      {"--metrics-from", "10.0.0"},
  };
  for (const auto& args : bad) {
    const std::string error = board::parseConfig(args).error;
    EXPECT_NE(error.find(args[0]), std::string::npos)
        << testing::PrintToString(args) << ": " << error;
  }
  const auto good = board::parseConfig({"--web", "[::1]:0", "--web-tls", "c.pem", "k.pem",
                                        "--metrics", "127.0.0.1:9100", "--metrics-from", "10.0.0.5",
                                        "--web-trust-proxy", "127.0.0.1"});
  ASSERT_EQ(good.error, "");
  EXPECT_EQ(good.config.web.host, "::1");
  EXPECT_EQ(good.config.webCert, "c.pem");
  EXPECT_EQ(good.config.webKey, "k.pem");
  EXPECT_EQ(good.config.metrics.port, 9100u);
  EXPECT_EQ(good.config.metricsFrom, std::vector<std::string>{"10.0.0.5"});
  EXPECT_EQ(good.config.trustProxy, "127.0.0.1");
}

TEST(MetricsTally, CountsWhatTheTraceSays) {
  board::MetricsTally t;
  for (const char* line : {
           R"(2024-03-05 20:00:00 call 0 "127.0.0.1:5000")",
           R"(2024-03-05 20:00:00 call 1 "ws 127.0.0.1:5001")",
           R"(2024-03-05 20:00:00 call 2 "wss [::1]:5002")",
           R"(2024-03-05 20:00:01 logon 0 "kim" accepted)",
           R"(2024-03-05 20:00:01 logon 1 "accepted" rejected)",
           R"(2024-03-05 20:00:01 logon 2 "Kim \"accepted\" Demo" rejected "127.0.0.1:5002")",
           R"(2024-03-05 20:00:01 logon 3 "lee" accepted "ws 127.0.0.1:5004")",
           R"(2024-03-05 20:00:01 unknown 2 "pat")",
           R"(2024-03-05 20:00:01 wrong 1 "accepted" "127.0.0.1")",
           R"(2024-03-05 20:00:01 wrong ssh "kim" "127.0.0.1")",
           R"(2024-03-05 20:00:01 wrong console "lee" "::1")",
           R"(2024-03-05 20:00:01 unknown ssh "pat" "127.0.0.1")",
           R"(2024-03-05 20:00:02 audit "Gaval warned a user" "kim")",
           R"(2024-03-05 20:00:03 audit "Gaval bumped a user" "kim")",
           R"(2024-03-05 20:00:04 audit "Gaval delayed Log-on" "kim")",
           R"(2024-03-05 20:00:04 say "audit \"Gaval bumped a user\" ")",  // a text, not an entry
           R"(2024-03-05 20:00:05 busy "ws 127.0.0.1:5003")",
           R"(2024-03-05 20:00:05 overflow 1 "ws 127.0.0.1:5001")",
       }) {
    const hostprog::ReadEvent r = hostprog::readEvent(line);
    ASSERT_TRUE(r.event) << line << ": " << r.error;
    t.see(*r.event);
  }
  EXPECT_EQ(t.callsBy["telnet"], 1);
  EXPECT_EQ(t.callsBy["ws"], 1);
  EXPECT_EQ(t.callsBy["wss"], 1);
  EXPECT_EQ(t.accepted, 2);
  EXPECT_EQ(t.rejected, 3);  // wrong passwords on every transport, not the host's refusals
  EXPECT_EQ(t.unknown, 2);
  EXPECT_EQ(t.warnings, 1);
  EXPECT_EQ(t.bumps, 1);
  EXPECT_EQ(t.delayed, 1);
  EXPECT_EQ(t.busy, 1);
  EXPECT_EQ(t.overflows, 1);
}

}  // namespace

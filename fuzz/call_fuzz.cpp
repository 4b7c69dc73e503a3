// Fuzzes a whole call: the bytes are what one caller types (the first byte
// chooses telnet's layer or plain text) into a real board and host core
// over a scripted transport, with an account to guess at and sign-up open.
// Whatever comes, nothing crashes, the call ends or waits at a prompt
// within the time given, and the board shuts down with nothing left.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include <sodium.h>

#include "board/core/board.h"
#include "board/telnet/telnet.h"
#include "simhost/simhost.h"
#include "tests/board/scripted_transport.h"

namespace {

// A hash at libsodium's least cost, so a right password costs the fuzzer
// little; a wrong id still costs the dummy hash's full check.
std::string cheapHash(const char* password) {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password, std::strlen(password), crypto_pwhash_OPSLIMIT_MIN,
                        crypto_pwhash_MEMLIMIT_MIN) != 0)
    std::abort();
  return out;
}

const std::string& scratch() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/call_fuzz_XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

// Runs the loop until nothing is left to do now (no handler ready, no
// hash on the workers, nothing typed unread), or LIMIT passes.
void settle(net::io_context& io, board::Board& board, board::ScriptedTransport& t,
            const board::Script& script, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (int idle = 0; idle < 2 && std::chrono::steady_clock::now() < end;) {
    io.restart();
    std::size_t ran = io.poll();
    t.poll();
    if (board.gate().queued() > 0) ran += io.run_for(std::chrono::milliseconds(1));
    idle = ran == 0 && board.gate().queued() == 0 && script.typed.empty() ? idle + 1 : 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The host works in its directory; the fuzzer's own paths are relative.
  static const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::remove_all(scratch());
  std::filesystem::create_directories(scratch());
  simhost::Setup setup;
  setup.dir = scratch();
  setup.clock = simhost::clockFromCivil({2026, 12, 8, 19, 0, 0});
  setup.channels = 2;
  setup.trace = [](const std::string& line) {
    if (std::getenv("CALL_FUZZ_SHOW")) std::fprintf(stderr, "%s\n", line.c_str());
  };
  simhost::reset(setup);
  {
    board::PasswordFile passwords(scratch() + "/passwords.dat");
    if (!passwords.store("alice", cheapHash("a-pass")).empty()) std::abort();
    net::io_context io;
    board::Config config;
    config.newUsers = true;
    config.throttle.includeLoopback = true;
    board::Board board(io, config, passwords);
    board::Script script;
    script.typed.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::unique_ptr<board::LineLayer> lines;
    if (data[0] & 1)
      lines = std::make_unique<board::TelnetLine>();
    else
      lines = std::make_unique<board::PlainLine>();
    auto transport = std::make_unique<board::ScriptedTransport>(io, script, std::move(lines));
    board::ScriptedTransport* t = transport.get();
    board.admit(std::move(transport), "127.0.0.1:4000", "127.0.0.1");
    settle(io, board, *t, script, std::chrono::seconds(2));
    if (std::getenv("CALL_FUZZ_SHOW"))
      std::fwrite(script.shown.data(), 1, script.shown.size(), stderr);
    if (script.shown.find("User-ID: ") == std::string::npos) std::abort();  // never greeted
    board.stop();
    script.closed = true;
    t->poll();
    // What is left (the drain's timers) ends within their time.
    io.restart();
    io.run_for(std::chrono::seconds(5));
    if (!io.stopped()) std::abort();  // the shutdown stalled
  }
  simhost::close();
  std::filesystem::current_path(home);
  return 0;
}

// What the machine itself allows the log-on gate: password checks (the
// board's own Argon2id verification) on one thread, then on one thread a
// core with nothing else running, so the log-on storm's time can be read
// against the machine's ceiling as well as against one check's time
// divided among the cores.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "board/caller/passwords.h"

namespace {

// Seconds for CHECKS checks shared among THREADS threads.
double timeChecks(const std::string& hash, int checks, unsigned threads) {
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    const int mine = checks / static_cast<int>(threads) + (t < checks % threads ? 1 : 0);
    workers.emplace_back([&hash, mine] {
      for (int i = 0; i < mine; ++i) (void)board::verifyPassword(hash, "a wrong password");
    });
  }
  for (auto& w : workers) w.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int checks = argc > 1 ? std::atoi(argv[1]) : 200;
  const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
  const std::string hash = board::hashPassword("bench-pw");
  const double one = timeChecks(hash, 20, 1) / 20;
  const double all = timeChecks(hash, checks, cores);
  std::printf(
      "password checks alone: %.1f ms a check on one thread; %d checks on %u threads "
      "(one a core) in %.1f s, where one check's time divided among the cores gives "
      "%.1f s\n",
      one * 1000, checks, cores, all, one * checks / cores);
  return 0;
}

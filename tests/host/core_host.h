// A fresh substitute host for each test case: a temporary working
// directory, eight channels, a fixed clock, and the trace captured without
// its time stamps so cases can compare event lines directly.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simhost/simhost.h"

class CoreHost : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/core_host_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    simhost::Setup setup;
    setup.dir = dir_;
    setup.clock = simhost::clockFromCivil({2024, 3, 1, 12, 0, 0});
    setup.channels = 8;
    setup.trace = [this](const std::string& line) {
      lines.push_back(line);
      events.push_back(line.substr(simhost::kTraceEventOffset));
    };
    simhost::reset(setup);
  }
  void TearDown() override {
    simhost::close();
    if (chdir("/") == 0) std::filesystem::remove_all(dir_);
  }
  // The events written since the last call.
  std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }

  std::vector<std::string> lines;   // whole trace lines
  std::vector<std::string> events;  // the same, without the time stamp

 private:
  std::string dir_;
};

// A substitute host with the module started in it, for the module's tests:
// a temporary directory, an option file written from defaults plus the
// test's overrides, accounts, and the trace captured line by line.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/host.h"
#include "simhost/simhost.h"

PackedDate packDate(int year, int month, int day);
PackedTime packTime(int hour, int minute, int second);
std::string showDate(PackedDate date);  // "YYYY-MM-DD", for failure messages
std::string showTime(PackedTime time);  // "HH:MM:SS"

struct TestAccount {
  std::string userid;
  std::vector<std::string> keys;
  bool nocount = false;
};

struct Boot {
  std::map<int, std::string> options;  // entry number -> value as written
  std::vector<int> missing;            // entries left out of the file
  simhost::CivilTime at{2024, 3, 5, 19, 0, 0};
  std::vector<TestAccount> accounts;
  int channels = 32;
  unsigned firstNumber = 0;
};

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh host with the module started; option errors fail the test.
  void boot(const Boot& how = Boot{});
  // As boot, for an option file with errors: the host's message listing
  // them, or "" when start-up went through.
  std::string bootRefused(const Boot& how);
  void advance(simhost::Clock seconds);
  void advanceTo(const simhost::CivilTime& when);
  void arrive(int ch, const std::string& userid, std::int32_t usage = 0);  // logon

  // Trace lines holding `fragment`, and all lines for failure messages.
  int count(const std::string& fragment) const;
  std::string traceText() const;
  std::string readFile(const std::string& name) const;

  std::string dir;
  std::vector<std::string> lines;
};

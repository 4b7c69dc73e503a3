// The message and option file: lines that parse and lines that must be
// refused with their messages, the readers' bounds and safe values, the
// host's file stack, and module description files.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "core_host.h"
#include "simhost/internal.h"
#include "simhost/options.h"

using namespace simhost;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(OptionFile, GoodLines) {
  struct Case {
    std::string line;
    int number;
    std::string value;
  };
  const Case cases[] = {
      {"15 = 2", 15, "2"},
      {"15=2", 15, "2"},
      {"  15 =\t2   # channels to keep free", 15, "2"},
      {"0015 = 7", 15, "7"},
      {"9999 = x", 9999, "x"},
      {"28 = zorgaval.log#comment", 28, "zorgaval.log"},
      {"2 = \xC3\xA9t\xC3\xA9", 2, "\xC3\xA9t\xC3\xA9"},
      {"24 = \"22:00:00\"", 24, "22:00:00"},
      {"5 = \"\"", 5, ""},
      {"6 = \"# not a comment\" # a comment", 6, "# not a comment"},
      {"35 = \"a\\r\\nb\\t\\\"q\\\" \\\\ \\a\\x41\\xff\"", 35, "a\r\nb\t\"q\" \\ \aA\xff"},
      {"7 = \"raw\ttab\"", 7, "raw\ttab"},
      {"16 = 30\r", 16, "30"},
  };
  for (const Case& c : cases) {
    const ParsedOptions file = parseOptionFile("t.mcv", c.line + "\n");
    EXPECT_TRUE(file.errors.empty()) << c.line << ": " << file.errors.front();
    ASSERT_EQ(file.entries.count(c.number), 1u) << c.line;
    const OptionEntry& entry = file.entries.at(c.number);
    EXPECT_EQ(entry.value, c.value) << c.line;
    EXPECT_FALSE(entry.broken) << c.line;
  }
}

TEST(OptionFile, RefusedLines) {
  struct Case {
    std::string line;
    std::string error;
    int broken;  // the entry kept as unreadable, 0 for none
  };
  const Case cases[] = {
      {"abc = 5", "t.mcv:2: \"abc\" is not an option number", 0},
      {"= 5", "t.mcv:2: \"= 5\" is not an option number", 0},
      {"15a = 5", "t.mcv:2: \"15a\" is not an option number", 0},
      {"0 = 5", "t.mcv:2: option number 0 is not between 1 and 9999", 0},
      {"10000 = 5", "t.mcv:2: option number 10000 is not between 1 and 9999", 0},
      {"15 2", "t.mcv:2: option 15: \"=\" expected after the option number", 15},
      {"15 =", "t.mcv:2: option 15: no value after \"=\"", 15},
      {"15 = # none", "t.mcv:2: option 15: no value after \"=\"", 15},
      {"15 = \"abc", "t.mcv:2: option 15: the quoted text is not closed", 15},
      {"15 = \"abc\\", "t.mcv:2: option 15: the quoted text is not closed", 15},
      {"15 = \"a\\qb\"", "t.mcv:2: option 15: \\q is not a known escape", 15},
      {"15 = \"\\x4\"", "t.mcv:2: option 15: \\x must be followed by two hexadecimal digits", 15},
      {"15 = \"\\x00\"", "t.mcv:2: option 15: \\x00 would put a NUL byte in the text", 15},
      {"15 = 2 3", "t.mcv:2: option 15: text after the value: \"3\"", 15},
      {"15 = \"a\"b", "t.mcv:2: option 15: text after the value: \"b\"", 15},
      {"15 = a\"b\"", "t.mcv:2: option 15: text after the value: \"\\\"b\\\"\"", 15},
      {"15 = a\x01z", "t.mcv:2: option 15: text after the value: \"\\x01z\"", 15},
      {std::string("15 = a\0b", 8), "t.mcv:2: option 15: NUL byte at column 7", 15},
      {std::string("15 = \"a\0b\"", 10), "t.mcv:2: option 15: NUL byte at column 8", 15},
      {std::string("# note\0", 7), "t.mcv:2: NUL byte at column 7", 0},
  };
  for (const Case& c : cases) {
    const ParsedOptions file = parseOptionFile("t.mcv", "# first\n" + c.line);
    ASSERT_EQ(file.errors.size(), 1u) << c.line;
    EXPECT_EQ(file.errors[0], c.error) << c.line;
    if (c.broken == 0) {
      EXPECT_TRUE(file.entries.empty()) << c.line;
      continue;
    }
    ASSERT_EQ(file.entries.count(c.broken), 1u) << c.line;
    EXPECT_TRUE(file.entries.at(c.broken).broken) << c.line;
    // Its reader answers the safe value and says nothing more.
    const OptionValue v = readDecimalOption(file, c.broken, 3, 9);
    EXPECT_EQ(v.number, 3) << c.line;
    EXPECT_EQ(v.error, "") << c.line;
  }
}

TEST(OptionFile, SecondEntryOfANumberIsRefusedAndTheFirstStands) {
  const ParsedOptions file = parseOptionFile("t.mcv", "15 = 1\n\n# c\n16 = 2\n15 = 3\n15 = \"x");
  ASSERT_EQ(file.errors.size(), 2u);
  EXPECT_EQ(file.errors[0], "t.mcv:5: option 15 is given again (first on line 1)");
  EXPECT_EQ(file.errors[1], "t.mcv:6: option 15: the quoted text is not closed");
  EXPECT_EQ(file.entries.at(15).value, "1");
  EXPECT_FALSE(file.entries.at(15).broken);
}

TEST(OptionFile, LongLinesLastLineWithoutNewlineAndAByteOrderMark) {
  const std::string text(100000, 'x');
  const ParsedOptions file = parseOptionFile("t.mcv",
                                             "\xEF\xBB\xBF"
                                             "35 = \"" +
                                                 text + "\"\n36 = " + text + "\n37 = end");
  EXPECT_TRUE(file.errors.empty());
  EXPECT_EQ(file.entries.at(35).value, text);
  EXPECT_EQ(file.entries.at(36).value, text);
  EXPECT_EQ(file.entries.at(37).value, "end");
  EXPECT_EQ(file.entries.at(37).line, 3);
}

TEST(OptionReaders, BoundsAndSafeValues) {
  enum Reader { Dec, Hex, YesNo };
  struct Case {
    Reader reader;
    std::string value;
    std::int32_t min, max;
    std::int32_t answer;
    std::string error;    // after "t.mcv:1: option 16: "
    std::string warning;  // likewise
  };
  const Case cases[] = {
      {Dec, "30", 20, 300, 30, "", ""},
      {Dec, "020", 20, 300, 20, "", ""},
      {Dec, "5", 20, 300, 20, "", "5 is below 20; 20 used"},
      {Dec, "400", 20, 300, 300, "", "400 is above 300; 300 used"},
      {Dec, "-5", -10, 10, -5, "", ""},
      {Dec, "-5", 0, 255, 0, "", "-5 is below 0; 0 used"},
      {Dec, "99999999999999999999", 20, 300, 300, "",
       "99999999999999999999 is above 300; 300 used"},
      {Dec, "-99999999999999999999", 20, 300, 20, "", "-99999999999999999999 is below 20; 20 used"},
      {Dec, "2147483648", INT32_MIN, INT32_MAX, INT32_MAX, "",
       "2147483648 is above 2147483647; 2147483647 used"},
      {Dec, "fast", 20, 300, 20, "\"fast\" is not a decimal number", ""},
      {Dec, "+5", 0, 9, 0, "\"+5\" is not a decimal number", ""},
      {Dec, "-", 0, 9, 0, "\"-\" is not a decimal number", ""},
      {Dec, "1.5", 0, 9, 0, "\"1.5\" is not a decimal number", ""},
      {Dec, "0x10", 0, 99, 0, "\"0x10\" is not a decimal number", ""},
      {Hex, "1F", 0, 255, 31, "", ""},
      {Hex, "ff", 0, 255, 255, "", ""},
      {Hex, "00", 0, 255, 0, "", ""},
      {Hex, "0x10", 0, 255, 16, "", ""},
      {Hex, "0X10", 0, 255, 16, "", ""},
      {Hex, "1FF", 0, 255, 255, "", "1FF is above FF; FF used"},
      {Hex, "FFFFFFFF", 0, 255, 255, "", "FFFFFFFF is above FF; FF used"},
      {Hex, "3", 16, 255, 16, "", "3 is below 10; 10 used"},
      {Hex, "123456789", 0, 255, 0, "\"123456789\" is not a hexadecimal number of 1 to 8 digits",
       ""},
      {Hex, "0x", 5, 255, 5, "\"0x\" is not a hexadecimal number of 1 to 8 digits", ""},
      {Hex, "g", 0, 255, 0, "\"g\" is not a hexadecimal number of 1 to 8 digits", ""},
      {Hex, "-1", 0, 255, 0, "\"-1\" is not a hexadecimal number of 1 to 8 digits", ""},
      {YesNo, "YES", 0, 0, 1, "", ""},
      {YesNo, "y", 0, 0, 1, "", ""},
      {YesNo, "No", 0, 0, 0, "", ""},
      {YesNo, "n", 0, 0, 0, "", ""},
      {YesNo, "maybe", 0, 0, 0, "\"maybe\" is not YES, NO, Y or N", ""},
      {YesNo, "1", 0, 0, 0, "\"1\" is not YES, NO, Y or N", ""},
  };
  const std::string prefix = "t.mcv:1: option 16: ";
  for (const Case& c : cases) {
    const ParsedOptions file = parseOptionFile("t.mcv", "16 = " + c.value);
    ASSERT_TRUE(file.errors.empty()) << c.value;
    const OptionValue v = c.reader == Dec   ? readDecimalOption(file, 16, c.min, c.max)
                          : c.reader == Hex ? readHexOption(file, 16, c.min, c.max)
                                            : readYesNoOption(file, 16);
    EXPECT_EQ(v.number, c.answer) << c.value;
    EXPECT_EQ(v.error, c.error.empty() ? "" : prefix + c.error) << c.value;
    EXPECT_EQ(v.warning, c.warning.empty() ? "" : prefix + c.warning) << c.value;
  }
}

TEST(OptionReaders, MissingEntryGivesTheSafeValueOfEachReader) {
  const ParsedOptions file = parseOptionFile("zorgaval.mcv", "15 = 2\n");
  const std::string missing = "zorgaval.mcv: option 19 is missing";
  EXPECT_EQ(readDecimalOption(file, 19, 10, 120).number, 10);
  EXPECT_EQ(readDecimalOption(file, 19, 10, 120).error, missing);
  EXPECT_EQ(readHexOption(file, 19, 7, 120).number, 7);
  EXPECT_EQ(readHexOption(file, 19, 7, 120).error, missing);
  EXPECT_EQ(readYesNoOption(file, 19).number, 0);
  EXPECT_EQ(readYesNoOption(file, 19).error, missing);
  EXPECT_EQ(readTextOption(file, 19).text, "");
  EXPECT_EQ(readTextOption(file, 19).error, missing);
}

// ---- through the host's services

class MessageFiles : public CoreHost {};

TEST_F(MessageFiles, OpenReadCloseAndTheTextsStayValid) {
  writeFile("zorgaval.mcv", "2 = SYSOP\n16 = 5\n17 = 1x\n");
  HostMessageFile* file = opnmsg("zorgaval.mcv");
  char* exempt = stgopt(2);
  EXPECT_STREQ(exempt, "SYSOP");
  EXPECT_EQ(stgopt(2), exempt);
  EXPECT_EQ(numopt(16, 20, 300), 20);
  EXPECT_EQ(hexopt(17, 0, 255), 0);
  EXPECT_EQ(ynopt(20), 0);
  EXPECT_STREQ(stgopt(3), "");
  clsmsg(file);
  EXPECT_STREQ(exempt, "SYSOP");
  EXPECT_EQ(optionErrors(), (std::vector<std::string>{
                                "zorgaval.mcv:3: option 17: \"1x\" is not a "
                                "hexadecimal number of 1 to 8 digits",
                                "zorgaval.mcv: option 20 is missing",
                                "zorgaval.mcv: option 3 is missing",
                            }));
  EXPECT_EQ(
      take(),
      (std::vector<std::string>{"warning \"zorgaval.mcv:2: option 16: 5 is below 20; 20 used\""}));
}

TEST_F(MessageFiles, OverrideAndUnreadableFiles) {
  writeFile("other.mcv", "2 = OTHER\n9 = \"bad\n");
  resetMessageFiles({"zorgaval.mcv", "other.mcv"});
  opnmsg("zorgaval.mcv");
  EXPECT_STREQ(stgopt(2), "OTHER");
  opnmsg("nowhere.mcv");
  EXPECT_STREQ(stgopt(2), "");
  // Inputs that would block or never end are refused, not read.
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "sock");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  opnmsg("pipe");
  opnmsg("/dev/zero");
  gmdnam("pipe");
  gmdnam("sock");  // cannot even be opened, but is no missing file either
  ::close(sock);
  EXPECT_EQ(optionErrors(),
            (std::vector<std::string>{
                "other.mcv:2: option 9: the quoted text is not closed",
                "nowhere.mcv: cannot read: No such file or directory",
                "nowhere.mcv: option 2 is missing",
                "pipe: cannot read: is a FIFO",
                "/dev/zero: cannot read: is larger than 16 MiB, the most it may hold",
                "pipe: cannot read: is a FIFO",
                "sock: cannot read: is a socket",
            }));
}

TEST_F(MessageFiles, CurrentFileStack) {
  writeFile("a.mcv", "1 = A\n35 = \"from a %d\"\n");
  writeFile("b.mcv", "1 = B\n");
  HostMessageFile* a = opnmsg("a.mcv");
  HostMessageFile* b = opnmsg("b.mcv");
  EXPECT_STREQ(stgopt(1), "B");
  rstmbk();
  EXPECT_STREQ(stgopt(1), "A");
  std::string label;
  const std::string* text = messageText(35, &label);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(*text, "from a %d");
  EXPECT_EQ(label, "a.mcv");
  setmbk(b);
  EXPECT_EQ(messageText(35, &label), nullptr);
  rstmbk();
  setmbk(a);
  rstmbk();
  EXPECT_STREQ(stgopt(1), "A");
  rstmbk();
  EXPECT_EQ(messageText(35, &label), nullptr);
  EXPECT_TRUE(take().empty());
  rstmbk();
  EXPECT_EQ(take(), (std::vector<std::string>{"warning \"rstmbk: no message file to restore\""}));
  EXPECT_EQ(numopt(1, 4, 9), 4);
  EXPECT_EQ(optionErrors(), (std::vector<std::string>{"numopt(1): no message file is current"}));
}

TEST_F(MessageFiles, ModuleDescriptionName) {
  struct Case {
    std::string bytes;  // "" for no file
    std::string name;
    std::string warning;
  };
  const Case cases[] = {
      {"Name: Zor Gaval  \nVersion: 1.0W\n", "Zor Gaval", ""},
      {"Version: 1\r\n  name :\tZor Gaval\r\n", "Zor Gaval", ""},
      {"Version: 1\n", "ZORGAVAL",
       "sub/ZORGAVAL.MDF: no \"Name:\" line; \"ZORGAVAL\" used as the module name"},
      {"Name:   \n", "ZORGAVAL",
       "sub/ZORGAVAL.MDF: the \"Name:\" line is empty; \"ZORGAVAL\" used as the module "
       "name"},
      {"", "ZORGAVAL",
       "sub/ZORGAVAL.MDF: cannot read: No such file or directory; \"ZORGAVAL\" "
       "used as the module name"},
  };
  std::filesystem::create_directory("sub");
  for (const Case& c : cases) {
    std::filesystem::remove("sub/ZORGAVAL.MDF");
    if (!c.bytes.empty()) writeFile("sub/ZORGAVAL.MDF", c.bytes);
    EXPECT_STREQ(gmdnam("sub/ZORGAVAL.MDF"), c.name.c_str()) << c.bytes;
    const std::vector<std::string> seen = take();
    if (c.warning.empty()) {
      EXPECT_TRUE(seen.empty()) << c.bytes;
    } else {
      EXPECT_EQ(seen, std::vector<std::string>{"warning " + quote(c.warning)}) << c.bytes;
    }
  }
}

}  // namespace

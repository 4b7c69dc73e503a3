// The checked formatter: conversions that fit their arguments, and every
// kind that does not, which must come out literally with a problem named.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simhost/internal.h"

using namespace simhost;

namespace {

HostArg I(long long n) { return {HOST_ARG_INT, n, nullptr}; }
HostArg T(const char* s) { return {HOST_ARG_TEXT, 0, s}; }

struct Case {
  std::string text;
  std::vector<HostArg> args;
  std::string out;
  std::vector<std::string> problems;
};

void check(const Case& c) {
  std::vector<std::string> problems;
  const std::string out =
      formatChecked(c.text, c.args.data(), static_cast<int>(c.args.size()), &problems);
  EXPECT_EQ(out, c.out) << c.text;
  EXPECT_EQ(problems, c.problems) << c.text;
}

TEST(Formatter, ConversionsThatFit) {
  const Case cases[] = {
      {"%d seconds", {I(42)}, "42 seconds", {}},
      {"%5d|%-5d|%05d|%+d|% d", {I(1), I(2), I(3), I(4), I(5)}, "    1|2    |00003|+4| 5", {}},
      {"%i %.3d", {I(-7), I(7)}, "-7 007", {}},
      {"%d", {I(4294967297LL)}, "1", {}},
      {"%u", {I(-1)}, "4294967295", {}},
      {"%x %X %#x %04x", {I(255), I(255), I(255), I(10)}, "ff FF 0xff 000a", {}},
      {"%ld %lu", {I(1LL << 40), I(-1)}, "1099511627776 18446744073709551615", {}},
      {"%c%3c|%-3c|%lc", {I('A'), I('b'), I('c'), I('d')}, "A  b|c  |d", {}},
      {"%c", {I(0x141)}, "A", {}},
      {"[%s] [%.2s] [%5s] [%-5s]",
       {T("abc"), T("abc"), T("abc"), T("abc")},
       "[abc] [ab] [  abc] [abc  ]",
       {}},
      {"%s", {T("")}, "", {}},
      {"100%% %%d", {I(5)}, "100% %d", {}},
      {"%d", {I(1), I(2), T("extra")}, "1", {}},
      {"no conversions", {}, "no conversions", {}},
      {"%255d", {I(1)}, std::string(254, ' ') + "1", {}},
      {"%.255d", {I(1)}, std::string(254, '0') + "1", {}},
      {"%05s|%#d|%+u", {T("ab"), I(3), I(4)}, "   ab|3|4", {}},
  };
  for (const Case& c : cases) check(c);
}

TEST(Formatter, ConversionsThatDoNotFitAreCopiedLiterally) {
  const Case cases[] = {
      {"%s", {I(5)}, "%s", {"%s given an integer"}},
      {"%d", {T("x")}, "%d", {"%d given a text"}},
      {"%-5x", {T("x")}, "%-5x", {"%-5x given a text"}},
      {"%d", {}, "%d", {"%d has no argument"}},
      {"%d and %s", {I(1)}, "1 and %s", {"%s has no argument"}},
      {"%256d", {I(1)}, "%256d", {"%256d: width over 255"}},
      {"%.256d", {I(1)}, "%.256d", {"%.256d: precision over 255"}},
      {"%99999999999d", {I(1)}, "%99999999999d", {"%99999999999d: width over 255"}},
      {"%*d", {I(5), I(6)}, "%*d", {"%*d: * is not allowed"}},
      {"%.*s", {I(5), T("x")}, "%.*s", {"%.*s: * is not allowed"}},
      {"%n", {I(1)}, "%n", {"%n is not an allowed conversion"}},
      {"%p %f %e",
       {I(1)},
       "%p %f %e",
       {"%p is not an allowed conversion", "%f is not an allowed conversion",
        "%e is not an allowed conversion"}},
      {"%ls", {T("x")}, "%ls", {"%ls: wide texts are not allowed"}},
      {"%hd %lld",
       {I(1), I(2)},
       "%hd %lld",
       {"%hd: only l may come before the conversion",
        "%lld: only l may come before the conversion"}},
      {"50%", {I(1)}, "50%", {"% at the end of the text is incomplete"}},
      {"%-0", {I(1)}, "%-0", {"%-0 at the end of the text is incomplete"}},
      {"%s", {HostArg{0, 0, nullptr}}, "%s", {"%s given an argument of no known kind"}},
      {"%s", {T(nullptr)}, "(null)", {"%s given a null text; (null) printed"}},
  };
  for (const Case& c : cases) check(c);
}

// A conversion copied literally leaves its argument to the next one.
TEST(Formatter, LiteralConversionsUseUpNoArgument) {
  check({"a%fb%dc%s", {I(3), T("t")}, "a%fb3ct", {"%f is not an allowed conversion"}});
  check({"%s %d", {I(5)}, "%s 5", {"%s given an integer"}});
}

TEST(Formatter, NullArgumentsAndNoProblemList) {
  EXPECT_EQ(formatChecked("%d%%", nullptr, 3, nullptr), "%d%");
  const HostArg one[] = {I(1)};
  EXPECT_EQ(formatChecked("%d %d", one, 1, nullptr), "1 %d");
}

}  // namespace

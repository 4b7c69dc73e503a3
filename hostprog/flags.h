// The programs' command lines read with getopt_long, under one set of rules:
// a flag given twice is refused ("--dir given twice"), a flag without its
// value is "--dir needs a value", one given a value it does not take
// "--help takes no value", an unknown one "unknown option "-x"".
#pragma once

#include <getopt.h>

#include <set>
#include <string>
#include <vector>

namespace hostprog {

class FlagScan {
 public:
  // ARGS are the words after PROGRAM; `shorts` as getopt_long takes them
  // (the scan adds the leading ':' that tells a missing value apart).
  FlagScan(const std::string& program, const std::vector<std::string>& args, const option* longs,
           const std::string& shorts);

  // The next flag's code (1 for a word that is not a flag, when `shorts`
  // begins with '-'), or -1 at the end or once an error is set.
  int next();
  const std::string& value() const { return value_; }  // the flag's value, or ""
  bool hasValue() const { return hasValue_; }
  // The word after the flag, taken as its value when it is not a flag
  // itself (an optional value given as a second word); "" otherwise.
  std::string takeFollowingWord();
  std::vector<std::string> rest() const;  // the words after "--" or the last flag

  // Lets flag CODE take an empty value (`--keys ""`, no key at all).
  void allowEmpty(int code) { emptyAllowed_.insert(code); }

  const std::string& error() const { return error_; }
  void fail(const std::string& text) {
    if (error_.empty()) error_ = text;
  }
  std::string nameOf(int code) const;  // "--dir", or "-h"

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
  const option* longs_;
  std::string shorts_;
  std::set<int> seen_;
  std::set<int> emptyAllowed_;
  std::string value_;
  bool hasValue_ = false;
  bool wordsInOrder_ = false;  // "-": a word that is not a flag comes back as code 1
  std::string error_;
};

}  // namespace hostprog

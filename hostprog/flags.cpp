// One getopt_long scan, with the programs' own texts: opterr is off, and
// each refusal is worded once here.
#include "hostprog/flags.h"

#include <algorithm>

namespace hostprog {

FlagScan::FlagScan(const std::string& program, const std::vector<std::string>& args,
                   const option* longs, const std::string& shorts)
    : longs_(longs) {
  words_.reserve(args.size() + 1);
  words_.push_back(program);
  words_.insert(words_.end(), args.begin(), args.end());
  argv_.reserve(words_.size() + 1);
  for (std::string& w : words_) argv_.push_back(w.data());
  argv_.push_back(nullptr);
  // "-" or "+" stays first; ":" after it tells a missing value apart.
  const bool ordered = !shorts.empty() && (shorts[0] == '-' || shorts[0] == '+');
  wordsInOrder_ = !shorts.empty() && shorts[0] == '-';
  shorts_ = ordered ? shorts.substr(0, 1) + ":" + shorts.substr(1) : ":" + shorts;
  opterr = 0;
  optind = 0;  // a fresh scan, also when called again
}

std::string FlagScan::nameOf(int code) const {
  for (const option* o = longs_; o->name != nullptr; ++o)
    if (o->val == code) return std::string("--") + o->name;
  return code > 0 && code < 256 ? std::string("-") + static_cast<char>(code) : "";
}

int FlagScan::next() {
  if (!error_.empty()) return -1;
  const int argc = static_cast<int>(words_.size());
  const int code = getopt_long(argc, argv_.data(), shorts_.c_str(), longs_, nullptr);
  hasValue_ = optarg != nullptr;
  value_ = hasValue_ ? optarg : "";
  if (code == -1 || (code == 1 && wordsInOrder_)) return code;
  if (code == ':') {
    fail(nameOf(optopt).empty() ? std::string(argv_[optind - 1]) + " needs a value"
                                : nameOf(optopt) + " needs a value");
    return -1;
  }
  if (code == '?') {
    // optopt is 0 for an unknown long option, a long option's code when it
    // was given a value it does not take, else the unknown short letter.
    const std::string word = argv_[optind - 1];
    if (optopt == 0)
      fail("unknown option \"" + word + "\"");
    else if (word.rfind("--", 0) == 0)
      fail(word.substr(0, word.find('=')) + " takes no value");  // --help=yes
    else
      fail("unknown option \"-" + std::string(1, static_cast<char>(optopt)) + "\"");
    return -1;
  }
  if (!seen_.insert(code).second) {
    fail(nameOf(code) + " given twice");
    return -1;
  }
  if (hasValue_ && value_.empty() && emptyAllowed_.count(code) == 0) {
    fail(nameOf(code) + " needs a value");
    return -1;
  }
  return code;
}

std::string FlagScan::takeFollowingWord() {
  const int argc = static_cast<int>(words_.size());
  if (optind >= argc || argv_[optind][0] == '\0' || argv_[optind][0] == '-') return "";
  return argv_[optind++];
}

// getopt_long permutes argv_, not words_: the words not taken as flags are
// read from there, in the order it left them.
std::vector<std::string> FlagScan::rest() const {
  std::vector<std::string> out;
  for (std::size_t i = static_cast<std::size_t>(std::max(optind, 0)); i + 1 < argv_.size(); ++i)
    out.emplace_back(argv_[i]);
  return out;
}

}  // namespace hostprog

// The front door's target as the sysop writes it: --behind and
// --behind-user-fields read and checked, each error naming the value.
#include "board/behind/target.h"

#include "simhost/simhost.h"

namespace board {

std::string BehindTarget::name() const {
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(kindName()) + ":" + (v6 ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

std::string readBehind(const std::string& value, BehindTarget& t) {
  if (value == "none") {
    t.kind = BehindTarget::Kind::None;
    return "";
  }
  std::string bad =
      "--behind: " + simhost::quote(value) + " is not rlogin:HOST:PORT, telnet:HOST:PORT or none";
  const std::size_t colon = value.find(':');
  const std::size_t last = value.rfind(':');
  if (colon == std::string::npos || last == colon) return bad;
  const std::string kind = value.substr(0, colon);
  std::string host = value.substr(colon + 1, last - colon - 1);
  const std::string port = value.substr(last + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if ((kind != "rlogin" && kind != "telnet") || host.empty() || port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos)
    return bad;
  const unsigned long number = std::stoul(port);
  if (number < 1 || number > 65535) return bad;
  t.kind = kind == "rlogin" ? BehindTarget::Kind::RLogin : BehindTarget::Kind::Telnet;
  t.host = host;
  t.port = static_cast<unsigned>(number);
  return "";
}

namespace {

// RLogin's fields end at a NUL and servers cap them (16 bytes for the user
// names in BSD's rlogind): printable text only, kept short.
constexpr std::size_t kFieldCap = 32;

bool readField(const std::string& word, UserField* field) {
  if (word == "userid") {
    *field = UserField{};
    return true;
  }
  if (word.rfind("text:", 0) != 0) return false;
  const std::string text = word.substr(5);
  if (text.empty() || text.size() > kFieldCap) return false;
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  *field = UserField{false, text};
  return true;
}

}  // namespace

std::string readUserFields(const std::string& value, BehindTarget& t) {
  const std::size_t comma = value.find(',');
  UserField first, second;
  if (comma == std::string::npos || !readField(value.substr(0, comma), &first) ||
      !readField(value.substr(comma + 1), &second))
    return "--behind-user-fields: " + simhost::quote(value) +
           " is not two of userid and text:WORDS (1 to 32 printable bytes), comma-separated";
  t.clientUser = first;
  t.serverUser = second;
  return "";
}

std::string readTerminal(const std::string& value, BehindTarget& t) {
  const bool good = !value.empty() && value.size() <= kFieldCap &&
                    value.find_first_not_of(
                        "abcdefghijklmnopqrstuvwxyz"
                        "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-+._") == std::string::npos;
  if (!good)
    return "--behind-terminal: " + simhost::quote(value) +
           " is not a terminal type (1 to 32 letters, digits and -+._)";
  t.terminal = value;
  return "";
}

}  // namespace board

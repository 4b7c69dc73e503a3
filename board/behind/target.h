// Where the front door carries a signed-on caller (--behind KIND:HOST:PORT)
// and what it puts in RLogin's two user-name fields (--behind-user-fields);
// read here so the command line and the config file check them alike.
#pragma once

#include <string>

namespace board {

// One of RLogin's user-name fields: the caller's user-id or a fixed text.
// Never the caller's password: the front door has none to give.
struct UserField {
  bool userid = true;
  std::string text;  // when not the user-id
  std::string of(const std::string& id) const { return userid ? id : text; }
};

struct BehindTarget {
  enum class Kind { None, RLogin, Telnet };
  Kind kind = Kind::None;
  std::string host;
  unsigned port = 0;
  // RFC 1282 reads the first as the local user, the second as the remote
  // one; some boards read a password first and the user-id second.
  UserField clientUser, serverUser;
  std::string terminal = "xterm";  // --behind-terminal: the type sent to the board behind

  bool on() const { return kind != Kind::None; }
  const char* kindName() const { return kind == Kind::RLogin ? "rlogin" : "telnet"; }
  // "rlogin:HOST:PORT", as `ctl who` and the trace name it.
  std::string name() const;
};

// VALUE of --behind ("rlogin:HOST:PORT", "telnet:HOST:PORT", "none") into
// T; "" or the error line, naming the flag and the value.
std::string readBehind(const std::string& value, BehindTarget& t);
// VALUE of --behind-user-fields: two of `userid` and `text:WORDS`,
// comma-separated, the client user's first ("text:guest,userid").
std::string readUserFields(const std::string& value, BehindTarget& t);

// VALUE of --behind-terminal: a terminal type, 1 to 32 bytes of letters,
// digits and -+._ (RLogin sends it as TYPE/SPEED, telnet as TTYPE).
std::string readTerminal(const std::string& value, BehindTarget& t);

}  // namespace board

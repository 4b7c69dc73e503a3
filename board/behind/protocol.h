// What is said on the wire to the board behind, with no socket: the
// opening, the caller's keys made into the protocol's bytes, the board
// behind's bytes made into what the caller sees (its commands answered and
// taken out), and the caller's window told. RLogin and telnet are two.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "board/behind/target.h"
#include "board/caller/line_layer.h"

namespace board {

class BehindProtocol {
 public:
  virtual ~BehindProtocol() = default;

  // The first bytes once connected.
  virtual void open() = 0;
  // Bytes as they came from the board behind.
  virtual void fromBehind(std::string_view wire) = 0;
  // Keys as the caller typed them.
  virtual void fromCaller(std::string_view keys) = 0;
  // The caller's window now; told if the board behind has asked for it.
  virtual void resized(Window window) = 0;
  // One byte of TCP urgent data (RLogin's control byte); others ignore it.
  virtual void urgent(unsigned char) {}
  virtual bool usesUrgent() const { return false; }
  // The board behind has answered the opening (RLogin's zero byte);
  // until then the call is not carried yet.
  virtual bool ready() const { return true; }
  // The board behind said what cannot be carried on; nothing more is read.
  virtual bool failed() const { return false; }

  std::string takeForCaller() { return take(forCaller_); }
  std::string takeForBehind() { return take(forBehind_); }
  std::size_t pendingForBehind() const { return forBehind_.size(); }

 protected:
  std::string forCaller_, forBehind_;

 private:
  static std::string take(std::string& s) {
    std::string out;
    out.swap(s);
    return out;
  }
};

// RFC 1282: the two user names as the sysop chose them for USERID.
std::unique_ptr<BehindProtocol> rloginProtocol(const BehindTarget& target,
                                               const std::string& userid, Window window);
// A telnet client (libtelnet): TTYPE, NAWS and NEW-ENVIRON USER.
std::unique_ptr<BehindProtocol> telnetClient(const BehindTarget& target, const std::string& userid,
                                             Window window);

}  // namespace board

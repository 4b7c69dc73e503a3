// The RLogin client's wire (RFC 1282): four NUL-ended strings to open, the
// server's zero byte, then eight-bit bytes both ways; the urgent 0x80 asks
// for the window, told as FF FF 's' 's' and four 16-bit sizes.
#include "board/behind/protocol.h"

namespace board {

namespace {

// Urgent control bytes from an RLogin server.
constexpr unsigned char kWindowRequest = 0x80;
// The speed in TYPE/SPEED: a network connection has none, so the fastest
// that terminals name, which no server reads as a reason to pad output.
const char kSpeed[] = "/38400";

class RLogin final : public BehindProtocol {
 public:
  RLogin(const BehindTarget& target, const std::string& userid, Window window)
      : client_(target.clientUser.of(userid)),
        server_(target.serverUser.of(userid)),
        terminal_(target.terminal + kSpeed),
        window_(window) {}

  void open() override {
    forBehind_ += '\0';
    for (const std::string* field : {&client_, &server_, &terminal_}) {
      forBehind_ += *field;
      forBehind_ += '\0';
    }
  }

  void fromBehind(std::string_view wire) override {
    if (!answered_ && !wire.empty()) {
      answered_ = true;
      // Anything but a zero byte first is the server's refusal, in words
      // the caller may read (BSD's rlogind sends 01 and a line).
      if (wire.front() == '\0') wire.remove_prefix(1);
    }
    forCaller_.append(wire);
  }

  void fromCaller(std::string_view keys) override { forBehind_.append(keys); }

  void resized(Window window) override {
    const bool changed = window.columns != window_.columns || window.rows != window_.rows;
    window_ = window;
    if (asked_ && changed) tellWindow();
  }

  void urgent(unsigned char byte) override {
    if ((byte & kWindowRequest) == 0) return;  // flush and flow control: nothing to do here
    asked_ = true;
    tellWindow();
  }
  bool usesUrgent() const override { return true; }
  bool ready() const override { return answered_; }

 private:
  void tellWindow() {
    // A caller whose client never said is taken as the classic 80 by 24.
    const int sizes[] = {window_.rows > 0 ? window_.rows : 24,
                         window_.columns > 0 ? window_.columns : 80, 0, 0};
    forBehind_ += "\xff\xffss";
    for (const int n : sizes) {
      forBehind_ += static_cast<char>((n >> 8) & 0xff);
      forBehind_ += static_cast<char>(n & 0xff);
    }
  }

  std::string client_, server_, terminal_;
  Window window_;
  bool answered_ = false;  // the server's first byte has come
  bool asked_ = false;     // the server asked for the window's size
};

}  // namespace

std::unique_ptr<BehindProtocol> rloginProtocol(const BehindTarget& target,
                                               const std::string& userid, Window window) {
  return std::make_unique<RLogin>(target, userid, window);
}

}  // namespace board

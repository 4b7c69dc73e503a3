// The telnet client's wire to the board behind (libtelnet): the terminal
// type (TTYPE), the window (NAWS) and the user-id as NEW-ENVIRON USER when
// the server asks; every command of the board behind is answered here and
// taken out, so the caller's side sees its text alone.
#include "board/behind/protocol.h"

#include <libtelnet.h>

namespace board {

namespace {

// What the front door does as a client: it tells its type, size and user,
// lets the server echo and suppress go-ahead, and takes binary both ways so
// eight-bit text passes as it is. Everything else is refused by libtelnet.
const telnet_telopt_t kClientOptions[] = {
    {TELNET_TELOPT_TTYPE, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_NAWS, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_NEW_ENVIRON, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_ECHO, TELNET_WONT, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {-1, 0, 0},
};

class TelnetClient final : public BehindProtocol {
 public:
  TelnetClient(const BehindTarget& target, const std::string& userid, Window window)
      : telnet_(telnet_init(kClientOptions, &TelnetClient::onEvent, 0, this)),
        terminal_(target.terminal),
        userid_(userid),
        window_(window) {
    if (telnet_ == nullptr) failed_ = true;
  }
  ~TelnetClient() override {
    if (telnet_ != nullptr) telnet_free(telnet_);
  }
  TelnetClient(const TelnetClient&) = delete;
  TelnetClient& operator=(const TelnetClient&) = delete;

  // The server leads the negotiation; a client that waits for nothing
  // offers what it has at once, as BSD's telnet does.
  void open() override {
    if (failed_) return;
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_TTYPE);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_NAWS);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_SGA);
  }

  void fromBehind(std::string_view wire) override {
    if (!failed_) telnet_recv(telnet_, wire.data(), wire.size());
  }

  // The caller's Enter comes as CR: on a telnet wire it is the end of a
  // line, CR LF, unless binary is on and the server's terminal takes the
  // CR as a terminal sends it. libtelnet's telnet_send doubles IAC alone.
  void fromCaller(std::string_view keys) override {
    if (failed_) return;
    std::string out;
    for (const char c : keys) {
      out += c;
      if (c == '\r' && !binary_) out += '\n';
    }
    telnet_send(telnet_, out.data(), out.size());
  }

  void resized(Window window) override {
    const bool changed = window.columns != window_.columns || window.rows != window_.rows;
    window_ = window;
    if (nawsOn_ && changed) tellWindow();
  }

  bool failed() const override { return failed_; }

 private:
  static void onEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetClient*>(self)->event(*event);
  }

  void event(const telnet_event_t& e) {
    switch (e.type) {
      case TELNET_EV_DATA:
        forCaller_.append(e.data.buffer, e.data.size);
        break;
      case TELNET_EV_SEND:
        forBehind_.append(e.data.buffer, e.data.size);
        break;
      case TELNET_EV_DO:
        if (e.neg.telopt == TELNET_TELOPT_NAWS) {
          nawsOn_ = true;
          tellWindow();
        }
        if (e.neg.telopt == TELNET_TELOPT_BINARY) binary_ = true;
        break;
      case TELNET_EV_DONT:
        if (e.neg.telopt == TELNET_TELOPT_NAWS) nawsOn_ = false;
        if (e.neg.telopt == TELNET_TELOPT_BINARY) binary_ = false;
        break;
      case TELNET_EV_TTYPE:
        if (e.ttype.cmd == TELNET_TTYPE_SEND) telnet_ttype_is(telnet_, terminal_.c_str());
        break;
      case TELNET_EV_ENVIRON:
        if (e.environ.cmd == TELNET_ENVIRON_SEND) tellUser();
        break;
      case TELNET_EV_ERROR:
        failed_ = true;
        break;
      default:
        break;  // WILL/WONT answered by libtelnet from the table
    }
  }

  // Whatever variables the server asked for, the front door knows USER.
  void tellUser() {
    telnet_begin_newenviron(telnet_, TELNET_ENVIRON_IS);
    telnet_newenviron_value(telnet_, TELNET_ENVIRON_VAR, "USER");
    telnet_newenviron_value(telnet_, TELNET_ENVIRON_VALUE, userid_.c_str());
    telnet_finish_newenviron(telnet_);
  }

  void tellWindow() {
    const int columns = window_.columns > 0 ? window_.columns : 80;
    const int rows = window_.rows > 0 ? window_.rows : 24;
    const char size[] = {static_cast<char>(columns >> 8), static_cast<char>(columns & 0xff),
                         static_cast<char>(rows >> 8), static_cast<char>(rows & 0xff)};
    telnet_subnegotiation(telnet_, TELNET_TELOPT_NAWS, size, sizeof size);
  }

  telnet_t* telnet_ = nullptr;
  std::string terminal_, userid_;
  Window window_;
  bool nawsOn_ = false;
  bool binary_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<BehindProtocol> telnetClient(const BehindTarget& target, const std::string& userid,
                                             Window window) {
  return std::make_unique<TelnetClient>(target, userid, window);
}

}  // namespace board

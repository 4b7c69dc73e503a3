// The telnet and line layer: libtelnet takes the commands out of the
// stream and answers negotiation; this file builds lines from what is left
// (CR LF, CR NUL and a bare LF end one), echoes, and cuts long lines.
#include "board/telnet.h"

#include <libtelnet.h>

namespace board {

namespace {

// What the board offers; every other option the client asks for is refused
// by libtelnet itself.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_ECHO, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {-1, 0, 0},
};

constexpr unsigned char kBackspace = 0x08, kDelete = 0x7f;

}  // namespace

TelnetLine::TelnetLine() : telnet_(telnet_init(kOptions, &TelnetLine::onEvent, 0, this)) {
  if (telnet_ == nullptr) failed_ = true;
}

TelnetLine::~TelnetLine() {
  if (telnet_ != nullptr) telnet_free(telnet_);
}

void TelnetLine::start() {
  if (failed_) return;
  telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_ECHO);
  telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_SGA);
}

// libtelnet starts inflating the rest of a buffer as soon as a COMPRESS2
// subnegotiation ends in it, and the board never offered compression. That
// end is always the byte after an IAC, so each such byte closes the piece
// handed over: the COMPRESS event then comes with nothing left to inflate,
// and nothing more is read.
void TelnetLine::receive(std::string_view bytes) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < bytes.size() && !failed_; ++i) {
    const bool afterIac = lastWasIac_;
    lastWasIac_ = static_cast<unsigned char>(bytes[i]) == TELNET_IAC;
    if (afterIac || i + 1 == bytes.size()) {
      telnet_recv(telnet_, bytes.data() + from, i + 1 - from);
      from = i + 1;
    }
  }
}

void TelnetLine::send(std::string_view text) {
  if (failed_ || text.empty()) return;
  telnet_send(telnet_, text.data(), text.size());
}

bool TelnetLine::nextLine(Line* line) {
  if (lines_.empty()) return false;
  *line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

std::string TelnetLine::takeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

void TelnetLine::onEvent(telnet_t*, telnet_event_t* event, void* self) {
  auto* me = static_cast<TelnetLine*>(self);
  switch (event->type) {
    case TELNET_EV_DATA:
      me->data(std::string_view(event->data.buffer, event->data.size));
      break;
    case TELNET_EV_SEND:
      me->output_.append(event->data.buffer, event->data.size);
      break;
    case TELNET_EV_DO:
      if (event->neg.telopt == TELNET_TELOPT_ECHO) me->clientLetsUsEcho_ = true;
      break;
    case TELNET_EV_DONT:
      if (event->neg.telopt == TELNET_TELOPT_ECHO) me->clientLetsUsEcho_ = false;
      break;
    case TELNET_EV_ERROR:
      me->failed_ = true;
      break;
    case TELNET_EV_COMPRESS:
      // A caller who starts compressing what it sends, unasked: the stream
      // cannot be read further without inflating it.
      if (event->compress.state != 0) me->failed_ = true;
      break;
    default:
      break;  // other commands and subnegotiations mean nothing to a line
  }
}

void TelnetLine::data(std::string_view bytes) {
  // Only what the caller can see typed is echoed: while a password is
  // typed, the line ends still move the cursor and nothing else shows.
  std::string echo;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool afterCr = lastWasCr_;
    lastWasCr_ = false;
    if (byte == '\r') {
      lastWasCr_ = true;
      endLine();
      echo += "\r\n";
    } else if (byte == '\n' || byte == '\0') {
      if (afterCr) continue;  // the rest of a CR LF or CR NUL
      if (byte == '\n') {
        endLine();
        echo += "\r\n";
      }
    } else if (byte == kBackspace || byte == kDelete) {
      if (!partial_.empty()) {
        partial_.pop_back();
        if (echo_) echo += "\b \b";
      }
    } else if (byte < 0x20) {
      // Other control bytes (escape sequences among them) would act on the
      // screens of the callers a line reaches: they are dropped.
    } else if (partial_.size() < kLineCap) {
      partial_ += c;
      if (echo_) echo += c;
    } else {
      partialCut_ = true;
    }
  }
  if (clientLetsUsEcho_ && !echo.empty()) telnet_send(telnet_, echo.data(), echo.size());
}

void TelnetLine::endLine() {
  lines_.push_back(Line{std::move(partial_), partialCut_});
  partial_.clear();
  partialCut_ = false;
}

}  // namespace board

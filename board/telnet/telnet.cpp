// The telnet layer: libtelnet takes the commands out of the stream and
// answers negotiation; what is left goes to the line layer, and a NAWS
// subnegotiation gives the caller's window.
#include "board/telnet/telnet.h"

#include <libtelnet.h>

namespace board {

namespace {

// What the board offers; every other option the client asks for is refused
// by libtelnet itself.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_ECHO, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_NAWS, TELNET_WONT, TELNET_DO},
    {-1, 0, 0},
};

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
  telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_NAWS);
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

void TelnetLine::onEvent(telnet_t*, telnet_event_t* event, void* self) {
  auto* me = static_cast<TelnetLine*>(self);
  switch (event->type) {
    case TELNET_EV_DATA:
      me->typed(std::string_view(event->data.buffer, event->data.size), me->clientLetsUsEcho_);
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
    case TELNET_EV_SUBNEGOTIATION:
      me->subnegotiation(event->sub.telopt, std::string_view(event->sub.buffer, event->sub.size));
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

// NAWS: width and height, two bytes each, high byte first.
void TelnetLine::subnegotiation(int option, std::string_view data) {
  if (option != TELNET_TELOPT_NAWS || data.size() != 4) return;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
  resized(Window{at(0) * 256 + at(1), at(2) * 256 + at(3)});
}

}  // namespace board

// The telnet layer of one call, with no socket: libtelnet takes the
// commands out of the stream and answers negotiation; what is left is
// typing for the line layer. Telnet commands never reach a line.
#pragma once

#include <string_view>

#include "board/caller/line_layer.h"

struct telnet_t;
union telnet_event_t;

namespace board {

class TelnetLine : public LineLayer {
 public:
  TelnetLine();
  ~TelnetLine() override;
  TelnetLine(const TelnetLine&) = delete;
  TelnetLine& operator=(const TelnetLine&) = delete;

  // Offers WILL ECHO and WILL SUPPRESS-GO-AHEAD, and asks for the
  // window's size (NAWS).
  void start() override;
  void receive(std::string_view bytes) override;
  // Text for the caller, byte for byte, with only IAC (0xFF) doubled.
  void send(std::string_view text) override;
  // libtelnet met a stream it cannot go on with (a subnegotiation past its
  // buffer, or compression the board never offered); nothing more is read.
  bool failed() const override { return failed_; }
  // Echo only ever happens once the client has agreed that the board
  // echoes, so a raw client that echoes itself never sees a line twice.

 private:
  static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
  void subnegotiation(int option, std::string_view data);

  telnet_t* telnet_ = nullptr;
  bool lastWasIac_ = false;  // the last byte received was 0xFF
  bool clientLetsUsEcho_ = false;
  bool failed_ = false;
};

}  // namespace board

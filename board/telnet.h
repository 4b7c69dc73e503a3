// The telnet and line layer of one call, with no socket: bytes from the
// network in, complete lines and bytes to send out. Telnet commands never
// reach a line; every buffer it keeps is bounded.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

struct telnet_t;
union telnet_event_t;

namespace board {

inline constexpr std::size_t kLineCap = 255;  // bytes a line keeps

struct Line {
  std::string text;  // never more than kLineCap bytes, no control bytes
  bool cut = false;  // the caller typed more, which was dropped
};

class TelnetLine {
 public:
  TelnetLine();
  ~TelnetLine();
  TelnetLine(const TelnetLine&) = delete;
  TelnetLine& operator=(const TelnetLine&) = delete;

  // Offers WILL ECHO and WILL SUPPRESS-GO-AHEAD.
  void start();
  // Takes bytes as they came from the network. Complete lines queue for
  // nextLine; answers to negotiation and the echo queue for takeOutput.
  void receive(std::string_view bytes);
  // Text for the caller, byte for byte, with only IAC (0xFF) doubled.
  void send(std::string_view text);
  // Whether typed characters are echoed (off while a password is typed).
  // Echo only ever happens once the client has agreed that the board
  // echoes, so a raw client that echoes itself never sees a line twice.
  void setEcho(bool on) { echo_ = on; }

  bool nextLine(Line* line);
  // Lines wait: at most one for each byte of the reads that made them.
  bool hasLines() const { return !lines_.empty(); }
  std::string takeOutput();
  std::size_t pendingOutput() const { return output_.size(); }
  // libtelnet met a stream it cannot go on with (a subnegotiation past its
  // buffer, or compression the board never offered); nothing more is read.
  bool failed() const { return failed_; }
  // Bytes of a line being typed, for the prompt time-out's sake.
  bool typing() const { return !partial_.empty() || partialCut_; }

 private:
  static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
  void data(std::string_view bytes);
  void endLine();

  telnet_t* telnet_ = nullptr;
  std::string output_;
  std::string partial_;
  bool partialCut_ = false;
  bool lastWasCr_ = false;   // a CR ended a line: a LF or NUL after it is part of it
  bool lastWasIac_ = false;  // the last byte received was 0xFF
  bool echo_ = true;
  bool clientLetsUsEcho_ = false;
  bool failed_ = false;
  std::deque<Line> lines_;
};

}  // namespace board

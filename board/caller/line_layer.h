// A caller's typing made into lines, whatever carries it: line ends,
// backspace, echo, the line cap. Each transport has a layer: telnet's takes
// the telnet commands out first; SSH's and the web terminal's take bytes
// as typed. Bytes to send and every buffer kept are bounded by the caller.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace board {

inline constexpr std::size_t kLineCap = 255;  // bytes a line keeps

struct Line {
  std::string text;  // never more than kLineCap bytes, no control bytes
  bool cut = false;  // the caller typed more, which was dropped
};

// The caller's window in characters, 0 while nobody has said (NAWS, the
// SSH pty request, the web terminal's size); kept for later use.
struct Window {
  int columns = 0;
  int rows = 0;
};

class LineLayer {
 public:
  virtual ~LineLayer() = default;

  // The transport's opening words, if it has any (telnet's offers).
  virtual void start() {}
  // Takes bytes as they came from the caller. Complete lines queue for
  // nextLine; the echo and any answers queue for takeOutput.
  virtual void receive(std::string_view bytes) = 0;
  // Text for the caller, byte for byte as the transport carries it.
  virtual void send(std::string_view text) = 0;
  // The transport met a stream it cannot go on with; nothing more is read.
  virtual bool failed() const { return false; }

  // Whether typed characters are echoed (off while a password is typed).
  void setEcho(bool on) { echo_ = on; }
  // Under UTF-8 a backspace takes back a whole character, its bytes
  // together; otherwise (CP437) one byte is one character.
  void setUtf8(bool on) { utf8_ = on; }
  bool nextLine(Line* line);
  // Lines wait: at most one for each byte of the reads that made them.
  bool hasLines() const { return !lines_.empty(); }
  std::string takeOutput();
  Window window() const { return window_; }
  // The one place every transport tells the caller's window, at the start
  // and at each change; WATCH, once set, hears each change.
  void resized(Window window);
  void watchWindow(std::function<void(Window)> watch) { watchWindow_ = std::move(watch); }

  // Raw, the caller's keys are carried as typed (a call carried to the
  // board behind): no lines, no echo, the transport's own bytes still
  // taken out. What was typed ahead as lines becomes keys again.
  void setRaw();
  bool raw() const { return raw_; }
  std::string takeKeys();

 protected:
  // What the caller typed, the transport's own bytes taken out. Answers
  // the echo that the caller may see; SHOWN false keeps it (a client that
  // has not let the board echo).
  void typed(std::string_view bytes, bool shown);
  std::string output_;

 private:
  void endLine();
  void eraseLast();
  void carry(std::string_view bytes);

  std::string partial_;
  bool partialCut_ = false;
  bool lastWasCr_ = false;  // a CR ended a line: a LF or NUL after it is part of it
  bool echo_ = true;
  bool utf8_ = false;
  Window window_;
  std::function<void(Window)> watchWindow_;
  std::deque<Line> lines_;
  bool raw_ = false;
  std::string keys_;  // raw: the caller's keys not yet taken
};

// The layer of a transport that carries the caller's keys as typed, with
// nothing of its own in the stream (SSH's channel, the web terminal).
class PlainLine : public LineLayer {
 public:
  void receive(std::string_view bytes) override { typed(bytes, true); }
  void send(std::string_view text) override { output_.append(text); }
};

}  // namespace board

// Fuzzes the board's telnet and line layer. The input is read as a list of
// pieces (data, negotiations, subnegotiations, other commands, a break
// between network reads), so the fuzzer reaches deep into the telnet state
// machine. Every byte inside a command is the marker '~', which no data
// piece ever sends: a line holding one took a byte from a command. Lines
// must also never pass the cap, the echo never outgrows what came in, and
// the lines never hold more than the bytes received (nothing is inflated).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/telnet/telnet.h"
#include "refusals.h"

namespace {

constexpr unsigned char kIac = 255, kSb = 250, kSe = 240, kMarker = '~';

struct Stream {
  std::vector<std::string> reads{std::string()};
  std::size_t size = 0;
  void put(unsigned char b) {
    reads.back() += static_cast<char>(b);
    ++size;
  }
};

// Builds the stream from the fuzzer's bytes, two at a time: a kind, a value.
Stream build(const std::uint8_t* data, std::size_t size) {
  Stream s;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const unsigned kind = data[i] % 8;
    unsigned char value = data[i + 1];
    switch (kind) {
      case 0:  // negotiation: WILL, WONT, DO or DONT an option
        s.put(kIac);
        s.put(static_cast<unsigned char>(251 + value % 4));
        s.put(value & 0x80 ? kMarker : value % 40);  // ECHO and SGA among them
        break;
      case 1:  // a subnegotiation of VALUE marker bytes, closed or not
        s.put(kIac);
        s.put(kSb);
        for (unsigned n = 0; n < value % 64u; ++n) s.put(kMarker);
        if (!(value & 0x80)) {
          s.put(kIac);
          s.put(kSe);
        }
        break;
      case 2:  // a two-byte command (NOP, AYT, IP, GA, ...)
        s.put(kIac);
        s.put(static_cast<unsigned char>(241 + value % 9));
        break;
      case 3:  // the network cuts here
        s.reads.emplace_back();
        break;
      case 4:  // a 255 sent as data
        s.put(kIac);
        s.put(kIac);
        break;
      default:  // a data byte: anything but the marker and a lone IAC
        if (value == kMarker || value == kIac) value = 'x';
        s.put(value);
        break;
    }
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Stream stream = build(data, size);
  board::TelnetLine t;
  t.start();
  std::size_t out = t.takeOutput().size();
  std::size_t taken = 0;  // each line's bytes and its end came from a byte received
  for (std::size_t n = 0; n < stream.reads.size(); ++n) {
    t.setEcho(n % 2 == 0);  // password prompts come and go between reads
    t.receive(stream.reads[n]);
    out += t.takeOutput().size();
    board::Line line;
    while (t.nextLine(&line)) {
      taken += line.text.size() + 1;
      if (line.text.size() > board::kLineCap) {
        fuzzFail("a line past the cap", std::to_string(line.text.size()) + " bytes");
      }
      if (line.text.find(static_cast<char>(kMarker)) != std::string::npos) {
        fuzzFail("a line holds a byte of a telnet command", line.text);
      }
      for (unsigned char c : line.text) {
        if (c < 0x20 || c == 0x7f) fuzzFail("a control byte in a line", line.text);
      }
    }
  }
  if (taken > stream.size) {
    fuzzFail("lines hold more than was received",
             std::to_string(taken) + " for " + std::to_string(stream.size));
  }
  // Echo is at most three bytes per byte received ("\b \b"), plus the
  // answers to negotiation, three bytes per three received.
  if (out > 3 * stream.size + 64) {
    fuzzFail("output outgrew the input",
             std::to_string(out) + " for " + std::to_string(stream.size));
  }
  return 0;
}

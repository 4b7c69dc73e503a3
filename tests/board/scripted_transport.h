// A transport driven by a test or a fuzz target in place of a caller:
// what the script types is handed to the call's reads, what the call
// writes is kept, and a stalled script stops taking output, as a caller
// who does not read.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "board/core/transport.h"

namespace board {

// What the test's caller does and sees. Reads are answered from `typed`;
// writes complete at once unless `stalled`, and are kept in `shown`.
struct Script {
  std::string typed, shown;
  bool stalled = false, shut = false, closed = false;
  std::string shownBeforeShut;  // what had arrived when the sending side was shut
};

class ScriptedTransport final : public Transport {
 public:
  // LINES: the layer the script's stream needs (plain text by default).
  ScriptedTransport(net::io_context& io, Script& script,
                    std::unique_ptr<LineLayer> lines = std::make_unique<PlainLine>())
      : io_(io), script_(script), lines_(std::move(lines)) {}
  const char* kind() const override { return "telnet"; }
  LineLayer& lines() override { return *lines_; }
  void read(net::mutable_buffer into, ReadDone done) override {
    into_ = into;
    readDone_ = std::move(done);
    poll();
  }
  void write(net::const_buffer bytes, WriteDone done) override {
    out_ = std::string(static_cast<const char*>(bytes.data()), bytes.size());
    writeDone_ = std::move(done);
    poll();
  }
  void shutSend() override {
    script_.shut = true;
    script_.shownBeforeShut = script_.shown;
  }
  void close() override {
    script_.closed = true;
    poll();
  }
  // Hands the script's typing and takes output, as far as it allows.
  void poll() {
    if (readDone_ && (script_.closed || !script_.typed.empty())) {
      const std::size_t n = std::min(into_.size(), script_.typed.size());
      std::copy_n(script_.typed.data(), n, static_cast<char*>(into_.data()));
      script_.typed.erase(0, n);
      post(std::exchange(readDone_, nullptr), n);
    }
    if (writeDone_ && (script_.closed || !script_.stalled)) {
      if (!script_.closed) script_.shown += out_;
      auto done = std::exchange(writeDone_, nullptr);
      const bool closed = script_.closed;
      net::post(io_,
                [done, closed] { done(closed ? net::error::connection_reset : error_code{}); });
    }
  }

 private:
  void post(ReadDone done, std::size_t n) {
    const bool closed = script_.closed;
    net::post(io_, [done, n, closed] {
      if (closed)
        done(net::error::eof, 0);
      else
        done({}, n);
    });
  }
  net::io_context& io_;
  Script& script_;
  std::unique_ptr<LineLayer> lines_;
  net::mutable_buffer into_;
  ReadDone readDone_;
  std::string out_;
  WriteDone writeDone_;
};

}  // namespace board

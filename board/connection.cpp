// A caller's connection: reading into the transport's line layer, a bounded output
// queue written as fast as the caller reads, and closing so that the last
// words arrive (queued text out, the sending side shut, the rest drained).
#include "board/board.h"

namespace board {

namespace {
constexpr auto kDrainTime = std::chrono::seconds(2);
}

Call::Call(Board& board, std::unique_ptr<Transport> transport, std::string address, std::string ip)
    : board_(board),
      transport_(std::move(transport)),
      timeout_(board.io()),
      address_(std::move(address)),
      ip_(std::move(ip)),
      talk_(board.config().talk) {}

void Call::turnAway(const char* why) {
  stage_ = Stage::Closing;
  write(why);
  closeAfterFlush();
}

void Call::write(std::string_view text) {
  if (shutSent_ || abandon_) return;
  lines().send(text);
  flushLines();
}

// Moves what the line layer has for the caller into the queue. A caller
// who lets more than the cap pile up is not reading: the call ends.
void Call::flushLines() {
  std::string out = lines().takeOutput();
  if (out.empty() || shutSent_) return;
  if (pending_.size() + inFlight_.size() + out.size() > kQueueCap) {
    simhost::trace("overflow " + std::to_string(channel_) + " " + simhost::quote(address_));
    pending_.clear();
    abandon_ = true;
    lost();
    return;
  }
  pending_ += out;
  sendQueued();
}

void Call::sendQueued() {
  if (writing_ || shutSent_) return;
  if (pending_.empty()) {
    if (stage_ == Stage::Closing) finishClose();
    return;
  }
  inFlight_.swap(pending_);
  pending_.clear();
  writing_ = true;
  transport_->write(net::buffer(inFlight_), [self = shared_from_this()](const error_code& error) {
    self->writing_ = false;
    self->inFlight_.clear();
    if (error) {
      self->lost();
      return;
    }
    self->sendQueued();
  });
}

void Call::read() {
  if (reading_ || shutSent_) return;
  reading_ = true;
  transport_->read(net::buffer(readBuffer_),
                   [self = shared_from_this()](const error_code& error, std::size_t size) {
                     self->reading_ = false;
                     if (error) self->peerGone_ = true;
                     if (self->shutSent_) {
                       // A read past the end would wait for an event
                       // that has come already.
                       if (error)
                         self->end();
                       else
                         self->drain();
                     } else if (error) {
                       // Closing, the queue still goes out; the
                       // drain that follows sees the end.
                       if (self->stage_ != Stage::Closing) self->lost();
                     } else {
                       self->received(size);
                     }
                   });
}

void Call::received(std::size_t size) {
  if (stage_ == Stage::Closing) return;
  lines().receive(std::string_view(readBuffer_.data(), size));
  flushLines();
  if (lines().failed()) {
    // The transport gave up on the stream (telnet: a subnegotiation past
    // its buffer, compression unasked): nothing more can be read from it.
    simhost::trace("garbled " + std::to_string(channel_) + " " + simhost::quote(address_));
    lost();
    return;
  }
  pump();
}

void Call::pump() {
  Line typed;
  // While a password is being checked the next lines wait in the layer,
  // and reading waits too, so nothing piles up. A read of many lines is
  // served a turn's worth at a time, so other callers are served between.
  const auto waiting = [this] { return stage_ == Stage::Checking || stage_ == Stage::Closing; };
  for (int served = 0; !waiting() && served < kLinesPerTurn && lines().nextLine(&typed); ++served) {
    line(typed);
  }
  if (waiting()) return;
  if (!lines().hasLines()) {
    read();
  } else if (!pumpPosted_) {
    pumpPosted_ = true;
    net::post(board_.io(), [self = shared_from_this()] {
      self->pumpPosted_ = false;
      self->pump();
    });
  }
}

// The connection broke, or must end at once: through the host's route when
// the call holds a channel, so the module hears of it. Posted, since a
// write that finds the queue full may run inside a module routine.
void Call::lost() {
  net::post(board_.io(), [self = shared_from_this()] {
    if (self->stage_ == Stage::Closing) {
      self->finishClose();
    } else if (self->channel_ >= 0) {
      self->board_.hangUp(self->channel_);  // the host calls closeAfterFlush back
    } else {
      self->closeAfterFlush();
    }
  });
}

void Call::closeAfterFlush() {
  stage_ = Stage::Closing;
  channel_ = -1;
  if (abandon_) {
    transport_->close();  // the pending handlers end the call
    finishClose();
    return;
  }
  // A caller who reads nothing more must not hold the call open.
  timeout_.expires_after(kDrainTime);
  timeout_.async_wait([self = shared_from_this()](const error_code& error) {
    if (error == net::error::operation_aborted) return;
    self->transport_->close();
  });
  sendQueued();  // finishes the close once the queue is empty
}

// Nothing left to send: shut the sending side and read what still comes
// for a moment, so the caller's stack never answers our last words with a
// reset that would throw them away.
void Call::finishClose() {
  if (shutSent_) return;
  shutSent_ = true;
  transport_->shutSend();
  timeout_.expires_after(kDrainTime);
  timeout_.async_wait([self = shared_from_this()](const error_code& error) {
    if (error == net::error::operation_aborted) return;
    self->transport_->close();
  });
  if (reading_) return;  // the pending read drains when it ends
  if (peerGone_)
    end();
  else
    drain();
}

void Call::drain() {
  transport_->read(net::buffer(readBuffer_),
                   [self = shared_from_this()](const error_code& error, std::size_t) {
                     if (!error) {
                       self->drain();
                       return;
                     }
                     self->end();
                   });
}

void Call::end() {
  timeout_.cancel();
  transport_->close();
  board_.forget(shared_from_this());
}

}  // namespace board

// A caller's connection: reading into the transport's line layer, a bounded
// output queue written as fast as the caller reads, and closing so that the
// last words arrive (queued text out, the sending side shut, the rest drained).
#include "board/caller/connection.h"

namespace board {

namespace {
constexpr auto kDrainTime = std::chrono::seconds(2);
}

Connection::Connection(net::io_context& io, std::unique_ptr<Transport> transport,
                       ConnectionOwner& owner, std::function<std::shared_ptr<void>()> keep)
    : io_(io),
      transport_(std::move(transport)),
      owner_(owner),
      keep_(std::move(keep)),
      closer_(io) {}

void Connection::write(std::string_view text) {
  if (shutSent_ || abandon_) return;
  lines().send(text);
  flushLines();
}

// Moves what the line layer has for the caller into the queue. A caller
// who lets more than the cap pile up is not reading: the call ends.
void Connection::flushLines() {
  std::string out = lines().takeOutput();
  if (out.empty() || shutSent_) return;
  if (pending_.size() + inFlight_.size() + out.size() > kQueueCap) {
    owner_.fault(simhost::EventKind::Overflow);
    pending_.clear();
    abandon_ = true;
    lost();
    return;
  }
  pending_ += out;
  sendQueued();
}

void Connection::sendQueued() {
  if (writing_ || shutSent_) return;
  if (pending_.empty()) {
    if (closing_) finishClose();
    return;
  }
  inFlight_.swap(pending_);
  pending_.clear();
  writing_ = true;
  transport_->write(net::buffer(inFlight_), [this, keep = keep_()](const error_code& error) {
    writing_ = false;
    inFlight_.clear();
    if (error) {
      lost();
      return;
    }
    sendQueued();
    owner_.sent();
    if (backedUp_ && queued() <= kBackedUp) {
      backedUp_ = false;
      pump();
    }
  });
}

void Connection::read() {
  if (reading_ || shutSent_) return;
  reading_ = true;
  transport_->read(net::buffer(readBuffer_),
                   [this, keep = keep_()](const error_code& error, std::size_t size) {
                     reading_ = false;
                     if (error) peerGone_ = true;
                     if (shutSent_) {
                       // A read past the end would wait for an event
                       // that has come already.
                       if (error)
                         end();
                       else
                         drain();
                     } else if (error) {
                       // Closing, the queue still goes out; the
                       // drain that follows sees the end.
                       if (!closing_) lost();
                     } else {
                       received(size);
                     }
                   });
}

void Connection::received(std::size_t size) {
  if (closing_) return;
  lines().receive(std::string_view(readBuffer_.data(), size));
  flushLines();
  if (lines().failed()) {
    // The transport gave up on the stream (telnet: a subnegotiation past
    // its buffer, compression unasked): nothing more can be read from it.
    owner_.fault(simhost::EventKind::Garbled);
    lost();
    return;
  }
  pump();
}

void Connection::pump() {
  Line typed;
  // While the owner holds (a password being checked) the next lines wait
  // in the layer, and reading waits too, so nothing piles up. A read of
  // many lines is served a turn's worth at a time, so other callers are
  // served between. While the caller's output backs up, his lines wait for
  // it to go (the write's end serves them).
  const auto waiting = [this] {
    backedUp_ = queued() > kBackedUp;
    return closing_ || owner_.holding() || backedUp_;
  };
  // Raw, the keys go as they came, and wait in the layer while the owner
  // holds (the board behind not reached, or not reading).
  if (lines().raw() && !waiting()) {
    const std::string keys = lines().takeKeys();
    if (!keys.empty()) owner_.keys(keys);
  }
  for (int served = 0; !waiting() && served < kLinesPerTurn && lines().nextLine(&typed); ++served) {
    owner_.typed(typed);
  }
  if (waiting()) return;
  if (!lines().hasLines()) {
    read();
  } else if (!pumpPosted_) {
    pumpPosted_ = true;
    net::post(io_, [this, keep = keep_()] {
      pumpPosted_ = false;
      pump();
    });
  }
}

// The connection broke, or must end at once. Posted, since a write that
// finds the queue full may run inside a module routine.
void Connection::lost() {
  net::post(io_, [this, keep = keep_()] {
    if (closing_)
      finishClose();
    else
      owner_.broken();
  });
}

void Connection::closeAfterFlush() {
  closing_ = true;
  if (abandon_) {
    transport_->close();  // the pending handlers end the call
    finishClose();
    return;
  }
  closeIn(kDrainTime);  // a caller who reads nothing more must not hold the call open
  sendQueued();         // finishes the close once the queue is empty
}

void Connection::closeIn(std::chrono::seconds after) {
  closer_.expires_after(after);
  closer_.async_wait([this, keep = keep_()](const error_code& error) {
    if (error != net::error::operation_aborted) transport_->close();
  });
}

// Nothing left to send: shut the sending side and read what still comes
// for a moment, so the caller's stack never answers our last words with a
// reset that would throw them away.
void Connection::finishClose() {
  if (shutSent_) return;
  shutSent_ = true;
  transport_->shutSend();
  closeIn(kDrainTime);
  if (reading_) return;  // the pending read drains when it ends
  if (peerGone_)
    end();
  else
    drain();
}

void Connection::drain() {
  transport_->read(net::buffer(readBuffer_),
                   [this, keep = keep_()](const error_code& error, std::size_t) {
                     if (!error) {
                       drain();
                       return;
                     }
                     end();
                   });
}

void Connection::end() {
  if (ended_) return;
  ended_ = true;
  closer_.cancel();
  transport_->close();
  owner_.finished();
}

}  // namespace board

// Where a sequencer device's events go. An output owns a clock and a thread
// that drives its clients: the built-in synthesizer from the audio callback,
// counting samples; a MIDI-OUT port from its scheduling thread against
// steady_clock. Several devices may share one output.
//
// Locking: the driving thread holds the output's own lock while it calls a
// client, so clients call attach/detach/wake without holding their locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "media/sequencer/player.h"

namespace plimra::seq {

class Output;

class OutputClient {
 public:
  virtual ~OutputClient() = default;
  // Sends what is due by `now + lookahead` (clock time of `from`) into
  // `sink`, at most `budget` messages, taking what it sent off the budget.
  // A play that was just started counts its time from `now`. Returns the
  // clock time of the client's next event, if it plays on `from` (at or
  // before `now` when the budget ran out first).
  virtual std::optional<uint64_t> runDue(const Output* from, uint64_t now, uint64_t lookahead,
                                         MidiSink& sink, size_t& budget) = 0;
};

class Output {
 public:
  virtual ~Output() = default;
  // The output's clock, in nanoseconds.
  virtual uint64_t now() const = 0;
  // Sends at once, from the calling thread (silence, state replay). An
  // output with fewer ports than the song carries the song's other ports on
  // its own, as a single-port device takes a two-port song.
  virtual void sendNow(std::span<const uint8_t> message, uint8_t port) = 0;
  // The song ports it tells apart: 1, or kPorts.
  virtual uint8_t ports() const { return 1; }
  virtual void attach(OutputClient* client) = 0;
  // After it returns the driving thread no longer uses `client`.
  virtual void detach(OutputClient* client) = 0;
  // The client's schedule changed: look at its next deadline again.
  virtual void wake() = 0;
  // `song` plays on from here (from its start, or after a pause, a jump or
  // a port change). The built-in synthesizer takes its bank mode from it.
  virtual void startsSong(const Song& /*song*/) {}

  // Sends through sendNow; for silence and state replay.
  class NowSink : public MidiSink {
   public:
    explicit NowSink(Output& out) : out_(out) {}
    void send(std::span<const uint8_t> m, uint8_t port, uint64_t) override {
      out_.sendNow(m, port);
    }

   private:
    Output& out_;
  };
};

}  // namespace plimra::seq

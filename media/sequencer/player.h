// The heart of the sequencer, free of threads and clocks: it knows where the
// song is and which event is due next, given the time of some clock in
// nanoseconds. The built-in synthesizer drives it from its sample counter,
// a MIDI-OUT port from steady_clock, a test from numbers it chooses.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "media/sequencer/song.h"

namespace plimra::seq {

namespace midi {
inline constexpr uint8_t kNoteOff = 0x80;
inline constexpr uint8_t kNoteOn = 0x90;
inline constexpr uint8_t kControlChange = 0xB0;
inline constexpr uint8_t kSysEx = 0xF0;
inline constexpr uint8_t kVolume = 7;
inline constexpr uint8_t kSustain = 64;
inline constexpr uint8_t kAllSoundOff = 120;
inline constexpr uint8_t kAllNotesOff = 123;
// What devices without release velocity assume.
inline constexpr uint8_t kReleaseVelocity = 64;
}  // namespace midi

class MidiSink {
 public:
  virtual ~MidiSink() = default;
  // One complete message (a SysEx whole) for `port` (below kPorts).
  // `deadline` is the clock time the message was due at; messages sent
  // "now" carry the current time.
  virtual void send(std::span<const uint8_t> message, uint8_t port, uint64_t deadline) = 0;
};

// All Notes Off, All Sound Off and sustain off on all 16 channels of the
// first `ports` ports.
void sendSilence(MidiSink& sink, uint64_t now, uint8_t ports);

// What the song has set on each channel of both ports, so that another
// output (after a port change) or the same one (after pause or a jump) can
// be brought to the same state.
class ChannelState {
 public:
  ChannelState() { clear(); }
  void clear();
  void record(std::span<const uint8_t> message, uint8_t port);
  // Controllers, RPN/NRPN selection and data, program, pitch bend, pressure.
  // Over `current` (the state the output is in), what it set and this
  // state did not goes back to its value after a reset first.
  void replay(MidiSink& sink, uint64_t now, const ChannelState* current = nullptr) const;
  // A controller's value on a channel of a port, or -1 when never set.
  int controller(uint8_t port, uint8_t channel, uint8_t number) const {
    return ch_[(port % kPorts) * kChannelsPerPort + channel % kChannelsPerPort].cc[number & 0x7F];
  }

 private:
  struct Channel {
    std::array<int16_t, 128> cc;
    int16_t program;
    int16_t pressure;
    int32_t bend;
  };
  std::array<Channel, kPorts * kChannelsPerPort> ch_;
};

// The notes the song has started and not yet ended, on each port and
// channel. Some sound modules ignore All Notes Off and All Sound Off, so a
// stop ends each of these notes with a note-off of its own first; for the
// same reason a song's own All Notes Off does not count as ending them.
class SoundingNotes {
 public:
  // Called for every message the song sends: cheap enough for that.
  void record(std::span<const uint8_t> message, uint8_t port) {
    if (message.size() < 3) return;
    const uint8_t kind = message[0] & 0xF0;
    if (kind != midi::kNoteOn && kind != midi::kNoteOff) return;
    const uint8_t key = message[1] & 0x7F;
    uint64_t& keys = on_[(port % kPorts) * kChannelsPerPort + (message[0] & 0x0F)][key >> 6];
    const uint64_t bit = uint64_t{1} << (key & 63);
    // A note-on of velocity 0 is a note-off.
    if (kind == midi::kNoteOn && message[2] != 0)
      keys |= bit;
    else
      keys &= ~bit;
  }
  // A note-off for each sounding note (at most one per key and channel of
  // each port), then forgets them. An output with a single port carries
  // both ports' channels on it: a note sounding on both gets one note-off.
  void release(MidiSink& sink, uint64_t now, uint8_t ports);

 private:
  std::array<std::array<uint64_t, 2>, kPorts * kChannelsPerPort> on_{};
};

// Where a song is at a given clock time: a copy small enough to take under
// a short lock, so that status queries never wait for the thread that plays.
struct PlayClock {
  bool running = false;
  bool unanchored = false;
  uint64_t pos = 0;     // song position at clock time `anchor` (or while halted)
  uint64_t anchor = 0;  // clock time
  uint64_t end = 0;
  uint64_t position(uint64_t now) const {
    if (!running || unanchored) return pos;
    const uint64_t elapsed = now > anchor ? now - anchor : 0;
    return std::min(addSaturated(pos, elapsed), end);
  }
};

// What the song has set by some position, and the first event after it:
// worked out without touching a player, so that a seek in a long song holds
// no lock while it walks the events.
struct Located {
  std::shared_ptr<const Song> song;
  uint64_t pos = 0;
  size_t next = 0;
  ChannelState state;
  // The song's SysEx events before `pos` (indices), the latest
  // kMaxKeptSysEx of them: what a return to `pos` may have to send again.
  std::vector<size_t> sysex;
  static constexpr size_t kMaxKeptSysEx = 256;
};
Located locateIn(std::shared_ptr<const Song> song, uint64_t songNs);

// A song's loop section, ready to go round: where a pass starts (with what
// the song has set by then) and where it ends.
struct Loop {
  Located start;
  uint64_t endNs = 0;
  // The section sends SysEx of its own, so a return to its start sends the
  // SysEx before the start again; else those are still in force.
  bool sysexInside = false;
};
// Works a song's loop out; null when the song has none. Walks the song up to
// the loop start: not for a thread that must keep time.
std::shared_ptr<const Loop> loopOf(std::shared_ptr<const Song> song);

// Passes of the loop section in all, and the fade that follows them.
inline constexpr int kLoopPasses = 3;
inline constexpr uint64_t kLoopFadeNs = 8'000'000'000;
// Volume steps of the fade: 62.5 ms apart, each a change of at most one in
// a channel's volume controller.
inline constexpr uint64_t kLoopFadeSteps = 128;

class Player {
 public:
  Player() { fadeSent_.fill(-1); }
  void setSong(std::shared_ptr<const Song> song);
  const std::shared_ptr<const Song>& song() const { return song_; }
  uint64_t length() const { return song_ ? song_->lengthNs : 0; }

  bool running() const { return running_; }
  uint64_t position(uint64_t now) const;
  uint64_t endPosition() const { return end_; }

  // Moves the song position while not running; the channel state becomes
  // what the song has set before that point.
  void locate(uint64_t songNs);
  // The same with the work done beforehand (for the same song).
  void locate(Located&& at);
  PlayClock clock() const { return {running_, unanchored_, pos_, anchor_, end_}; }
  // Runs from the current position up to `end`, from clock time `now`, or
  // when absent from the time of the next step(): the thread that drives
  // the output then picks the start, so no event of it is already late.
  void start(std::optional<uint64_t> now, uint64_t end);
  // Where a running play ends (not before the position it started from).
  void setEnd(uint64_t end) { end_ = std::clamp(end, pos_, length()); }
  // Stops running and keeps the position reached at `now`.
  void halt(uint64_t now);
  // Halts at `now`, ends every note the song left sounding, then silences
  // every channel of an output with `ports` ports (and undoes a fade's
  // volume changes).
  void silence(MidiSink& sink, uint64_t now, uint8_t ports);
  // The ports of the output it plays on: what a jump or a fade addresses.
  void setOutputPorts(uint8_t ports) { ports_ = std::clamp<uint8_t>(ports, 1, kPorts); }
  // Brings an output to the song's state (a fade's volume included).
  void restore(MidiSink& sink, uint64_t now);

  // With a loop (of this song) set, a play that reaches its end goes back to
  // its start, restoring the channels' state there, kLoopPasses - 1 times;
  // at the next end it goes back once more and fades out over kLoopFadeNs,
  // still going round, then finishes. A play from beyond the loop end, or
  // one that ends before it, plays straight on. Null: no loop; a fade under
  // way stops (its volume changes undone through `sink`).
  void setLoop(std::shared_ptr<const Loop> loop, uint64_t now, MidiSink& sink);

  // Clock time of the next thing to do (an event or the end), if running.
  std::optional<uint64_t> nextDeadline() const;
  enum class Step { Idle, Sent, Finished };
  // Does the next thing if it is due by `now + lookahead`.
  Step step(uint64_t now, MidiSink& sink, uint64_t lookahead = 0);

  const ChannelState& state() const { return state_; }

 private:
  bool eventInRange(const Song::Event& e) const;
  bool loopArmed() const { return loop_ && armed_ && loop_->endNs <= end_; }
  std::optional<uint64_t> fadeDeadline() const;
  // Goes back to the loop start at clock time `at`.
  void jump(MidiSink& sink, uint64_t at);
  // Sends the fade's volume for its current step where it changed.
  void sendFadeVolumes(MidiSink& sink, uint64_t at);
  // Undoes the fade's volume changes: each channel's own volume again.
  void endFade(MidiSink& sink, uint64_t at);
  void forgetLoopProgress();

  std::shared_ptr<const Song> song_;
  ChannelState state_;
  // What the output held when the song was last moved (until the state at
  // the new place has been sent): what it set later is undone there.
  ChannelState beforeMove_;
  bool moved_ = false;
  SoundingNotes notes_;
  size_t next_ = 0;
  bool running_ = false;
  bool unanchored_ = false;  // started, waiting for its first step
  uint64_t pos_ = 0;         // song position at clock time anchor_ (or while halted)
  uint64_t anchor_ = 0;      // clock time
  uint64_t end_ = 0;
  uint8_t ports_ = kPorts;

  std::shared_ptr<const Loop> loop_;
  bool armed_ = false;  // the play has not passed the loop end
  int jumps_ = 0;
  bool fading_ = false;
  // Fade time played before clock time anchor_ (the fade's steps fall on
  // its own time, which a pause stops and a jump goes on counting).
  uint64_t fadeBeforeAnchor_ = 0;
  uint64_t fadeStep_ = 0;
  // The volume last sent on each channel while fading, or -1.
  std::array<int16_t, kPorts * kChannelsPerPort> fadeSent_;
  friend class FadingSink;
};

}  // namespace plimra::seq

#include "media/sequencer/player.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace plimra::seq {

void sendSilence(MidiSink& sink, uint64_t now, uint8_t ports) {
  for (uint8_t port = 0; port < ports; ++port) {
    for (uint8_t ch = 0; ch < kChannelsPerPort; ++ch) {
      const uint8_t status = midi::kControlChange | ch;
      const uint8_t notesOff[] = {status, midi::kAllNotesOff, 0};
      const uint8_t soundOff[] = {status, midi::kAllSoundOff, 0};
      const uint8_t sustainOff[] = {status, midi::kSustain, 0};
      sink.send(notesOff, port, now);
      sink.send(soundOff, port, now);
      sink.send(sustainOff, port, now);
    }
  }
}

void SoundingNotes::release(MidiSink& sink, uint64_t now, uint8_t ports) {
  ports = std::clamp<uint8_t>(ports, 1, kPorts);
  for (uint8_t port = 0; port < ports; ++port) {
    for (uint8_t ch = 0; ch < kChannelsPerPort; ++ch) {
      for (uint8_t half = 0; half < 2; ++half) {
        // The song's ports beyond the output's land on its ports again.
        uint64_t keys = 0;
        for (uint8_t from = port; from < kPorts; from += ports) {
          keys |= on_[from * kChannelsPerPort + ch][half];
          on_[from * kChannelsPerPort + ch][half] = 0;
        }
        for (; keys != 0; keys &= keys - 1) {
          const uint8_t key = static_cast<uint8_t>(half * 64 + std::countr_zero(keys));
          const uint8_t off[] = {static_cast<uint8_t>(midi::kNoteOff | ch), key,
                                 midi::kReleaseVelocity};
          sink.send(off, port, now);
        }
      }
    }
  }
}

void ChannelState::clear() {
  for (auto& c : ch_) {
    c.cc.fill(-1);
    c.program = -1;
    c.pressure = -1;
    c.bend = -1;
  }
}

void ChannelState::record(std::span<const uint8_t> m, uint8_t port) {
  if (m.size() < 2 || m[0] < 0x80 || m[0] >= 0xF0) return;
  Channel& c = ch_[(port % kPorts) * kChannelsPerPort + (m[0] & 0x0F)];
  switch (m[0] & 0xF0) {
    case 0xB0:
      // Channel mode messages (120-127) are commands, not state.
      if (m.size() >= 3 && m[1] < 120) c.cc[m[1]] = m[2];
      break;
    case 0xC0:
      c.program = m[1];
      break;
    case 0xD0:
      c.pressure = m[1];
      break;
    case 0xE0:
      if (m.size() >= 3) c.bend = m[1] | (m[2] << 7);
      break;
    default:
      break;
  }
}

namespace {
// What a reset leaves a controller at, or -1 for those it does not define
// or that would write to a parameter (data entry).
int valueAfterReset(uint8_t n) {
  switch (n) {
    case 7:
      return 100;  // volume
    case 8:
    case 10:
      return 64;  // balance, pan
    case 11:
      return 127;  // expression
    case 91:
      return 40;  // reverb send
    case 98:
    case 99:
    case 100:
    case 101:
      return 127;  // no parameter selected
    case 0:
    case 1:
    case 2:
    case 4:
    case 5:
    case 32:
    case 64:
    case 65:
    case 66:
    case 67:
    case 68:
    case 69:
    case 84:
    case 93:
      return 0;  // bank, modulation, breath, foot, portamento, pedals, chorus
    default:
      return -1;
  }
}
constexpr int kBendCentre = 0x2000;
}  // namespace

void ChannelState::replay(MidiSink& sink, uint64_t now, const ChannelState* current) const {
  // Parameter numbers and data entry go last and in that order, so the data
  // lands on the parameter that was last selected.
  static constexpr uint8_t kParamLast[] = {99, 98, 101, 100, 6, 38};
  auto isParam = [](int n) {
    return std::find(std::begin(kParamLast), std::end(kParamLast), n) != std::end(kParamLast) ||
           n == 96 || n == 97;
  };
  for (uint8_t i = 0; i < ch_.size(); ++i) {
    const Channel& c = ch_[i];
    const uint8_t port = i / kChannelsPerPort;
    const uint8_t ch = i % kChannelsPerPort;
    auto cc = [&](uint8_t n) {
      if (c.cc[n] < 0) return;
      const uint8_t msg[] = {static_cast<uint8_t>(0xB0 | ch), n, static_cast<uint8_t>(c.cc[n])};
      sink.send(msg, port, now);
    };
    if (current) {
      // A later pitch bend or modulation must not carry over to a place
      // before it.
      const Channel& was = current->ch_[i];
      for (uint8_t n = 0; n < 120; ++n) {
        const int value = valueAfterReset(n);
        if (c.cc[n] >= 0 || was.cc[n] < 0 || value < 0) continue;
        const uint8_t msg[] = {static_cast<uint8_t>(0xB0 | ch), n, static_cast<uint8_t>(value)};
        sink.send(msg, port, now);
      }
      if (c.program < 0 && was.program >= 0) {
        const uint8_t msg[] = {static_cast<uint8_t>(0xC0 | ch), 0};
        sink.send(msg, port, now);
      }
      if (c.bend < 0 && was.bend >= 0) {
        const uint8_t msg[] = {static_cast<uint8_t>(0xE0 | ch), kBendCentre & 0x7F,
                               kBendCentre >> 7};
        sink.send(msg, port, now);
      }
      if (c.pressure < 0 && was.pressure >= 0) {
        const uint8_t msg[] = {static_cast<uint8_t>(0xD0 | ch), 0};
        sink.send(msg, port, now);
      }
    }
    // Bank select before the program change it qualifies.
    for (uint8_t n = 0; n < 120; ++n)
      if (!isParam(n)) cc(n);
    if (c.program >= 0) {
      const uint8_t msg[] = {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(c.program)};
      sink.send(msg, port, now);
    }
    for (uint8_t n : kParamLast) cc(n);
    if (c.bend >= 0) {
      const uint8_t msg[] = {static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(c.bend & 0x7F),
                             static_cast<uint8_t>(c.bend >> 7)};
      sink.send(msg, port, now);
    }
    if (c.pressure >= 0) {
      const uint8_t msg[] = {static_cast<uint8_t>(0xD0 | ch), static_cast<uint8_t>(c.pressure)};
      sink.send(msg, port, now);
    }
  }
}

void Player::setSong(std::shared_ptr<const Song> song) {
  song_ = std::move(song);
  loop_ = nullptr;
  running_ = false;
  end_ = length();
  locate(0);
  // A new song starts from what its own events and the reset song set, as
  // it always has: nothing of the last song is undone for it.
  moved_ = false;
}

uint64_t Player::position(uint64_t now) const { return clock().position(now); }

Located locateIn(std::shared_ptr<const Song> song, uint64_t songNs) {
  Located at;
  at.song = std::move(song);
  if (!at.song) return at;
  at.pos = std::min(songNs, at.song->lengthNs);
  const auto& ev = at.song->events;
  for (; at.next < ev.size() && ev[at.next].ns < at.pos; ++at.next) {
    const auto data = at.song->data(ev[at.next]);
    at.state.record(data, ev[at.next].port);
    if (data[0] != midi::kSysEx) continue;
    at.sysex.push_back(at.next);
    if (at.sysex.size() == 2 * Located::kMaxKeptSysEx)
      at.sysex.erase(at.sysex.begin(), at.sysex.begin() + Located::kMaxKeptSysEx);
  }
  if (at.sysex.size() > Located::kMaxKeptSysEx)
    at.sysex.erase(at.sysex.begin(),
                   at.sysex.end() - static_cast<ptrdiff_t>(Located::kMaxKeptSysEx));
  return at;
}

std::shared_ptr<const Loop> loopOf(std::shared_ptr<const Song> song) {
  if (!song || !song->loop) return nullptr;
  auto loop = std::make_shared<Loop>();
  loop->endNs = song->loop->endNs;
  loop->start = locateIn(song, song->loop->startNs);
  const auto& ev = song->events;
  for (size_t i = loop->start.next; i < ev.size() && ev[i].ns < loop->endNs; ++i) {
    if (song->data(ev[i])[0] == midi::kSysEx) {
      loop->sysexInside = true;
      break;
    }
  }
  return loop;
}

void Player::locate(uint64_t songNs) { locate(locateIn(song_, songNs)); }

void Player::locate(Located&& at) {
  running_ = false;
  unanchored_ = false;
  if (at.song != song_) at = locateIn(song_, at.pos);
  pos_ = at.pos;
  next_ = at.next;
  // The output still holds what it last got, however often the song moves
  // before it plays again.
  if (!std::exchange(moved_, true)) beforeMove_ = state_;
  state_ = at.state;
  // A jump starts the count of passes afresh.
  forgetLoopProgress();
  armed_ = loop_ && pos_ < loop_->endNs;
}

void Player::forgetLoopProgress() {
  jumps_ = 0;
  fading_ = false;
  fadeStep_ = 0;
  fadeBeforeAnchor_ = 0;
  fadeSent_.fill(-1);
}

void Player::setLoop(std::shared_ptr<const Loop> loop, uint64_t now, MidiSink& sink) {
  if (loop && loop->start.song != song_) loop = nullptr;
  if (!loop) {
    endFade(sink, now);
    forgetLoopProgress();
    loop_ = nullptr;
    armed_ = false;
    return;
  }
  loop_ = std::move(loop);
  armed_ = position(now) < loop_->endNs;
}

void Player::start(std::optional<uint64_t> now, uint64_t end) {
  if (!song_) return;
  setEnd(end);
  anchor_ = now.value_or(0);
  unanchored_ = !now;
  running_ = true;
}

void Player::halt(uint64_t now) {
  if (!running_) return;
  if (fading_ && !unanchored_ && now > anchor_) fadeBeforeAnchor_ += now - anchor_;
  pos_ = position(now);
  running_ = false;
  unanchored_ = false;
}

void Player::silence(MidiSink& sink, uint64_t now, uint8_t ports) {
  halt(now);
  notes_.release(sink, now, ports);
  sendSilence(sink, now, ports);
  endFade(sink, now);
}

bool Player::eventInRange(const Song::Event& e) const {
  // A play to the very end includes the events on the last tick.
  return e.ns < end_ || end_ == length();
}

namespace {
// The fade's volume at a step: the channel's own, scaled down evenly.
uint8_t fadedVolume(int volume, uint64_t step) {
  const uint64_t left = kLoopFadeSteps - std::min(step, kLoopFadeSteps);
  return static_cast<uint8_t>((uint64_t(volume) * left + kLoopFadeSteps / 2) / kLoopFadeSteps);
}
// A channel's volume when the song has not set it: what a reset leaves.
constexpr int kVolumeAfterReset = 100;
}  // namespace

// Scales the song's own volume messages while a fade is under way.
class FadingSink : public MidiSink {
 public:
  FadingSink(Player& player, MidiSink& to) : player_(player), to_(to) {}
  void send(std::span<const uint8_t> m, uint8_t port, uint64_t deadline) override {
    if (!player_.fading_ || m.size() != 3 || (m[0] & 0xF0) != midi::kControlChange ||
        m[1] != midi::kVolume) {
      to_.send(m, port, deadline);
      return;
    }
    const uint8_t scaled[] = {m[0], m[1], fadedVolume(m[2], player_.fadeStep_)};
    player_.fadeSent_[(port % kPorts) * kChannelsPerPort + (m[0] & 0x0F)] = scaled[2];
    to_.send(scaled, port, deadline);
  }

 private:
  Player& player_;
  MidiSink& to_;
};

void Player::restore(MidiSink& sink, uint64_t now) {
  FadingSink fading(*this, sink);
  // After a move back, a pitch bend or controller the song sets only later
  // goes back to what a reset leaves it at.
  state_.replay(fading, now, std::exchange(moved_, false) ? &beforeMove_ : nullptr);
  if (fading_) sendFadeVolumes(sink, now);
}

void Player::sendFadeVolumes(MidiSink& sink, uint64_t at) {
  for (uint8_t port = 0; port < ports_; ++port) {
    for (uint8_t ch = 0; ch < kChannelsPerPort; ++ch) {
      const int own = state_.controller(port, ch, midi::kVolume);
      const uint8_t volume = fadedVolume(own < 0 ? kVolumeAfterReset : own, fadeStep_);
      int16_t& sent = fadeSent_[port * kChannelsPerPort + ch];
      if (sent == volume) continue;
      sent = volume;
      const uint8_t msg[] = {static_cast<uint8_t>(midi::kControlChange | ch), midi::kVolume,
                             volume};
      sink.send(msg, port, at);
    }
  }
}

void Player::endFade(MidiSink& sink, uint64_t at) {
  for (uint8_t i = 0; i < fadeSent_.size(); ++i) {
    if (fadeSent_[i] < 0) continue;
    fadeSent_[i] = -1;
    const uint8_t port = i / kChannelsPerPort, ch = i % kChannelsPerPort;
    const int own = state_.controller(port, ch, midi::kVolume);
    const uint8_t msg[] = {static_cast<uint8_t>(midi::kControlChange | ch), midi::kVolume,
                           static_cast<uint8_t>(own < 0 ? kVolumeAfterReset : own)};
    sink.send(msg, port, at);
  }
}

std::optional<uint64_t> Player::fadeDeadline() const {
  if (!running_ || unanchored_ || !fading_) return std::nullopt;
  const uint64_t due = (fadeStep_ + 1) * (kLoopFadeNs / kLoopFadeSteps);
  return addSaturated(anchor_, due > fadeBeforeAnchor_ ? due - fadeBeforeAnchor_ : 0);
}

std::optional<uint64_t> Player::nextDeadline() const {
  if (!running_) return std::nullopt;
  if (unanchored_) return 0;
  const auto& ev = song_->events;
  const bool looping = loopArmed();
  uint64_t songTime = looping ? loop_->endNs : end_;
  if (next_ < ev.size() && eventInRange(ev[next_]) && (!looping || ev[next_].ns < loop_->endNs))
    songTime = ev[next_].ns;
  // An event left behind by a pause is due at once.
  const uint64_t due = addSaturated(anchor_, songTime > pos_ ? songTime - pos_ : 0);
  const auto fade = fadeDeadline();
  return fade ? std::min(due, *fade) : due;
}

void Player::jump(MidiSink& sink, uint64_t at) {
  notes_.release(sink, at, ports_);
  if (fading_) {
    fadeBeforeAnchor_ += at - anchor_;
  } else if (++jumps_ == kLoopPasses) {
    // The last pass goes round once more, fading.
    fading_ = true;
    fadeStep_ = 0;
    fadeBeforeAnchor_ = 0;
  }
  const Loop& loop = *loop_;
  if (loop.sysexInside)
    for (size_t i : loop.start.sysex) {
      const Song::Event& e = song_->events[i];
      sink.send(song_->data(e), e.port, at);
    }
  loop.start.state.replay(sink, at, &state_);
  state_ = loop.start.state;
  next_ = loop.start.next;
  pos_ = loop.start.pos;
  anchor_ = at;
}

Player::Step Player::step(uint64_t now, MidiSink& out, uint64_t lookahead) {
  if (running_ && unanchored_) {
    anchor_ = now;
    unanchored_ = false;
  }
  const auto deadline = nextDeadline();
  if (!deadline || *deadline > addSaturated(now, lookahead)) return Step::Idle;
  if (const auto fade = fadeDeadline(); fade && *fade == *deadline) {
    if (++fadeStep_ < kLoopFadeSteps) {
      sendFadeVolumes(out, *deadline);
      return Step::Sent;
    }
    // Faded out: the song ends here, its channels at their own volume.
    notes_.release(out, *deadline, ports_);
    sendSilence(out, *deadline, ports_);
    endFade(out, *deadline);
    forgetLoopProgress();
    armed_ = false;
    running_ = false;
    pos_ = end_;
    return Step::Finished;
  }
  FadingSink sink(*this, out);
  const auto& ev = song_->events;
  const bool looping = loopArmed();
  if (next_ < ev.size() && eventInRange(ev[next_]) && (!looping || ev[next_].ns < loop_->endNs)) {
    const Song::Event& e = ev[next_++];
    const auto data = song_->data(e);
    state_.record(data, e.port);
    notes_.record(data, e.port);
    sink.send(data, e.port, *deadline);
    return Step::Sent;
  }
  if (looping) {
    jump(sink, *deadline);
    return Step::Sent;
  }
  running_ = false;
  pos_ = end_;
  return Step::Finished;
}

}  // namespace plimra::seq

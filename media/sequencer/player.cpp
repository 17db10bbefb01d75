#include "media/sequencer/player.h"

#include <algorithm>
#include <bit>

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

void ChannelState::replay(MidiSink& sink, uint64_t now) const {
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
  running_ = false;
  end_ = length();
  locate(0);
}

uint64_t Player::position(uint64_t now) const { return clock().position(now); }

Located locateIn(std::shared_ptr<const Song> song, uint64_t songNs) {
  Located at;
  at.song = std::move(song);
  if (!at.song) return at;
  at.pos = std::min(songNs, at.song->lengthNs);
  const auto& ev = at.song->events;
  for (; at.next < ev.size() && ev[at.next].ns < at.pos; ++at.next)
    at.state.record(at.song->data(ev[at.next]), ev[at.next].port);
  return at;
}

void Player::locate(uint64_t songNs) { locate(locateIn(song_, songNs)); }

void Player::locate(Located&& at) {
  running_ = false;
  unanchored_ = false;
  if (at.song != song_) at = locateIn(song_, at.pos);
  pos_ = at.pos;
  next_ = at.next;
  state_ = at.state;
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
  pos_ = position(now);
  running_ = false;
  unanchored_ = false;
}

void Player::silence(MidiSink& sink, uint64_t now, uint8_t ports) {
  halt(now);
  notes_.release(sink, now, ports);
  sendSilence(sink, now, ports);
}

bool Player::eventInRange(const Song::Event& e) const {
  // A play to the very end includes the events on the last tick.
  return e.ns < end_ || end_ == length();
}

std::optional<uint64_t> Player::nextDeadline() const {
  if (!running_) return std::nullopt;
  if (unanchored_) return 0;
  const auto& ev = song_->events;
  const uint64_t songTime = (next_ < ev.size() && eventInRange(ev[next_])) ? ev[next_].ns : end_;
  // An event left behind by a pause is due at once.
  return addSaturated(anchor_, songTime > pos_ ? songTime - pos_ : 0);
}

Player::Step Player::step(uint64_t now, MidiSink& sink, uint64_t lookahead) {
  if (running_ && unanchored_) {
    anchor_ = now;
    unanchored_ = false;
  }
  const auto deadline = nextDeadline();
  if (!deadline || *deadline > addSaturated(now, lookahead)) return Step::Idle;
  const auto& ev = song_->events;
  if (next_ < ev.size() && eventInRange(ev[next_])) {
    const Song::Event& e = ev[next_++];
    const auto data = song_->data(e);
    state_.record(data, e.port);
    notes_.record(data, e.port);
    sink.send(data, e.port, *deadline);
    return Step::Sent;
  }
  running_ = false;
  pos_ = end_;
  return Step::Finished;
}

}  // namespace plimra::seq

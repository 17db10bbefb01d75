#include "media/sequencer/builtin_synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace plimra::seq {

namespace {

std::atomic<bool> gOffline{false};

// Loud enough to sit beside other programs; the library's default of 0.2 is
// far too quiet, and much more than this clips on dense songs.
constexpr double kGain = 0.7;

// Loud GM programs at full velocity still pass full scale now and then;
// above this level the signal bends smoothly towards full scale instead of
// being cut off hard by the output.
constexpr float kKnee = 0.75f;

float soften(float v) {
  const float a = std::fabs(v);
  if (a <= kKnee) return v;
  const float bent = kKnee + (1.0f - kKnee) * std::tanh((a - kKnee) / (1.0f - kKnee));
  return std::copysign(bent, v);
}

}  // namespace

std::string findSoundFont() {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (const char* env = std::getenv("PLIMRA_SOUNDFONT"); env && *env) {
    if (fs::is_regular_file(env, ec)) return env;
  }
  // Larger General MIDI sets first; the small one that is always installed
  // last.
  static const char* const kCandidates[] = {
      "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf3/FluidR3_GM.sf3",
      "/usr/share/soundfonts/FluidR3_GM.sf2", "/usr/share/sounds/sf2/default-GM.sf2",
      "/usr/share/sounds/sf3/default-GM.sf3", "/usr/share/soundfonts/default.sf2",
      "/usr/share/sounds/sf2/TimGM6mb.sf2",
  };
  for (const char* p : kCandidates)
    if (fs::is_regular_file(p, ec)) return fs::canonical(p, ec).string();
  return {};
}

void BuiltinSynth::setOffline(bool offline) { gOffline = offline; }

namespace {
std::mutex gInstanceMutex;
// Never destroyed: the audio thread may still pull it while the program
// ends, and the audio output's own lifetime ends at an unknown point.
auto* const gInstance = new std::shared_ptr<BuiltinSynth>();
}  // namespace

std::shared_ptr<BuiltinSynth> BuiltinSynth::existing() {
  std::lock_guard lk(gInstanceMutex);
  return *gInstance;
}

std::shared_ptr<BuiltinSynth> BuiltinSynth::shared() {
  auto* instance = gInstance;
  std::lock_guard lk(gInstanceMutex);
  if (!*instance) {
    instance->reset(new BuiltinSynth());
    if (!gOffline) audio::AudioOutput::instance().addSource(instance->get());
  }
  return *instance;
}

BuiltinSynth::BuiltinSynth() {
  fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
  fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
  fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  settings_ = new_fluid_settings();
  fluid_settings_setnum(settings_, "synth.sample-rate", audio::kSampleRate);
  fluid_settings_setnum(settings_, "synth.gain", kGain);
  // GS sound modules answer to device 0x10; GM System On is broadcast (0x7F)
  // and taken by any id.
  fluid_settings_setint(settings_, "synth.device-id", 0x10);
  // Twice the voices of the GS modules these songs were written for. At the
  // library's 256 a burst of notes made every voice sound at once, and
  // rendering them took more than half of an audio period.
  fluid_settings_setint(settings_, "synth.polyphony", 128);
  // Both ports of a two-port song: port B's channels follow port A's.
  fluid_settings_setint(settings_, "synth.midi-channels", kPorts * kChannelsPerPort);
  synth_ = new_fluid_synth(settings_);
  scratch_.resize(1024 * 2);
  edge_ = static_cast<uint64_t>(std::max(1, fluid_synth_get_internal_bufsize(synth_)));
  const std::string fontPath = findSoundFont();
  if (fontPath.empty()) {
    problem_ = kNoSoundFont;
  } else if (fluid_synth_sfload(synth_, fontPath.c_str(), 1) == FLUID_FAILED) {
    problem_ = "The SoundFont \"" + fontPath + "\" could not be loaded.";
  }
  setPortBDrums();
}

BuiltinSynth::~BuiltinSynth() {
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

uint64_t BuiltinSynth::nanosOfSample(uint64_t sample) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(sample) * 1'000'000'000u /
                               audio::kSampleRate);
}

uint64_t BuiltinSynth::sampleOfNanos(uint64_t ns) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(ns) * audio::kSampleRate;
  return static_cast<uint64_t>((scaled + 999'999'999u) / 1'000'000'000u);
}

uint64_t BuiltinSynth::now() const { return nanosOfSample(samples()); }

void BuiltinSynth::sendNow(std::span<const uint8_t> m, uint8_t port) { deliver(m, port); }

namespace {

constexpr int kPortBDrumChannel = kChannelsPerPort + 9;

// SysEx bodies (without F0 and F7): maker or kind, device, model, command.
constexpr uint8_t kUniversalNonRealTime = 0x7E, kGeneralMidi = 0x09;
constexpr uint8_t kRoland = 0x41, kGsModel = 0x42, kGsDataSet = 0x12;
constexpr uint8_t kYamaha = 0x43, kXgModel = 0x4C;

bool isGsDataSet(std::span<const uint8_t> b) {
  return b.size() >= 8 && b[0] == kRoland && b[2] == kGsModel && b[3] == kGsDataSet;
}

// The messages that reset the whole synthesizer: GM System On (and GM2),
// GS Reset (address 40 00 7F, or its GM mode), XG System On.
bool resetsSystem(std::span<const uint8_t> b) {
  return (b.size() == 4 && b[0] == kUniversalNonRealTime && b[2] == kGeneralMidi &&
          (b[3] == 0x01 || b[3] == 0x03)) ||
         (b.size() == 9 && isGsDataSet(b) && b[4] == 0x40 && b[5] == 0x00 && b[6] == 0x7F) ||
         (b.size() == 7 && b[0] == kYamaha && b[2] == kXgModel && b[3] == 0x00 && b[4] == 0x00 &&
          (b[5] == 0x7E || b[5] == 0x7F));
}

// A GS message to one part: address 40 1x yy, x the part's block.
bool addressesGsPart(std::span<const uint8_t> b) {
  return isGsDataSet(b) && b[4] == 0x40 && (b[5] & 0xF0) == 0x10;
}

}  // namespace

void BuiltinSynth::setPortBDrums() {
  fluid_synth_set_channel_type(synth_, kPortBDrumChannel, CHANNEL_TYPE_DRUM);
  fluid_synth_program_change(synth_, kPortBDrumChannel, 0);
}

void BuiltinSynth::deliverSysEx(std::span<const uint8_t> b, uint8_t port) {
  const char* data = reinterpret_cast<const char*>(b.data());
  const int size = static_cast<int>(b.size());
  int handled = 0;
  if (port == 0 || !addressesGsPart(b)) {
    fluid_synth_sysex(synth_, data, size, nullptr, nullptr, &handled, 0);
    // A reset makes every channel but 10 melodic again.
    if (handled && resetsSystem(b)) setPortBDrums();
    return;
  }
  // The synthesizer's GS parts are port A's channels. For port B it only
  // checks the message (device, checksum, GS mode) and we carry it out on
  // port B's channel: "Use for Rhythm Part" (40 1x 15) is the one part
  // setting it takes. Block 0 is part 10, blocks 1-9 parts 1-9, A-F 11-16.
  fluid_synth_sysex(synth_, data, size, nullptr, nullptr, &handled, 1);
  constexpr uint8_t kUseForRhythmPart = 0x15;
  if (!handled || b[6] != kUseForRhythmPart) return;
  const int block = b[5] & 0x0F;
  const int ch = kChannelsPerPort + (block == 0 ? 9 : block <= 9 ? block - 1 : block);
  fluid_synth_set_channel_type(synth_, ch, b[7] == 0 ? CHANNEL_TYPE_MELODIC : CHANNEL_TYPE_DRUM);
  fluid_synth_program_change(synth_, ch, 0);
}

void BuiltinSynth::deliver(std::span<const uint8_t> m, uint8_t port) {
  if (m.empty()) return;
  port %= kPorts;
  const uint8_t status = m[0];
  if (status == 0xF0) {
    // The synthesizer wants the body without F0 and F7.
    if (m.size() >= 3 && m.back() == 0xF7) deliverSysEx(m.subspan(1, m.size() - 2), port);
    return;
  }
  if (status < 0x80 || status >= 0xF0 || m.size() < 2) return;
  const int ch = (status & 0x0F) + port * kChannelsPerPort;
  const int d1 = m[1];
  const int d2 = m.size() > 2 ? m[2] : 0;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth_, ch, d1);
      break;
    case 0x90:
      fluid_synth_noteon(synth_, ch, d1, d2);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth_, ch, d1, d2);
      break;
    case 0xB0:
      fluid_synth_cc(synth_, ch, d1, d2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth_, ch, d1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth_, ch, d1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth_, ch, d1 | (d2 << 7));
      break;
    default:
      break;
  }
}

void BuiltinSynth::attach(OutputClient* client) {
  std::lock_guard lk(clientsMutex_);
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
}

void BuiltinSynth::detach(OutputClient* client) {
  std::lock_guard lk(clientsMutex_);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void BuiltinSynth::synthesize(float* out, int frames) {
  while (frames > 0) {
    const int n = std::min(frames, static_cast<int>(scratch_.size() / 2));
    fluid_synth_write_float(synth_, n, scratch_.data(), 0, 2, scratch_.data(), 1, 2);
    for (int i = 0; i < n * 2; ++i) out[i] += soften(scratch_[i]);
    out += n * 2;
    frames -= n;
  }
}

void BuiltinSynth::render(float* out, int frames) {
  std::lock_guard lk(clientsMutex_);
  NowSink sink(*this);
  // A burst beyond the budget waits for the next callback, so the sound
  // and everything waiting on this callback go on.
  size_t budget = kEventsPerCallback;
  uint64_t cursor = samples_.load(std::memory_order_relaxed);
  const uint64_t blockEnd = cursor + static_cast<uint64_t>(frames);
  while (cursor < blockEnd) {
    // The synthesizer starts voices only on the edges of its 64-frame
    // blocks. Each event goes to the edge nearest its exact sample, so it
    // sounds at most 32 frames (0.73 ms) from where it belongs.
    uint64_t until = (cursor / edge_ + 1) * edge_;
    if (cursor % edge_ == 0) {
      const uint64_t nowNs = nanosOfSample(cursor);
      const uint64_t lookahead = nanosOfSample(cursor + edge_ / 2) - 1 - nowNs;
      // Nothing is due before the edge below the next event: render up to
      // there in one go.
      uint64_t next = UINT64_MAX;
      for (OutputClient* c : clients_)
        if (auto d = c->runDue(this, nowNs, lookahead, sink, budget))
          next = std::min(next, sampleOfNanos(*d) / edge_ * edge_);
      until = std::max(until, next);
    }
    until = std::min(until, blockEnd);
    synthesize(out, static_cast<int>(until - cursor));
    out += (until - cursor) * 2;
    cursor = until;
  }
  samples_.store(blockEnd, std::memory_order_release);
}

}  // namespace plimra::seq

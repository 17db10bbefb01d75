#include "media/sequencer/builtin_synth.h"

#include <fluidsynth.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>

#include "media/mci/dispatch.h"

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

constexpr const char* kFontVariable = "PLIMRA_SOUNDFONT";

constexpr int kBankSelectMsb = 0;
constexpr int kDrumChannel = 9;
// FluidSynth's own XG mode makes a part a drum part from bank 120 up (XG's
// kits are 126 and 127) and any other bank a voice part, but keeps the
// drum part one; the same rules here, so that an XG song sounds the same
// with or without its XG System On.
constexpr int kFirstDrumBank = 120;
// GS Reset for device 0x10, the one this synthesizer answers to, after F0.
constexpr char kGsReset[] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41};

// FluidSynth says why a file would not load only in its log. While a
// thread loads a font, the first error it logs is kept for the message.
thread_local std::string* tLoadError = nullptr;

void logError(int level, const char* message, void* data) {
  if (!tLoadError) {
    fluid_default_log_function(level, message, data);
  } else if (tLoadError->empty() && message) {
    *tLoadError = message;
  }
}

void quietLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_ERR, logError, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

std::string cannotLoad(const std::string& path, const std::string& why) {
  return "The SoundFont \"" + path + "\" could not be loaded: " + why;
}

}  // namespace

std::string findSoundFont() {
  if (const char* env = std::getenv(kFontVariable); env && *env) return env;
  return defaultSoundFont();
}

std::string defaultSoundFont() {
  namespace fs = std::filesystem;
  std::error_code ec;
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

// A SoundFont read into a synthesizer of its own: FluidSynth holds a
// synthesizer's lock for the whole of a load, and the audio thread takes
// that lock for every event. The holder keeps the font until the playing
// synthesizer takes it over, else frees it with itself.
class FontHolder {
 public:
  FontHolder() {
    quietLog();
    settings_ = new_fluid_settings();
    fluid_settings_setint(settings_, "synth.polyphony", 1);
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    // The font moves on to another synthesizer: every sample must be read
    // now, not later through this one.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
    synth_ = new_fluid_synth(settings_);
  }
  ~FontHolder() {
    if (synth_) delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
  }
  FontHolder(const FontHolder&) = delete;
  FontHolder& operator=(const FontHolder&) = delete;

  // Reads `path`; empty, or why it cannot be read.
  std::string load(const std::string& path) {
    path_ = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::generic_category().message(errno) + ".";
    // A pipe or a device could hold the loading thread for ever.
    if (!S_ISREG(st.st_mode)) return "It is not a regular file.";
    if (::access(path.c_str(), R_OK) != 0) return std::generic_category().message(errno) + ".";
    if (!synth_) return "FluidSynth could not be started.";
    std::string fluidError;
    tLoadError = &fluidError;
    const bool soundFont = fluid_is_soundfont(path.c_str());
    if (soundFont) id_ = fluid_synth_sfload(synth_, path.c_str(), 0);
    tLoadError = nullptr;
    if (!soundFont) return "It is not a SoundFont.";
    if (id_ != FLUID_FAILED) return {};
    return fluidError.empty() ? "FluidSynth cannot read it as a SoundFont."
                              : "FluidSynth cannot read it (" + fluidError + ").";
  }
  // The font, which the holder no longer frees.
  fluid_sfont_t* release() {
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth_, id_);
    fluid_synth_remove_sfont(synth_, font);
    id_ = FLUID_FAILED;
    return font;
  }
  const std::string& path() const { return path_; }

  // Frees a font the playing synthesizer no longer has, once no note sounds
  // from it any more (FluidSynth waits for that itself). Freeing a large font
  // takes tens of milliseconds under the lock of the synthesizer that frees
  // it, so this one does, never the one the audio thread needs.
  static void retire(fluid_sfont_t* font) {
    // Never destroyed: a font may wait in it until the program ends.
    static FontHolder* const graveyard = new FontHolder();
    const int id = fluid_synth_add_sfont(graveyard->synth_, font);
    if (id != FLUID_FAILED) fluid_synth_sfunload(graveyard->synth_, id, 1);
  }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  int id_ = FLUID_FAILED;
  std::string path_;
};

// Serves the requests for SoundFonts one after another on a thread of its
// own, which it joins when it goes.
class FontLoader {
 public:
  using Done = std::function<void(const SoundFontResult&)>;
  static FontLoader& instance() {
    static FontLoader loader;
    return loader;
  }
  ~FontLoader() {
    {
      std::lock_guard lk(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void request(std::string path, Done done) {
    std::lock_guard lk(mutex_);
    asked_ = true;
    queue_.emplace_back(std::move(path), std::move(done));
    if (!thread_.joinable()) thread_ = std::thread(&FontLoader::run, this);
    wake_.notify_one();
  }

  // For a synthesizer being made: the font read for it before it existed,
  // if any, and whether it was asked for one (then its own reading leaves
  // $PLIMRA_SOUNDFONT to the request).
  std::unique_ptr<FontHolder> takeWaiting(bool& asked) {
    std::lock_guard lk(mutex_);
    asked = asked_;
    return std::move(waiting_);
  }

  // From now on fonts go to `synth`, starting with `first` and then one
  // read meanwhile, in the order they were read.
  void attach(BuiltinSynth& synth, std::unique_ptr<FontHolder> first) {
    std::lock_guard order(adoptMutex_);
    std::unique_ptr<FontHolder> later;
    {
      std::lock_guard lk(mutex_);
      synth_ = &synth;
      later = std::move(waiting_);
    }
    if (first) synth.adopt(std::move(first));
    if (later) synth.adopt(std::move(later));
  }

 private:
  FontLoader() = default;

  void run() {
    std::unique_lock lk(mutex_);
    for (;;) {
      wake_.wait(lk, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      auto [path, done] = std::move(queue_.front());
      queue_.pop_front();
      lk.unlock();
      SoundFontResult result{path, serve(path)};
      if (done) mci::postToGui([task = std::move(done), result] { task(result); });
      lk.lock();
    }
  }

  // Reads `path` and hands it on; empty, or why it cannot be used.
  std::string serve(const std::string& path) {
    {
      std::lock_guard lk(mutex_);
      if (path == delivered_) return {};
    }
    auto font = std::make_unique<FontHolder>();
    if (std::string why = font->load(path); !why.empty()) return why;
    std::lock_guard order(adoptMutex_);
    BuiltinSynth* synth;
    {
      std::lock_guard lk(mutex_);
      delivered_ = path;
      synth = synth_;
      if (!synth) waiting_ = std::move(font);
    }
    if (synth) synth->adopt(std::move(font));
    return {};
  }

  // Held while a font goes to the synthesizer (or waits for it), so fonts
  // arrive in the order they were asked for. Taken before mutex_.
  std::mutex adoptMutex_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::string, Done>> queue_;
  bool stop_ = false;
  bool asked_ = false;
  std::string delivered_;                // the last font handed on
  BuiltinSynth* synth_ = nullptr;        // never destroyed once made
  std::unique_ptr<FontHolder> waiting_;  // read before the synthesizer existed
  std::thread thread_;
};

void BuiltinSynth::useSoundFont(const std::string& path,
                                std::function<void(const SoundFontResult&)> done) {
  const char* env = std::getenv(kFontVariable);
  std::string target = env && *env ? std::string(env) : path;
  if (target.empty()) {
    if (done) mci::postToGui([done = std::move(done)] { done({}); });
    return;
  }
  FontLoader::instance().request(std::move(target), std::move(done));
}

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
  quietLog();
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

  // A font read for it before it existed, else $PLIMRA_SOUNDFONT, else the
  // system's. While a request is on its way, the system's small one plays
  // until that one is ready.
  FontLoader& loader = FontLoader::instance();
  bool asked = false;
  std::unique_ptr<FontHolder> font = loader.takeWaiting(asked);
  const char* env = std::getenv(kFontVariable);
  if (!font && !asked && env && *env) {
    font = std::make_unique<FontHolder>();
    if (std::string why = font->load(env); !why.empty()) {
      fontProblem_ = cannotLoad(env, why);
      font.reset();
    }
  }
  if (!font) {
    const std::string path = defaultSoundFont();
    font = std::make_unique<FontHolder>();
    if (path.empty()) {
      problem_ = kNoSoundFont;
      font.reset();
    } else if (std::string why = font->load(path); !why.empty()) {
      problem_ = cannotLoad(path, why);
      font.reset();
    }
  }
  loader.attach(*this, std::move(font));
  setPortBDrums();
}

std::string BuiltinSynth::problem() const {
  std::lock_guard lk(fontMutex_);
  return problem_;
}

std::string BuiltinSynth::fontProblem() const {
  std::lock_guard lk(fontMutex_);
  return fontProblem_;
}

void BuiltinSynth::adopt(std::unique_ptr<FontHolder> holder) {
  fluid_sfont_t* old = nullptr;
  {
    // Between two blocks. Every channel takes its preset from the new font
    // at once; the notes that sound keep the old one until they end.
    std::lock_guard lk(clientsMutex_);
    const int id = fluid_synth_add_sfont(synth_, holder->release());
    // Only when FluidSynth has run out of font numbers.
    if (id == FLUID_FAILED) return;
    std::lock_guard font(fontMutex_);
    old = fluid_synth_get_sfont_by_id(synth_, std::exchange(fontId_, id));
    if (old) fluid_synth_remove_sfont(synth_, old);
    problem_.clear();
  }
  if (old) FontHolder::retire(old);
}

void BuiltinSynth::startsSong(const Song& song) {
  // After an XG song FluidSynth may read bank selects its own XG way, and
  // parts may be drum parts: a GS Reset gives the next song the GS mode it
  // was written for. Only when the kind changes, so a pause or a jump keeps
  // what the song's own SysEx set.
  if (xg_.exchange(song.xg) && !song.xg) {
    fluid_synth_sysex(synth_, kGsReset, static_cast<int>(std::size(kGsReset)), nullptr, nullptr,
                      nullptr, 0);
    setPortBDrums();
  }
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
      // In an XG song the bank decides whether the program change that
      // follows picks a drum kit or a voice.
      if (d1 == kBankSelectMsb && xg_.load(std::memory_order_relaxed)) {
        if (d2 >= kFirstDrumBank) {
          fluid_synth_set_channel_type(synth_, ch, CHANNEL_TYPE_DRUM);
        } else if (ch != kDrumChannel && ch != kPortBDrumChannel) {
          fluid_synth_set_channel_type(synth_, ch, CHANNEL_TYPE_MELODIC);
        }
      }
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

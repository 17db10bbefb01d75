// The built-in synthesizer: FluidSynth with a General MIDI SoundFont,
// rendered inside the program's audio output. Every event lands on its exact
// sample: a block is split at each event's sample and rendered in pieces.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/mci/synthesizer.h"
#include "media/sequencer/output.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace plimra::seq {

class FontHolder;
class FontLoader;

// The system's General MIDI SoundFont: a larger one when one is installed,
// else the small default one. Empty when none is found.
std::string defaultSoundFont();
// The SoundFont to load without a choice of the user's: $PLIMRA_SOUNDFONT
// when it is set, else defaultSoundFont().
std::string findSoundFont();
// Why there is no sound when findSoundFont() finds nothing.
inline constexpr const char* kNoSoundFont =
    "No General MIDI SoundFont was found; install timgm6mb-soundfont or set PLIMRA_SOUNDFONT.";

using mci::SoundFontResult;

class BuiltinSynth : public Output, public audio::AudioSource {
 public:
  // The one synthesizer, created (and its SoundFont loaded) on first use.
  // Call from a normal thread, never from the audio thread. Unless offline
  // mode was chosen first, it joins the program's audio output.
  static std::shared_ptr<BuiltinSynth> shared();
  // The synthesizer if it has been created, else null (loads nothing).
  static std::shared_ptr<BuiltinSynth> existing();
  // For tools that pull the samples themselves (render to a file): the
  // synthesizer then never joins the audio output. Call before shared().
  static void setOffline(bool offline);
  // Plays `path` (the file system's bytes) from the next note on, or the
  // file $PLIMRA_SOUNDFONT names when that is set; an empty path asks for
  // nothing. The file is read on a thread of its own, so the caller and the
  // sound go on meanwhile, and the synthesizer changes fonts between two
  // audio blocks; one that cannot be loaded leaves the font that plays.
  // `done` then runs on the GUI thread. Requests are served in order, also
  // before the synthesizer exists: it then starts with the font.
  static void useSoundFont(const std::string& path,
                           std::function<void(const SoundFontResult&)> done);

  ~BuiltinSynth() override;

  // Why it makes no sound although it keeps time (no SoundFont), or empty.
  std::string problem() const;
  // Why the SoundFont $PLIMRA_SOUNDFONT names could not be loaded when the
  // synthesizer was made (it plays the default one instead), or empty.
  std::string fontProblem() const;

  uint64_t now() const override;
  // Port B's channel n is the synthesizer's channel 16 + n.
  void sendNow(std::span<const uint8_t> message, uint8_t port) override;
  uint8_t ports() const override { return kPorts; }
  void attach(OutputClient* client) override;
  void detach(OutputClient* client) override;
  void wake() override {}
  void startsSong(const Song& song) override;

  void render(float* out, int frames) override;
  uint64_t samples() const { return samples_.load(std::memory_order_acquire); }

  // Most events one audio callback hands to the synthesizer.
  static constexpr size_t kEventsPerCallback = 512;

  static uint64_t nanosOfSample(uint64_t sample);
  static uint64_t sampleOfNanos(uint64_t ns);  // first sample at or after ns

 private:
  friend class FontLoader;
  BuiltinSynth();
  // Puts the font `holder` read on top of the stack, between two blocks,
  // and lets the one it replaces go.
  void adopt(std::unique_ptr<FontHolder> holder);
  void deliver(std::span<const uint8_t> message, uint8_t port);
  void deliverSysEx(std::span<const uint8_t> body, uint8_t port);
  // Channel 10 of port B is a drum part, as channel 10 of port A is.
  void setPortBDrums();
  void synthesize(float* out, int frames);

  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  mutable std::mutex fontMutex_;  // for what the loading thread changes
  std::string problem_;
  std::string fontProblem_;
  int fontId_ = -1;
  // The song that plays is an XG one: its bank selects turn parts into drum
  // parts and back.
  std::atomic<bool> xg_{false};

  std::mutex clientsMutex_;  // held while rendering
  std::vector<OutputClient*> clients_;
  std::atomic<uint64_t> samples_{0};
  std::vector<float> scratch_;
  uint64_t edge_ = 64;  // the synthesizer's internal block, in frames
};

}  // namespace plimra::seq

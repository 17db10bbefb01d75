// The built-in synthesizer: FluidSynth with a General MIDI SoundFont,
// rendered inside the program's audio output. Every event lands on its exact
// sample: a block is split at each event's sample and rendered in pieces.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/sequencer/output.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace plimra::seq {

// The SoundFont to load: $PLIMRA_SOUNDFONT when it names a file, else a
// larger GM SoundFont when one is installed, else the small default one.
// Empty when none is found.
std::string findSoundFont();
// Why there is no sound when findSoundFont() finds nothing.
inline constexpr const char* kNoSoundFont =
    "No General MIDI SoundFont was found; install timgm6mb-soundfont or set PLIMRA_SOUNDFONT.";

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

  ~BuiltinSynth() override;

  // Why it makes no sound although it keeps time (no SoundFont), or empty.
  std::string problem() const { return problem_; }

  uint64_t now() const override;
  // Port B's channel n is the synthesizer's channel 16 + n.
  void sendNow(std::span<const uint8_t> message, uint8_t port) override;
  uint8_t ports() const override { return kPorts; }
  void attach(OutputClient* client) override;
  void detach(OutputClient* client) override;
  void wake() override {}

  void render(float* out, int frames) override;
  uint64_t samples() const { return samples_.load(std::memory_order_acquire); }

  // Most events one audio callback hands to the synthesizer.
  static constexpr size_t kEventsPerCallback = 512;

  static uint64_t nanosOfSample(uint64_t sample);
  static uint64_t sampleOfNanos(uint64_t ns);  // first sample at or after ns

 private:
  BuiltinSynth();
  void deliver(std::span<const uint8_t> message, uint8_t port);
  void deliverSysEx(std::span<const uint8_t> body, uint8_t port);
  // Channel 10 of port B is a drum part, as channel 10 of port A is.
  void setPortBDrums();
  void synthesize(float* out, int frames);

  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  std::string problem_;

  std::mutex clientsMutex_;  // held while rendering
  std::vector<OutputClient*> clients_;
  std::atomic<uint64_t> samples_{0};
  std::vector<float> scratch_;
  uint64_t edge_ = 64;  // the synthesizer's internal block, in frames
};

}  // namespace plimra::seq

// The built-in synthesizer as the windows reach it: why it may be silent,
// and the SoundFont it plays. The sequencer installs the real one; without
// one the synthesizer is not there to be asked (the answers say so).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace plimra::mci {

// What became of a request for a SoundFont.
struct SoundFontResult {
  std::string path;   // the file asked for ($PLIMRA_SOUNDFONT when it is set)
  std::string error;  // why it cannot be used; empty when it plays from the next note on
};

class Synthesizer {
 public:
  virtual ~Synthesizer() = default;
  // Why a song on the synthesizer makes no sound (no audio device, no
  // SoundFont), or empty when it does. Songs keep time either way.
  virtual std::string noSoundReason() = 0;
  // The SoundFont it plays when the user has chosen none.
  virtual std::string defaultFont() = 0;
  // Plays `path` (the file system's bytes) from the next note on; read off
  // the caller's thread, `done` then runs on the GUI thread. An empty path
  // asks for nothing.
  virtual void useSoundFont(const std::string& path,
                            std::function<void(const SoundFontResult&)> done) = 0;
};

// A synthesizer that is not there: silent for `reason`, and every SoundFont
// asked for is refused with it.
class MissingSynthesizer : public Synthesizer {
 public:
  explicit MissingSynthesizer(std::string reason) : reason_(std::move(reason)) {}
  std::string noSoundReason() override { return reason_; }
  std::string defaultFont() override { return {}; }
  void useSoundFont(const std::string& path,
                    std::function<void(const SoundFontResult&)> done) override;

 private:
  std::string reason_;
};

void setSynthesizer(std::shared_ptr<Synthesizer> synthesizer);
// The one installed, or a missing one.
std::shared_ptr<Synthesizer> synthesizer();

}  // namespace plimra::mci

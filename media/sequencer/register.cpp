#include "media/sequencer/register.h"

#include "media/audio/audio_output.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/port_output.h"
#include "media/sequencer/sequencer_device.h"

namespace plimra::seq {

namespace {

class SystemCatalog : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override { return systemOutputs()->outputNames(); }
  std::string waitingOn() override { return portSystemBeingAsked(); }
};

class Synthesizer : public mci::Synthesizer {
 public:
  std::string noSoundReason() override { return seq::noSoundReason(); }
  std::string defaultFont() override { return findSoundFont(); }
  void useSoundFont(const std::string& path,
                    std::function<void(const SoundFontResult&)> done) override {
    BuiltinSynth::useSoundFont(path, std::move(done));
  }
};

}  // namespace

std::unique_ptr<mci::Device> makeSequencer() {
  return std::make_unique<SequencerDevice>(systemOutputs());
}

std::shared_ptr<mci::MidiOutCatalog> systemCatalog() { return std::make_shared<SystemCatalog>(); }

std::shared_ptr<mci::Synthesizer> builtinSynthesizer() { return std::make_shared<Synthesizer>(); }

void registerSequencer() {
  mci::DeviceTable::instance().registerType("Sequencer", makeSequencer);
  mci::setMidiOutCatalog(systemCatalog());
  mci::setSynthesizer(builtinSynthesizer());
}

std::string noSoundReason() {
  auto& out = audio::AudioOutput::instance();
  // The answer is only known once the output has tried to open a device.
  if (!out.running()) out.start();
  if (!out.hasDevice()) return out.lastError();
  if (auto synth = BuiltinSynth::existing()) return synth->problem();
  if (findSoundFont().empty()) return kNoSoundFont;
  return {};
}

}  // namespace plimra::seq

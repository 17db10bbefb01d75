#include "media/sequencer/register.h"

#include "media/audio/audio_output.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
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

}  // namespace

void registerSequencer() {
  mci::DeviceTable::instance().registerType(
      "Sequencer", [] { return std::make_unique<SequencerDevice>(systemOutputs()); });
  mci::setMidiOutCatalog(std::make_shared<SystemCatalog>());
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

// The module's one entry point: the engines, compiled into it.
#include "media/cdaudio/register.h"
#include "media/engines/engines.h"
#include "media/mci/device.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"

extern "C" __attribute__((visibility("default"))) const plimra::engines::Engines*
plimra_engines() {
  using namespace plimra;
  static const engines::Engines table{
      engines::kVersion,      sizeof(engines::Engines), seq::makeSequencer, cdaudio::makeCdAudio,
      seq::systemCatalog,     seq::builtinSynthesizer,  seq::drainSystemPorts,
  };
  return &table;
}

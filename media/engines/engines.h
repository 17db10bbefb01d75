// The engines that need the large system libraries (FluidSynth and its
// codecs, SDL, the MIDI port systems, libcdio), as the program reaches them
// in the module it opens once its window shows: loading those libraries
// takes longer than the rest of the start, and the first frame needs none
// of them. The tools and the tests link the same engines in.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace plimra::mci {
class Device;
class MidiOutCatalog;
class Synthesizer;
}  // namespace plimra::mci

namespace plimra::engines {

struct Engines {
  // Tells a module of another build apart: it must match kVersion and
  // sizeof(Engines).
  uint32_t version;
  uint32_t size;
  std::unique_ptr<mci::Device> (*makeSequencer)();
  std::unique_ptr<mci::Device> (*makeCdAudio)();
  std::shared_ptr<mci::MidiOutCatalog> (*midiOutCatalog)();
  std::shared_ptr<mci::Synthesizer> (*synthesizer)();
  // Waits, at most `limit`, for what was sent to the MIDI-OUT ports to leave.
  void (*drainSystemPorts)(std::chrono::milliseconds limit);
};

inline constexpr uint32_t kVersion = 1;
// The module's file, and the C function in it that returns its Engines.
inline constexpr const char* kModuleFile = "plimra-engines.so";
inline constexpr const char* kEntryPoint = "plimra_engines";
using EntryPoint = const Engines* (*)();

}  // namespace plimra::engines

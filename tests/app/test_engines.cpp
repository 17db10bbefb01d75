// An engines module of the test's own: it makes no devices, lists two
// outputs and notes each thing it is asked through the test program.
#include <functional>
#include <string>
#include <vector>

#include "media/engines/engines.h"
#include "media/mci/device.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"

extern "C" void test_engines_note(const char* what);

namespace {

using namespace plimra;

class Catalog : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override {
    test_engines_note("outputNames");
    return {"Synth", "Port 1"};
  }
};

class Synthesizer : public mci::Synthesizer {
 public:
  std::string noSoundReason() override { return "silent here"; }
  std::string defaultFont() override { return "default.sf2"; }
  void useSoundFont(const std::string& path,
                    std::function<void(const mci::SoundFontResult&)> done) override {
    test_engines_note(("useSoundFont " + path).c_str());
    if (done) done({path, {}});
  }
};

std::unique_ptr<mci::Device> makeSequencer() {
  test_engines_note("makeSequencer");
  return nullptr;
}
std::unique_ptr<mci::Device> makeCdAudio() { return nullptr; }
std::shared_ptr<mci::MidiOutCatalog> catalog() { return std::make_shared<Catalog>(); }
std::shared_ptr<mci::Synthesizer> synthesizer() { return std::make_shared<Synthesizer>(); }
void drain(std::chrono::milliseconds) {}

}  // namespace

extern "C" __attribute__((visibility("default"))) const engines::Engines* plimra_engines() {
#ifdef TEST_ENGINES_OF_ANOTHER_BUILD
  constexpr uint32_t version = engines::kVersion + 1;
#else
  constexpr uint32_t version = engines::kVersion;
#endif
  static const engines::Engines table{version,     sizeof(engines::Engines), makeSequencer,
                                      makeCdAudio, catalog,                  synthesizer,
                                      drain};
  return &table;
}

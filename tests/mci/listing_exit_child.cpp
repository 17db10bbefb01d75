// Looks at the MIDI-OUT ports, then returns 3 from main as a program does at
// its end. Run by the MIDI output tests.
//   listing_exit_child answered   the ports answer before main returns
//   listing_exit_child stuck      they never answer, as a stale JACK server
#include <chrono>
#include <string>
#include <thread>

#include "media/mci/midiout.h"

using namespace plimra::mci;

namespace {

struct Ports : MidiOutCatalog {
  bool stuck = false;
  std::vector<std::string> outputNames() override {
    if (stuck) std::this_thread::sleep_for(std::chrono::hours(1));
    return {"Port"};
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto ports = std::make_shared<Ports>();
  ports->stuck = std::string(argv[1]) == "stuck";
  setMidiOutCatalog(ports);
  auto listing = MidiOutListing::start();
  if (!ports->stuck && !listing->waitFor(std::chrono::seconds(20))) return 4;
  return 3;
}

// Plays a song on a MIDI-OUT port, closes it and ends the way the program
// does, at once. Run by the JACK port test, which listens on the port.
//   exit_child SONG.mid PORT-NAME
#include <algorithm>
#include <chrono>
#include <thread>

#include "media/sequencer/sequencer_device.h"
#include "platform/program.h"

using namespace plimra;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  // As the program does when it starts.
  platform::setEndHandler([] {
    seq::drainSystemPorts(std::chrono::milliseconds(100));
    platform::leaveProcess();
  });

  seq::SequencerDevice dev(seq::systemOutputs());
  const auto names = seq::systemOutputs()->outputNames();
  const auto it = std::find(names.begin(), names.end(), argv[2]);
  if (it == names.end() || dev.open(argv[1]) != 0 ||
      dev.setPort(static_cast<int32_t>(it - names.begin())) != 0 || dev.play({}, {}) != 0)
    return 3;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // What the window does when it is closed.
  dev.close();
  platform::End();
  return 4;
}

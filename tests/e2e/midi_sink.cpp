// A MIDI input port of the end-to-end tests' own: a JACK client NAME with
// one input port "in" that prints each message it receives as one line of
// hex bytes ("f07e7f0901f7") on standard output, until SIGTERM or SIGINT.
// Says "ready" on standard error once the port exists.
//   midi_sink NAME
#include <rtmidi/RtMidi.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

void received(double, std::vector<unsigned char>* message, void*) {
  // One line at a time: the callback runs on JACK's thread only.
  for (unsigned char b : *message) std::printf("%02x", b);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: midi_sink NAME\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  // Blocked before any thread starts, so that only sigwait takes them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::unique_ptr<RtMidiIn> in;
  // The server may still be starting.
  for (int attempt = 0; attempt < 100 && !in; ++attempt) {
    try {
      in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, argv[1]);
      in->ignoreTypes(false, false, false);
      in->setCallback(&received, nullptr);
      in->openVirtualPort("in");
    } catch (const RtMidiError&) {
      in.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (!in) {
    std::fprintf(stderr, "midi_sink: no JACK server\n");
    return 1;
  }
  std::fprintf(stderr, "ready\n");
  int sig = 0;
  sigwait(&stop, &sig);
  in->closePort();
  return 0;
}

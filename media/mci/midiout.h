// MIDI output enumeration, as the MIDI window's port list needs it: device -1
// is the MIDI mapper, devices 0 .. n-1 the outputs the system offers. The
// sequencer installs the real catalogue (built-in synthesizer first, then the
// system's MIDI-OUT ports); tests install their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plimra::mci {

// An output's capabilities record: its whole name. (A fixed 32-byte field
// would cut the names of a two-port interface, "... Port 1" and "... Port 2",
// to the same text.)
struct MidiOutCaps {
  std::string name;
};

class MidiOutCatalog {
 public:
  virtual ~MidiOutCatalog() = default;
  // Names of the outputs 0 .. n-1, taken afresh on each call.
  virtual std::vector<std::string> outputNames() = 0;
  // Name shown for device -1.
  virtual std::string mapperName() { return "MIDI Mapper"; }
  // The port system outputNames() is waiting on at this moment ("JACK"...),
  // for telling the user which one does not answer; empty when unknown.
  virtual std::string waitingOn() { return {}; }
};

void setMidiOutCatalog(std::shared_ptr<MidiOutCatalog> catalog);
std::shared_ptr<MidiOutCatalog> midiOutCatalog();

// Number of outputs (not counting the mapper). Takes a fresh snapshot of the
// catalogue that the following midiOutGetDevCaps calls read.
uint32_t midiOutGetNumDevs();
// Fills `caps` for device -1 .. n-1 of the last snapshot and returns 0, or
// returns err::InvalidDeviceId (and leaves `caps` as it was) for any other.
uint32_t midiOutGetDevCaps(int32_t deviceId, MidiOutCaps& caps);

// One look at the outputs, taken on a thread of its own: a port system that
// does not answer (a JACK server whose shared state a killed client left
// behind can block for minutes) must not hold up the window that asked.
// Nobody joins the thread but the program's end (mci/background.h).
// Looks run one after another, so each sees a snapshot of its own.
class MidiOutListing {
 public:
  // Starts the look: midiOutGetNumDevs, then the capabilities of every
  // device from -1 up, into one record, as the port list shows them.
  static std::shared_ptr<MidiOutListing> start();

  // Waits at most `limit` for the answer; true when it has come.
  bool waitFor(std::chrono::milliseconds limit);
  bool done() const;
  // The names of devices -1 .. n-1; empty until done.
  std::vector<std::string> names() const;
  // The port system the look is waiting on ("JACK"...), or empty.
  std::string waitingOn() const;
  // Queues `task` to the GUI thread once the answer has come (at once when
  // it already has).
  void whenDone(std::function<void()> task);

 private:
  MidiOutListing() = default;
  void finish(std::vector<std::string> names);

  std::shared_ptr<MidiOutCatalog> catalog_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::vector<std::string> names_;
  std::function<void()> task_;
};

}  // namespace plimra::mci

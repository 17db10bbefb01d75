// The "Sequencer" device: opens a MIDI file, plays, pauses, stops and seeks
// it, reports mode, position and length in milliseconds, and plays on the
// output its port command names (-1 the mapper, 0 the built-in synthesizer,
// k the system's MIDI-OUT port k - 1).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/mci/device.h"
#include "media/sequencer/output.h"
#include "media/sequencer/player.h"

namespace plimra::seq {

// Resolves port numbers to outputs.
class OutputProvider {
 public:
  virtual ~OutputProvider() = default;
  // Names of the outputs 0 .. n-1.
  virtual std::vector<std::string> outputNames() = 0;
  // The output for port -1 (the mapper) or 0 .. n-1; null with `error` set
  // when it cannot be opened.
  virtual std::shared_ptr<Output> open(int32_t port, std::string& error) = 0;
  // The same for a caller that has just asked outputNames(): `names` is its
  // answer, so a provider whose listing is slow need not ask again.
  virtual std::shared_ptr<Output> openListed(int32_t port,
                                             const std::vector<std::string>& /*names*/,
                                             std::string& error) {
    return open(port, error);
  }
};

// The built-in synthesizer for -1 and 0, then the system's MIDI-OUT ports.
// Ports in use are shared between devices and closed when no device uses them.
std::shared_ptr<OutputProvider> systemOutputs();
// Waits, at most `limit` in all, until what was sent to the system's ports
// has left for the wire; for the end of the program, which would otherwise
// cut off the silence a close just sent.
void drainSystemPorts(std::chrono::milliseconds limit);
// The name of output 0.
extern const char* const kBuiltinSynthName;

class SequencerDevice : public mci::Device, private OutputClient {
 public:
  explicit SequencerDevice(std::shared_ptr<OutputProvider> outputs);
  ~SequencerDevice() override;

  uint32_t open(const std::string& element) override;
  uint32_t close() override;
  uint32_t play(const mci::PlayParams& params, mci::NotifyFn notify) override;
  uint32_t stop() override;
  uint32_t pause() override;
  uint32_t resume() override;
  uint32_t seek(const mci::SeekParams& params) override;
  uint32_t status(const mci::StatusParams& params, mci::StatusValue& out) override;
  uint32_t setTimeFormat(mci::TimeFormat format) override;
  uint32_t setPort(int32_t port) override;
  // Loop mode: a song with a loop plays its loop section kLoopPasses times,
  // then fades out and ends. The position reads the song's own place (it
  // goes back at each pass); the length stays the song's. Off (the
  // default), every song plays straight through.
  uint32_t setLoop(bool on) override;
  // A jump while playing keeps the play and its notification (in ms).
  uint32_t moveTo(uint32_t positionMs) override;

  // The message behind the last failed open or port command.
  std::string lastError() const;
  // The open song (null when nothing is open).
  std::shared_ptr<const Song> song() const;

 private:
  std::optional<uint64_t> runDue(const Output* from, uint64_t now, uint64_t lookahead,
                                 MidiSink& sink, size_t& budget) override;
  // Stops playing (silence sent), takes any pending notification. Locked.
  mci::NotifyFn haltLocked();
  // Halts the player and silences `out`: a note-off for each note the song
  // left sounding, then the controllers that silence every channel. Locked.
  void silenceLocked(Output& out);
  // Brings `out` to the song's state and plays on to `end`. Locked.
  void startLocked(Output& out, uint64_t end);
  // Copies what status queries read. Locked.
  void publishLocked();
  // Where `target` is in the open song, worked out without the lock.
  Located locate(uint64_t target) const;

  std::shared_ptr<OutputProvider> outputs_;

  mutable std::mutex mutex_;
  std::shared_ptr<Output> output_;
  int32_t port_ = -1;
  bool loop_ = false;
  Player player_;
  bool open_ = false;
  bool paused_ = false;
  mci::NotifyFn notify_;
  std::string error_;

  // What status queries read: taken under statusMutex_, which is only ever
  // held to copy it, never while playing.
  struct Snapshot {
    bool open = false;
    bool paused = false;
    PlayClock clock;
    uint64_t length = 0;
    uint32_t tracks = 0;
    std::shared_ptr<Output> output;
  };
  mutable std::mutex statusMutex_;
  Snapshot snapshot_;
};

}  // namespace plimra::seq

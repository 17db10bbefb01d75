// MIDI-OUT ports: events leave from a scheduling thread at absolute
// deadlines against steady_clock, so nothing drifts however long the song.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/sequencer/output.h"

namespace plimra::seq {

// The wire: a system MIDI-OUT port, or anything else that takes bytes.
class RawPort {
 public:
  virtual ~RawPort() = default;
  // False when the port no longer works (its device or server went away).
  virtual bool send(std::span<const uint8_t> message) = 0;
  // Waits, at most until `limit`, for what was sent to leave for the wire.
  virtual void drain(std::chrono::steady_clock::time_point /*limit*/) {}
};

// Names of the system's MIDI-OUT ports: the ALSA sequencer's, or JACK's when
// ALSA offers none.
std::vector<std::string> systemPortNames();
// The port system a listing is asking at this moment ("ALSA", "JACK"), or
// empty: which one to name when the answer does not come.
std::string portSystemBeingAsked();
// Opens the port of that name (from the same API that listed it). Null and
// `error` set when it cannot be opened.
std::unique_ptr<RawPort> openSystemPort(const std::string& name, std::string& error);

class PortOutput : public Output {
 public:
  // Opens the port again after it failed; null (and `error` set) when that
  // fails too.
  using Reopen = std::function<std::unique_ptr<RawPort>(std::string& error)>;

  explicit PortOutput(std::unique_ptr<RawPort> port, Reopen reopen = {});
  ~PortOutput() override;

  uint64_t now() const override;  // steady_clock, in nanoseconds
  // Both ports of a song go out on this one port.
  void sendNow(std::span<const uint8_t> message, uint8_t port) override;
  void attach(OutputClient* client) override;
  void detach(OutputClient* client) override;
  void wake() override;

  // For measurements: called on the scheduling thread with each event's
  // lateness (ns after its deadline). Set before any client attaches.
  void setLatenessObserver(std::function<void(int64_t)> observer) {
    observer_ = std::move(observer);
  }
  // CPU time the scheduling thread has used, in nanoseconds.
  uint64_t threadCpuNanos() const;

  // The port failed and could not be opened again: messages go nowhere.
  bool failed() const { return failed_.load(); }
  std::string problem() const;
  // Waits, at most until `limit`, for what was sent to leave for the wire.
  void drain(std::chrono::steady_clock::time_point limit);

  // Most messages one wake-up of the scheduling thread sends; the rest wait
  // for the next one, so a burst never keeps the device locked for long.
  static constexpr size_t kEventsPerWakeUp = 256;
  // Deadlines this close to the current one leave with it: one wake-up
  // instead of several within a fraction of a millisecond.
  static constexpr uint64_t kGatherNs = 1'000'000;

 private:
  void loop();

  std::unique_ptr<RawPort> port_;
  Reopen reopen_;
  mutable std::mutex sendMutex_;  // the wire takes one message at a time
  std::atomic<bool> failed_{false};
  std::string problem_;          // guarded by sendMutex_
  std::atomic<int> waiting_{0};  // threads that want mutex_

  std::mutex mutex_;  // clients, wake-ups; held while calling clients
  std::condition_variable cv_;
  std::vector<OutputClient*> clients_;
  bool dirty_ = false;
  bool quit_ = false;
  std::function<void(int64_t)> observer_;
  std::thread thread_;
};

}  // namespace plimra::seq

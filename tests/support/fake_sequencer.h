// A "Sequencer" device for window tests: it records what reaches it, opens
// any file, plays until the test ends the play, and refuses the port numbers
// the test names as ports that cannot be opened.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "media/mci/device.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"

namespace plimra::test {

struct SequencerLog {
  std::vector<std::string> calls;
  int32_t mode = mci::ModeNotReady;
  mci::NotifyFn pending;
  std::set<int32_t> unopenable;

  std::vector<std::string> take() { return std::exchange(calls, {}); }
  // The play reaches its end.
  void finish() {
    mode = mci::ModeStopped;
    if (auto fn = std::exchange(pending, {})) fn(mci::NotifySuccessful);
  }
};

class FakeSequencer : public mci::Device {
 public:
  explicit FakeSequencer(std::shared_ptr<SequencerLog> log) : log_(std::move(log)) {}
  uint32_t open(const std::string& element) override {
    log_->calls.push_back("open " + element);
    log_->mode = mci::ModeStopped;
    return mci::err::None;
  }
  uint32_t close() override {
    log_->calls.push_back("close");
    abort();
    log_->mode = mci::ModeNotReady;
    return mci::err::None;
  }
  uint32_t play(const mci::PlayParams&, mci::NotifyFn notify) override {
    log_->calls.push_back("play");
    abort();
    log_->pending = std::move(notify);
    log_->mode = mci::ModePlaying;
    return mci::err::None;
  }
  uint32_t stop() override {
    abort();
    log_->mode = mci::ModeStopped;
    return mci::err::None;
  }
  uint32_t pause() override { return mci::err::None; }
  uint32_t resume() override { return mci::err::None; }
  uint32_t seek(const mci::SeekParams&) override { return mci::err::None; }
  uint32_t status(const mci::StatusParams& p, mci::StatusValue& out) override {
    const bool mode = p.item == mci::StatusItem::Mode;
    out.kind = mode ? mci::StatusValue::Kind::Mode : mci::StatusValue::Kind::Integer;
    out.value = mode ? static_cast<uint32_t>(log_->mode) : 0;
    return mci::err::None;
  }
  uint32_t setTimeFormat(mci::TimeFormat) override { return mci::err::None; }
  uint32_t setPort(int32_t port) override {
    log_->calls.push_back("port " + std::to_string(port));
    if (port < -1) return mci::err::SeqPortNonexistent;
    return log_->unopenable.count(port) ? mci::err::SeqPortMiscError : mci::err::None;
  }

  static void install(const std::shared_ptr<SequencerLog>& log) {
    mci::DeviceTable::instance().registerType(
        "Sequencer", [log] { return std::make_unique<FakeSequencer>(log); });
  }

 private:
  void abort() {
    if (auto fn = std::exchange(log_->pending, {})) fn(mci::NotifyAborted);
  }
  std::shared_ptr<SequencerLog> log_;
};

// MIDI outputs the test sets, changeable while the program runs.
class FakeOutputs : public mci::MidiOutCatalog {
 public:
  explicit FakeOutputs(std::vector<std::string> names) : names_(std::move(names)) {}
  std::vector<std::string> outputNames() override {
    std::lock_guard lock(mutex_);
    return names_;
  }
  void set(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    names_ = std::move(names);
  }

 private:
  std::mutex mutex_;  // the window asks from a thread of its own
  std::vector<std::string> names_;
};

}  // namespace plimra::test

// A device for the device table that records every command it receives as a
// line of text ("open a.mid", "play from 3", "seek to 60", "port -1",
// "format 10", "loop on", "move to 60"), answers status from values the test sets, refuses the
// commands the test names (and, as the base device does, any door command),
// and holds a play's notification until the test ends the play. Register it
// under any type name with install().
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "media/mci/device.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"

namespace plimra::test {

// Shared by the test and every device its factory makes.
struct DeviceLog {
  std::vector<std::string> calls;
  // A test may end a play from a thread of its own, as an engine does.
  std::atomic<int32_t> mode{mci::ModeNotReady};
  mci::TimeFormat format = mci::TimeFormat::Milliseconds;
  // Status answers other than the mode and the time format; items not set
  // answer the integer 0.
  std::map<mci::StatusItem, mci::StatusValue> values;
  // Error codes by command line ("open missing.mid", "play", "port 3"): the
  // command is recorded and changes nothing.
  std::map<std::string, uint32_t> errors;
  // Asked after `errors` when set: the error for a command line, or err::None.
  std::function<uint32_t(const std::string& call)> refuse;
  mci::NotifyFn pending;

  void answer(mci::StatusItem item, uint32_t value,
              mci::StatusValue::Kind kind = mci::StatusValue::Kind::Integer,
              mci::TimeFormat packed = mci::TimeFormat::Milliseconds) {
    values[item] = {kind, value, packed};
  }
  // The recorded lines, then none; with verbs, only lines whose first word
  // is one of them.
  std::vector<std::string> take(std::initializer_list<std::string_view> verbs = {}) {
    std::vector<std::string> out;
    for (std::string& c : calls) {
      const std::string_view verb = std::string_view(c).substr(0, c.find(' '));
      if (verbs.size() == 0 || std::find(verbs.begin(), verbs.end(), verb) != verbs.end())
        out.push_back(std::move(c));
    }
    calls.clear();
    return out;
  }
  // The play reaches its end: the device stops and reports success.
  void finish() {
    mode = mci::ModeStopped;
    if (auto fn = std::exchange(pending, {})) fn(mci::NotifySuccessful);
  }
};

class FakeDevice : public mci::Device {
 public:
  explicit FakeDevice(std::shared_ptr<DeviceLog> log) : log_(std::move(log)) {}

  static void install(const std::string& type, const std::shared_ptr<DeviceLog>& log) {
    mci::DeviceTable::instance().registerType(type,
                                              [log] { return std::make_unique<FakeDevice>(log); });
  }

  uint32_t open(const std::string& element) override {
    return run("open " + element, mci::ModeStopped, false);
  }
  uint32_t close() override { return run("close", mci::ModeNotReady, true); }
  uint32_t play(const mci::PlayParams& p, mci::NotifyFn notify) override {
    std::string call = "play";
    if (p.from) call += " from " + std::to_string(*p.from);
    if (p.to) call += " to " + std::to_string(*p.to);
    const uint32_t e = run(call, mci::ModePlaying, true);
    if (e == mci::err::None) log_->pending = std::move(notify);
    return e;
  }
  uint32_t stop() override { return run("stop", mci::ModeStopped, true); }
  uint32_t pause() override { return run("pause", mci::ModePaused, false); }
  uint32_t resume() override { return run("resume", mci::ModePlaying, false); }
  uint32_t seek(const mci::SeekParams& p) override {
    using W = mci::SeekParams::Where;
    return run(p.where == W::Start ? "seek start"
               : p.where == W::End ? "seek end"
                                   : "seek to " + std::to_string(p.to),
               mci::ModeStopped, true);
  }
  uint32_t status(const mci::StatusParams& p, mci::StatusValue& out) override {
    using K = mci::StatusValue::Kind;
    if (p.item == mci::StatusItem::Mode)
      out = {K::Mode, static_cast<uint32_t>(log_->mode.load())};
    else if (p.item == mci::StatusItem::TimeFormat)
      out = {K::TimeFormatName, static_cast<uint32_t>(log_->format)};
    else
      out = log_->values.count(p.item) ? log_->values[p.item] : mci::StatusValue{};
    return mci::err::None;
  }
  uint32_t setTimeFormat(mci::TimeFormat f) override {
    const uint32_t e = run("format " + std::to_string(static_cast<int>(f)), -1, false);
    if (e == mci::err::None) log_->format = f;
    return e;
  }
  uint32_t setPort(int32_t port) override { return run("port " + std::to_string(port), -1, false); }
  uint32_t setLoop(bool on) override { return run(on ? "loop on" : "loop off", -1, false); }
  uint32_t moveTo(uint32_t to) override { return run("move to " + std::to_string(to), -1, false); }

 private:
  // Records the call; unless refused, cuts a pending play short when asked
  // and moves to `mode` (-1: the mode stays).
  uint32_t run(std::string call, int32_t mode, bool abortsPlay) {
    const auto listed = log_->errors.find(call);
    const uint32_t e = listed != log_->errors.end() ? listed->second
                       : log_->refuse               ? log_->refuse(call)
                                                    : mci::err::None;
    log_->calls.push_back(std::move(call));
    if (e != mci::err::None) return e;
    if (abortsPlay)
      if (auto fn = std::exchange(log_->pending, {})) fn(mci::NotifyAborted);
    if (mode >= 0) log_->mode = mode;
    return mci::err::None;
  }

  std::shared_ptr<DeviceLog> log_;
};

// The MIDI outputs the test names, changeable while the program runs (the
// port list is read from a thread of its own).
class FakeMidiOuts : public mci::MidiOutCatalog {
 public:
  explicit FakeMidiOuts(std::vector<std::string> names) : names_(std::move(names)) {}
  std::vector<std::string> outputNames() override {
    std::lock_guard lock(mutex_);
    return names_;
  }
  void set(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    names_ = std::move(names);
  }
  // Installs a catalog of these names as the program's and returns it.
  static std::shared_ptr<FakeMidiOuts> install(std::vector<std::string> names) {
    auto c = std::make_shared<FakeMidiOuts>(std::move(names));
    mci::setMidiOutCatalog(c);
    return c;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
};

}  // namespace plimra::test

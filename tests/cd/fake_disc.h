// A CD audio device for the window tests: a disc the test puts in, takes
// out, plays and moves along, and a log of what the device was asked to do.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/mci/device.h"
#include "media/mci/device_table.h"

namespace cdtest {

namespace mci = plimra::mci;

struct Disc {
  bool present = true;
  int tracks = 12;
  uint32_t length = mci::makeMsf(52, 34, 12);
  uint32_t position = mci::makeTmsf(1, 0, 0, 0);
  bool playing = false;
  std::vector<std::string> log;

  void insert(int n, uint32_t len) {
    present = true;
    tracks = n;
    length = len;
    position = mci::makeTmsf(1, 0, 0, 0);
    playing = false;
  }
  void remove() {
    present = false;
    playing = false;
  }
  // Playback reached the end of the disc.
  void runOut() {
    playing = false;
    position = mci::makeTmsf(static_cast<uint32_t>(tracks), 4, 0, 0);
  }
};

class FakeCd : public mci::Device {
 public:
  explicit FakeCd(std::shared_ptr<Disc> d) : d_(std::move(d)) {}

  uint32_t open(const std::string&) override { return note("open"); }
  uint32_t close() override {
    d_->playing = false;
    return note("close");
  }
  uint32_t play(const mci::PlayParams& p, mci::NotifyFn) override {
    if (!d_->present) return mci::err::DeviceNotReady;
    if (p.from) {
      d_->position = mci::makeTmsf(mci::tmsfTrack(*p.from), 0, 0, 0);
      note("play from " + std::to_string(mci::tmsfTrack(*p.from)));
    } else {
      note("play");
    }
    d_->playing = true;
    return mci::err::None;
  }
  uint32_t stop() override {
    d_->playing = false;
    return note("stop");
  }
  uint32_t pause() override {
    d_->playing = false;
    return note("pause");
  }
  uint32_t resume() override {
    d_->playing = true;
    return note("resume");
  }
  uint32_t seek(const mci::SeekParams& p) override {
    d_->playing = false;
    if (p.where == mci::SeekParams::Where::Start) d_->position = mci::makeTmsf(1, 0, 0, 0);
    return note(p.where == mci::SeekParams::Where::Start ? "seek start" : "seek");
  }
  uint32_t status(const mci::StatusParams& p, mci::StatusValue& out) override {
    if (p.item == mci::StatusItem::Mode) {
      out.kind = mci::StatusValue::Kind::Mode;
      out.value = !d_->present ? mci::ModeOpen : d_->playing ? mci::ModePlaying : mci::ModeStopped;
      return mci::err::None;
    }
    if (!d_->present) return mci::err::DeviceNotReady;
    switch (p.item) {
      case mci::StatusItem::NumberOfTracks:
        out = {mci::StatusValue::Kind::Integer, static_cast<uint32_t>(d_->tracks),
               mci::TimeFormat::Milliseconds};
        return mci::err::None;
      case mci::StatusItem::Length:
        out = {mci::StatusValue::Kind::Time, d_->length, mci::TimeFormat::Msf};
        return mci::err::None;
      case mci::StatusItem::Position:
        out = {mci::StatusValue::Kind::Time, d_->position, mci::TimeFormat::Tmsf};
        return mci::err::None;
      default:
        return mci::err::UnsupportedFunction;
    }
  }
  uint32_t setTimeFormat(mci::TimeFormat f) override {
    // The control sets its own default on every open; only the window's
    // choice matters here.
    if (f == mci::TimeFormat::Tmsf) note("format tmsf");
    return mci::err::None;
  }

 private:
  uint32_t note(const std::string& what) {
    d_->log.push_back(what);
    return mci::err::None;
  }
  std::shared_ptr<Disc> d_;
};

inline void registerFakeCd(std::shared_ptr<Disc> disc) {
  mci::DeviceTable::instance().registerType("CDAudio",
                                            [disc] { return std::make_unique<FakeCd>(disc); });
}

}  // namespace cdtest

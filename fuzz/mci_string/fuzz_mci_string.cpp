// Feeds command strings, one a line, to the device table. A fake device
// answers every status item in every time format so that the parser and
// the reply formatting see all their paths; nothing touches a disc.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"

namespace {

using namespace plimra::mci;

class AnsweringDevice : public Device {
 public:
  uint32_t open(const std::string& element) override {
    return element.size() > 200 ? err::FileNotFound : err::None;
  }
  uint32_t close() override { return err::None; }
  uint32_t play(const PlayParams& p, NotifyFn notify) override {
    if (p.from && p.to && *p.to < *p.from) return err::OutOfRange;
    if (notify) notify(NotifySuccessful);
    return err::None;
  }
  uint32_t stop() override { return err::None; }
  uint32_t pause() override { return err::None; }
  uint32_t resume() override { return err::None; }
  uint32_t seek(const SeekParams& p) override {
    return p.to > 0xFFFFFF ? err::OutOfRange : err::None;
  }
  uint32_t status(const StatusParams& p, StatusValue& out) override {
    ++calls_;
    if (p.track && *p.track > 99) return err::OutOfRange;
    switch (p.item) {
      case StatusItem::Mode:
        // Cycles, so that a "play ... wait" sees the play end at once.
        out = {StatusValue::Kind::Mode, static_cast<uint32_t>(ModeNotReady + calls_ % 7), format_};
        break;
      case StatusItem::MediaPresent:
      case StatusItem::Ready:
        out = {StatusValue::Kind::Boolean, calls_ & 1, format_};
        break;
      case StatusItem::TimeFormat:
        out = {StatusValue::Kind::TimeFormatName, static_cast<uint32_t>(format_), format_};
        break;
      case StatusItem::NumberOfTracks:
      case StatusItem::CurrentTrack:
        out = {StatusValue::Kind::Integer, calls_ * 2654435761u, format_};
        break;
      default:
        out = {StatusValue::Kind::Time, calls_ * 2654435761u, format_};
        break;
    }
    return err::None;
  }
  uint32_t setTimeFormat(TimeFormat f) override {
    format_ = f;
    return err::None;
  }
  uint32_t setPort(int32_t port) override {
    return port > 16 ? err::SeqPortNonexistent : err::None;
  }

 private:
  uint32_t calls_ = 0;
  TimeFormat format_ = TimeFormat::Msf;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = [] {
    for (const char* type : {"cdaudio", "sequencer", "waveaudio"})
      DeviceTable::instance().registerType(type,
                                           [] { return std::make_unique<AnsweringDevice>(); });
    return true;
  }();
  (void)registered;
  auto& table = DeviceTable::instance();
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(lines, line);) {
    std::string reply = "stale";
    table.sendString(line, reply, [](NotifyCode) {});
    // Replies are short text: a formatting slip shows up as garbage here.
    if (reply.size() > 64) __builtin_trap();
    runPostedTasks();
  }
  table.closeAll();
  runPostedTasks();
  return 0;
}

// Feeds command strings, one a line, to the device table, whose devices are
// the tests' fake. Each line draws the device's answers from its own bytes:
// every kind of status value in the format set last, the mode, and refusals.
// A play ends as soon as posted tasks run, so that "play ... wait" returns.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tests/support/fake_device.h"

using namespace plimra::mci;
using plimra::test::DeviceLog;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto log = [] {
    auto l = std::make_shared<DeviceLog>();
    for (const char* type : {"cdaudio", "sequencer", "waveaudio"})
      plimra::test::FakeDevice::install(type, l);
    return l;
  }();
  auto& table = DeviceTable::instance();
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(lines, line);) {
    const auto h = static_cast<uint32_t>(std::hash<std::string>{}(line));
    for (int item = 0; item <= static_cast<int>(StatusItem::StartPosition); ++item)
      log->answer(static_cast<StatusItem>(item), h * 2654435761u * (item + 1),
                  static_cast<StatusValue::Kind>((h >> item) % 5), log->format);
    log->mode = ModeNotReady + static_cast<int32_t>(h % 7);
    log->refuse = [h](const std::string& call) {
      if (call.starts_with("play")) postToGui([] { log->finish(); });
      return h % 5 == 0 ? err::OutOfRange : err::None;
    };
    std::string reply = "stale";
    table.sendString(line, reply, [](NotifyCode) {});
    // Replies are short text: a formatting slip shows up as garbage here.
    if (reply.size() > 64) __builtin_trap();
    runPostedTasks();
    log->calls.clear();
  }
  table.closeAll();
  runPostedTasks();
  return 0;
}

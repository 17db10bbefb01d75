// The device table and its command strings, against a device that records
// what reaches it.
#include <gtest/gtest.h>

#include <thread>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"

using namespace plimra::mci;

namespace {

struct Log {
  std::vector<std::string> calls;
  PlayParams lastPlay;
  SeekParams lastSeek;
  NotifyFn pendingNotify;
  int opened = 0;
  int32_t port = 99;
};

class RecordingDevice : public Device {
 public:
  explicit RecordingDevice(Log& log) : log_(log) {}
  uint32_t open(const std::string& element) override {
    log_.calls.push_back("open " + element);
    ++log_.opened;
    return element == "missing.mid" ? err::FileNotFound : err::None;
  }
  uint32_t close() override {
    log_.calls.push_back("close");
    return err::None;
  }
  uint32_t play(const PlayParams& p, NotifyFn notify) override {
    log_.calls.push_back("play");
    log_.lastPlay = p;
    log_.pendingNotify = std::move(notify);
    mode_ = ModePlaying;
    return err::None;
  }
  uint32_t stop() override {
    log_.calls.push_back("stop");
    mode_ = ModeStopped;
    return err::None;
  }
  uint32_t pause() override {
    log_.calls.push_back("pause");
    return err::None;
  }
  uint32_t resume() override {
    log_.calls.push_back("resume");
    return err::None;
  }
  uint32_t seek(const SeekParams& p) override {
    log_.calls.push_back("seek");
    log_.lastSeek = p;
    return err::None;
  }
  uint32_t status(const StatusParams& p, StatusValue& v) override {
    switch (p.item) {
      case StatusItem::Mode: v = {StatusValue::Kind::Mode, static_cast<uint32_t>(mode_)}; break;
      case StatusItem::Position:
        v = {StatusValue::Kind::Time, makeTmsf(3, 2, 15, 40), format_};
        if (format_ == TimeFormat::Milliseconds) v.value = 182533;
        if (format_ == TimeFormat::Msf) v.value = makeMsf(7, 5, 0);
        break;
      case StatusItem::Length:
        // A disc reports its length as msf whatever the format.
        v = {StatusValue::Kind::Time, makeMsf(52, 34, 12), TimeFormat::Msf};
        if (p.track) v.value = makeMsf(static_cast<uint32_t>(*p.track), 1, 2);
        break;
      case StatusItem::NumberOfTracks: v = {StatusValue::Kind::Integer, 12}; break;
      case StatusItem::MediaPresent: v = {StatusValue::Kind::Boolean, 1}; break;
      case StatusItem::TimeFormat:
        v = {StatusValue::Kind::TimeFormatName, static_cast<uint32_t>(format_)};
        break;
      default: return err::UnsupportedFunction;
    }
    return err::None;
  }
  uint32_t setTimeFormat(TimeFormat f) override {
    if (f == TimeFormat::Bytes) return err::BadTimeFormat;
    format_ = f;
    return err::None;
  }
  uint32_t setPort(int32_t port) override {
    log_.port = port;
    return err::None;
  }

 private:
  Log& log_;
  int32_t mode_ = ModeStopped;
  TimeFormat format_ = TimeFormat::Msf;
};

class DeviceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceTable::instance().resetForTests();
    DeviceTable::instance().registerType("CDAudio",
                                         [this] { return std::make_unique<RecordingDevice>(log); });
    DeviceTable::instance().registerType("Sequencer",
                                         [this] { return std::make_unique<RecordingDevice>(log); });
    runPostedTasks();
  }
  void TearDown() override { DeviceTable::instance().resetForTests(); }
  uint32_t send(const std::string& cmd) { return DeviceTable::instance().sendString(cmd, reply); }
  Log log;
  std::string reply;
};

TEST_F(DeviceTableTest, RepliesAreFormattedTheClassicWay) {
  EXPECT_EQ(send("set cdaudio time format tmsf"), err::None);
  EXPECT_EQ(send("status cdaudio position"), err::None);
  EXPECT_EQ(reply, "03:02:15:40");
  EXPECT_EQ(send("status cdaudio length"), err::None);
  EXPECT_EQ(reply, "52:34:12");
  EXPECT_EQ(send("status cdaudio length track 7"), err::None);
  EXPECT_EQ(reply, "07:01:02");
  EXPECT_EQ(send("status cdaudio number of tracks"), err::None);
  EXPECT_EQ(reply, "12");
  EXPECT_EQ(send("STATUS CDAUDIO MODE"), err::None);
  EXPECT_EQ(reply, "stopped");
  EXPECT_EQ(send("status cdaudio media present"), err::None);
  EXPECT_EQ(reply, "true");
  EXPECT_EQ(send("status cdaudio time format"), err::None);
  EXPECT_EQ(reply, "tmsf");
  EXPECT_EQ(send("set cdaudio time format msf"), err::None);
  EXPECT_EQ(send("status cdaudio position"), err::None);
  EXPECT_EQ(reply, "07:05:00");
  EXPECT_EQ(send("set cdaudio time format milliseconds"), err::None);
  EXPECT_EQ(send("status cdaudio position"), err::None);
  EXPECT_EQ(reply, "182533");
  // One device was opened on first use and served every command.
  EXPECT_EQ(log.opened, 1);
}

TEST_F(DeviceTableTest, PlayAndSeekArgumentsArePacked) {
  EXPECT_EQ(send("play cdaudio from 3"), err::None);
  ASSERT_TRUE(log.lastPlay.from.has_value());
  EXPECT_EQ(*log.lastPlay.from, 3u);  // track 3 in tmsf
  EXPECT_FALSE(log.lastPlay.to.has_value());
  EXPECT_EQ(send("play cdaudio from 01:02:03:04 to 5"), err::None);
  EXPECT_EQ(*log.lastPlay.from, makeTmsf(1, 2, 3, 4));
  EXPECT_EQ(*log.lastPlay.to, 5u);
  EXPECT_EQ(send("seek cdaudio to start"), err::None);
  EXPECT_EQ(log.lastSeek.where, SeekParams::Where::Start);
  EXPECT_EQ(send("seek cdaudio to 00:01:00"), err::None);
  EXPECT_EQ(log.lastSeek.where, SeekParams::Where::To);
  EXPECT_EQ(log.lastSeek.to, makeMsf(0, 1, 0));
  EXPECT_EQ(send("stop cdaudio"), err::None);
  EXPECT_EQ(send("pause cdaudio"), err::None);
  EXPECT_EQ(send("resume cdaudio"), err::None);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"open ", "play", "play", "seek", "seek", "stop",
                                                 "pause", "resume"}));
}

TEST_F(DeviceTableTest, BadCommandsGiveErrorsAndEmptyReplies) {
  struct Case {
    const char* text;
    uint32_t error;
  } cases[] = {
      {"", err::MissingCommandString},
      {"   ", err::MissingCommandString},
      {"status", err::MissingDeviceName},
      {"status cdaudio", err::MissingParameter},
      {"status cdaudio colour", err::UnrecognizedKeyword},
      {"status cdaudio number of", err::UnrecognizedKeyword},
      {"status cdaudio mode track 2", err::FlagsNotCompatible},
      {"status cdaudio length track", err::MissingParameter},
      {"status cdaudio position extra", err::UnrecognizedKeyword},
      {"frobnicate cdaudio", err::UnrecognizedCommand},
      {"play cdaudio from", err::MissingParameter},
      {"play cdaudio from x", err::BadInteger},
      {"play cdaudio from 1::2", err::BadInteger},
      {"play cdaudio from 1:2:3:4:5", err::BadInteger},
      {"play cdaudio from 256:0", err::BadInteger},
      {"play cdaudio from 99999999999", err::BadInteger},
      {"play cdaudio from 1 from 2", err::DuplicateFlags},
      {"play cdaudio sideways", err::UnrecognizedKeyword},
      {"seek cdaudio", err::MissingParameter},
      {"seek cdaudio to", err::MissingParameter},
      {"set cdaudio time format furlongs", err::BadTimeFormat},
      {"set cdaudio time format bytes", err::BadTimeFormat},
      {"set cdaudio", err::MissingParameter},
      {"status \"cdaudio", err::NoClosingQuote},
      {"status dvd mode", err::InvalidDeviceName},
      {"close dvd", err::InvalidDeviceName},
  };
  for (const Case& c : cases) {
    reply = "stale";
    EXPECT_EQ(send(c.text), c.error) << c.text;
    EXPECT_EQ(reply, "") << c.text;
  }
  EXPECT_EQ(send(std::string(5000, 'x')), err::ParamOverflow);
}

TEST_F(DeviceTableTest, OpenByFileAliasAndClose) {
  EXPECT_EQ(send("open \"C:/songs/a b.mid\" type sequencer alias song"), err::None);
  uint16_t first = static_cast<uint16_t>(std::stoi(reply));
  EXPECT_NE(first, 0);
  EXPECT_EQ(log.calls.back(), "open C:/songs/a b.mid");
  EXPECT_EQ(send("open other.mid alias song"), err::DeviceOpen);
  EXPECT_EQ(send("open other.mid"), err::None);  // type from the extension
  EXPECT_NE(std::stoi(reply), first);
  EXPECT_EQ(send("open missing.mid"), err::FileNotFound);  // nothing left open
  EXPECT_EQ(DeviceTable::instance().findByName("missing.mid"), nullptr);
  EXPECT_EQ(send("open readme.txt"), err::InvalidDeviceName);
  EXPECT_EQ(send("close SONG"), err::None);
  EXPECT_EQ(DeviceTable::instance().find(first), nullptr);
  EXPECT_EQ(send("close song"), err::InvalidDeviceName);
  EXPECT_EQ(send("close all"), err::None);
  EXPECT_EQ(DeviceTable::instance().findByName("other.mid"), nullptr);
}

TEST_F(DeviceTableTest, NotificationsArriveOnceAndOnlyThroughTheQueue) {
  std::vector<NotifyCode> codes;
  EXPECT_EQ(DeviceTable::instance().sendString("play cdaudio notify", reply,
                                               [&](NotifyCode c) { codes.push_back(c); }),
            err::None);
  ASSERT_TRUE(log.pendingNotify);
  // The device finishes on a thread of its own, twice by mistake.
  std::thread t([&] {
    log.pendingNotify(NotifySuccessful);
    log.pendingNotify(NotifyAborted);
  });
  t.join();
  EXPECT_TRUE(codes.empty());  // nothing runs on the engine thread
  runPostedTasks();
  EXPECT_EQ(codes, std::vector<NotifyCode>{NotifySuccessful});

  codes.clear();
  EXPECT_EQ(DeviceTable::instance().sendString("stop cdaudio notify", reply,
                                               [&](NotifyCode c) { codes.push_back(c); }),
            err::None);
  EXPECT_EQ(DeviceTable::instance().sendString("status cdaudio bogus notify", reply,
                                               [&](NotifyCode c) { codes.push_back(c); }),
            err::UnrecognizedKeyword);
  EXPECT_EQ(DeviceTable::instance().sendString("set cdaudio time format bytes notify", reply,
                                               [&](NotifyCode c) { codes.push_back(c); }),
            err::BadTimeFormat);
  runPostedTasks();
  // A command that was parsed reports its outcome; one that was not, nothing.
  EXPECT_EQ(codes, (std::vector<NotifyCode>{NotifySuccessful, NotifyFailure}));
}

TEST_F(DeviceTableTest, PortCommandReachesTheOpenSequence) {
  uint16_t id = 0;
  ASSERT_EQ(DeviceTable::instance().open("sequencer", "x.mid", "", id), err::None);
  SeqSetParms parms;
  parms.dwPort = static_cast<uint32_t>(-1);
  EXPECT_EQ(DeviceTable::instance().sendCommand(id, MCI_SET, MCI_SEQ_SET_PORT, &parms), err::None);
  EXPECT_EQ(log.port, -1);
  parms.dwPort = 2;
  EXPECT_EQ(DeviceTable::instance().sendCommand(id, MCI_SET, MCI_SEQ_SET_PORT, &parms), err::None);
  EXPECT_EQ(log.port, 2);
  EXPECT_EQ(DeviceTable::instance().sendCommand(0, MCI_SET, MCI_SEQ_SET_PORT, &parms),
            err::InvalidDeviceId);
  EXPECT_EQ(DeviceTable::instance().sendCommand(id, MCI_SET, MCI_SEQ_SET_PORT, nullptr),
            err::MissingParameter);
  EXPECT_EQ(send("set x.mid port mapper"), err::None);
  EXPECT_EQ(log.port, -1);
  EXPECT_EQ(send("set x.mid port 3"), err::None);
  EXPECT_EQ(log.port, 3);
  EXPECT_EQ(send("set x.mid port -1"), err::BadInteger);
}

}  // namespace

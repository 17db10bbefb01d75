// The device table and its command strings, against a device that records
// what reaches it.
#include <gtest/gtest.h>

#include <thread>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tests/support/fake_device.h"

using namespace plimra::mci;

namespace {

class DeviceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log->errors = {{"format 8", err::BadTimeFormat}, {"open missing.mid", err::FileNotFound}};
    plimra::test::FakeDevice::install("CDAudio", log);
    plimra::test::FakeDevice::install("Sequencer", log);
  }
  void TearDown() override {
    DeviceTable::instance().closeAll();
    runPostedTasks();
  }
  uint32_t send(const std::string& cmd) { return DeviceTable::instance().sendString(cmd, reply); }
  std::shared_ptr<plimra::test::DeviceLog> log = std::make_shared<plimra::test::DeviceLog>();
  std::string reply;
};

TEST_F(DeviceTableTest, RepliesAreFormattedTheClassicWay) {
  using K = StatusValue::Kind;
  struct Case {
    StatusItem item;
    StatusValue value;
    const char* command;
    const char* reply;
  } cases[] = {
      {StatusItem::Position,
       {K::Time, makeTmsf(3, 2, 15, 40), TimeFormat::Tmsf},
       "status cdaudio position",
       "03:02:15:40"},
      {StatusItem::Position,
       {K::Time, makeMsf(7, 5, 0), TimeFormat::Msf},
       "status cdaudio position",
       "07:05:00"},
      {StatusItem::Position,
       {K::Time, 182533, TimeFormat::Milliseconds},
       "status cdaudio position",
       "182533"},
      {StatusItem::NumberOfTracks, {K::Integer, 12}, "status cdaudio number of tracks", "12"},
      {StatusItem::MediaPresent, {K::Boolean, 1}, "status cdaudio media present", "true"},
      {StatusItem::Mode, {}, "STATUS CDAUDIO MODE", "stopped"},
  };
  for (const Case& c : cases) {
    log->values[c.item] = c.value;
    EXPECT_EQ(send(c.command), err::None) << c.command;
    EXPECT_EQ(reply, c.reply) << c.command;
  }
  EXPECT_EQ(send("set cdaudio time format tmsf"), err::None);
  EXPECT_EQ(send("status cdaudio time format"), err::None);
  EXPECT_EQ(reply, "tmsf");
  EXPECT_EQ(send("status cdaudio length track 7"), err::None);
  EXPECT_EQ(log->lastStatus.track, 7u);
  // One device was opened on first use and served every command.
  EXPECT_EQ(log->take({"open"}).size(), 1u);
}

TEST_F(DeviceTableTest, CommandsReachTheDeviceWithTheirArgumentsPacked) {
  for (const char* cmd :
       {"set cdaudio time format tmsf", "play cdaudio from 3", "play cdaudio from 01:02:03:04 to 5",
        "seek cdaudio to start", "seek cdaudio to 00:01:00", "stop cdaudio", "pause cdaudio",
        "resume cdaudio"})
    EXPECT_EQ(send(cmd), err::None) << cmd;
  EXPECT_EQ(
      log->take({"play", "seek", "stop", "pause", "resume"}),
      (std::vector<std::string>{
          "play from 3", "play from " + std::to_string(makeTmsf(1, 2, 3, 4)) + " to 5",
          "seek start", "seek to " + std::to_string(makeMsf(0, 1, 0)), "stop", "pause", "resume"}));
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
  EXPECT_EQ(log->calls.back(), "open C:/songs/a b.mid");
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
  ASSERT_TRUE(log->pending);
  // The device finishes on a thread of its own, twice by mistake.
  std::thread t([&] {
    log->pending(NotifySuccessful);
    log->pending(NotifyAborted);
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
  parms.dwPort = 2;
  EXPECT_EQ(DeviceTable::instance().sendCommand(id, MCI_SET, MCI_SEQ_SET_PORT, &parms), err::None);
  EXPECT_EQ(DeviceTable::instance().sendCommand(0, MCI_SET, MCI_SEQ_SET_PORT, &parms),
            err::InvalidDeviceId);
  EXPECT_EQ(DeviceTable::instance().sendCommand(id, MCI_SET, MCI_SEQ_SET_PORT, nullptr),
            err::MissingParameter);
  EXPECT_EQ(send("set x.mid port mapper"), err::None);
  EXPECT_EQ(send("set x.mid port 3"), err::None);
  EXPECT_EQ(send("set x.mid port -1"), err::BadInteger);
  EXPECT_EQ(log->take({"port"}),
            (std::vector<std::string>{"port -1", "port 2", "port -1", "port 3"}));
}

}  // namespace

// The CD audio device against generated disc images, through command
// strings. The drive is detached from the audio output, so the test pulls
// the samples itself and checks them exactly, without waiting in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/cdaudio/drive.h"
#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tools/mkdisc/disc_image.h"

using namespace plimra;
using mkdisc::identSample;
namespace fs = std::filesystem;

namespace {

constexpr int kSpf = cdaudio::kFramesPerSector;

class CdAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("plimra-cd-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    cue_ = (dir_ / "disc.cue").string();
    setenv("PLIMRA_CDROM", cue_.c_str(), 1);
    mci::DeviceTable::instance().closeAll();
    cdaudio::registerCdAudio();
    cdaudio::Drive::setCheckInterval(std::chrono::milliseconds(20));
  }
  void TearDown() override {
    mci::DeviceTable::instance().closeAll();
    mci::runPostedTasks();
    drive_.reset();
    fs::remove_all(dir_);
  }

  // Tracks of `sectors` each; negative means a data track.
  void makeDisc(std::vector<int> sectors, int pregap = 0) {
    mkdisc::DiscSpec layout;
    for (int s : sectors)
      layout.tracks.push_back({std::abs(s), s < 0, layout.tracks.empty() ? 0 : pregap});
    ASSERT_EQ(mkdisc::writeDisc(cue_, layout), "");
  }
  void insert(std::vector<int> sectors, int pregap = 0) {
    makeDisc(std::move(sectors), pregap);
    drive_ = cdaudio::Drive::acquire(cue_);
    drive_->setOutputAttached(false);
    offset_ = 0;
  }

  std::string send(const std::string& command, uint32_t expect = 0) {
    std::string reply;
    uint32_t e = mci::DeviceTable::instance().sendString(
        command, reply, [this](mci::NotifyCode c) { notes_.push_back(c); });
    EXPECT_EQ(e, expect) << command;
    return reply;
  }

  // Pulls `frames` frames as the audio output would, waiting for the reader
  // when it is behind. Returns the left and right samples as integers.
  std::vector<std::pair<int, int>> pull(int frames) {
    std::vector<std::pair<int, int>> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frames > 0 && std::chrono::steady_clock::now() < deadline) {
      if (drive_->readySectors() == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      int n = std::min(frames, kSpf - offset_);
      std::vector<float> buf(static_cast<size_t>(n) * 2, 0.0f);
      drive_->render(buf.data(), n);
      for (int i = 0; i < n; ++i)
        got.emplace_back(static_cast<int>(buf[2 * i] * 32768.0f),
                         static_cast<int>(buf[2 * i + 1] * 32768.0f));
      offset_ = (offset_ + n) % kSpf;
      frames -= n;
    }
    return got;
  }
  void expectTrackSamples(const std::vector<std::pair<int, int>>& got, int track, uint32_t frame0) {
    for (size_t i = 0; i < got.size(); ++i) {
      uint32_t f = frame0 + static_cast<uint32_t>(i);
      ASSERT_EQ(got[i].first, identSample(track, f, 0)) << "frame " << i;
      ASSERT_EQ(got[i].second, identSample(track, f, 1)) << "frame " << i;
    }
  }
  // Waits until the device leaves `mode`, running notifications meanwhile.
  void waitWhile(const std::string& mode) {
    for (int i = 0; i < 300 && send("status cdaudio mode") == mode; ++i)
      mci::waitAndRunPostedTasks(10);
    mci::runPostedTasks();
  }
  // The device changes its mode before it posts the notification, so a
  // test that saw the mode change may still have to wait for the post.
  void waitForNotes(size_t count) {
    for (int i = 0; i < 300 && notes_.size() < count; ++i) mci::waitAndRunPostedTasks(10);
  }
  // A disc written while the drive looks may read as not ready for a moment.
  void waitFor(const std::string& mode) {
    for (int i = 0; i < 300 && send("status cdaudio mode") != mode; ++i)
      mci::waitAndRunPostedTasks(10);
    mci::runPostedTasks();
  }

  fs::path dir_;
  std::string cue_;
  std::shared_ptr<cdaudio::Drive> drive_;
  std::vector<mci::NotifyCode> notes_;
  int offset_ = 0;
};

TEST_F(CdAudioTest, RepliesDescribeTheDisc) {
  // 12 tracks, the fourth a data track; 2-second pregaps after the first.
  insert({150, 300, 75, -150, 100, 100, 100, 100, 100, 100, 100, 3750}, 150);
  EXPECT_EQ(send("status cdaudio number of tracks"), "12");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  EXPECT_EQ(send("status cdaudio media present"), "true");
  // Sectors: 150 + 11 * 150 pregap + 300 + 75 + 150 + 7 * 100 + 3750 = 6775
  // = 1:30:25, as msf whatever the time format.
  EXPECT_EQ(send("status cdaudio length"), "01:30:25");
  send("set cdaudio time format tmsf");
  EXPECT_EQ(send("status cdaudio length"), "01:30:25");
  EXPECT_EQ(send("status cdaudio length track 12"), "00:50:00");
  EXPECT_EQ(send("status cdaudio length track 2"), "00:06:00");  // includes track 3's pregap
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
  EXPECT_EQ(send("status cdaudio current track"), "1");
  EXPECT_EQ(send("status cdaudio position track 3"), "03:00:00:00");
  send("set cdaudio time format msf");
  EXPECT_EQ(send("status cdaudio position"), "00:02:00");
  EXPECT_EQ(send("status cdaudio position track 2"), "00:06:00");
  send("set cdaudio time format milliseconds");
  EXPECT_EQ(send("status cdaudio position track 2"), "4000");
  EXPECT_EQ(send("status cdaudio time format"), "milliseconds");
}

TEST_F(CdAudioTest, BadCommandsGiveErrorsAndEmptyReplies) {
  insert({75, 75});
  EXPECT_EQ(send("status cdaudio length track 3", mci::err::OutOfRange), "");
  EXPECT_EQ(send("status cdaudio length track 0", mci::err::OutOfRange), "");
  EXPECT_EQ(send("play cdaudio from 9", mci::err::OutOfRange), "");
  EXPECT_EQ(send("play cdaudio from 1:00:60:00", mci::err::OutOfRange), "");
  EXPECT_EQ(send("set cdaudio time format bytes", mci::err::BadTimeFormat), "");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");  // nothing above changed the state
  EXPECT_TRUE(notes_.empty());
}

TEST_F(CdAudioTest, PlayFromTrackStartsAtItsFirstSampleAndCrossesIntoTheNext) {
  insert({75, 10, 75}, 30);  // silent pregaps before tracks 2 and 3
  send("set cdaudio time format tmsf");
  send("play cdaudio from 2");
  EXPECT_EQ(send("status cdaudio mode"), "playing");
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:00");
  expectTrackSamples(pull(5 * kSpf + 100), 2, 0);
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:05");
  expectTrackSamples(pull(5 * kSpf - 100), 2, 5 * kSpf + 100);
  // Track 2 is over; track 3's pregap is silence, then track 3 itself.
  auto gap = pull(30 * kSpf);
  EXPECT_EQ(std::count(gap.begin(), gap.end(), std::make_pair(0, 0)), 30 * kSpf);
  expectTrackSamples(pull(3 * kSpf), 3, 0);
  EXPECT_EQ(send("status cdaudio position"), "03:00:00:03");
  EXPECT_EQ(send("status cdaudio current track"), "3");
}

TEST_F(CdAudioTest, StopAndPauseKeepThePosition) {
  insert({150, 150});
  send("set cdaudio time format tmsf");
  send("play cdaudio from 1 notify");
  pull(20 * kSpf);
  send("pause cdaudio");
  EXPECT_EQ(send("status cdaudio mode"), "paused");
  // Paused: nothing comes out and the head stays.
  std::vector<float> silent(2 * 1000, 0.0f);
  drive_->render(silent.data(), 1000);
  EXPECT_EQ(std::count(silent.begin(), silent.end(), 0.0f), 2000);
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:20");
  send("resume cdaudio");
  expectTrackSamples(pull(300), 1, 20 * kSpf);  // exactly where it paused
  mci::runPostedTasks();
  EXPECT_TRUE(notes_.empty());  // pause does not end the play
  send("pause cdaudio");
  send("play cdaudio");  // while paused: as resume, sample for sample
  expectTrackSamples(pull(300), 1, 20 * kSpf + 300);
  mci::runPostedTasks();
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], mci::NotifyAborted);
  notes_.clear();
  send("stop cdaudio");
  mci::runPostedTasks();
  EXPECT_TRUE(notes_.empty());  // the notification went with the first play
  send("play cdaudio from 1:00:00:20 notify");
  offset_ = 0;
  expectTrackSamples(pull(kSpf), 1, 20 * kSpf);

  send("stop cdaudio");
  mci::runPostedTasks();
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], mci::NotifyAborted);
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:21");  // in sector 21
  offset_ = 0;
  send("play cdaudio");
  expectTrackSamples(pull(kSpf), 1, 21 * kSpf);  // plays on from the sector it stopped in

  send("seek cdaudio to start");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
}

TEST_F(CdAudioTest, NewPlayAbortsTheOldOneAndTheEndNotifiesSuccess) {
  insert({40, 30});
  send("set cdaudio time format tmsf");
  send("play cdaudio from 1 notify");
  pull(kSpf);
  notes_.clear();
  send("play cdaudio from 2 notify");
  mci::runPostedTasks();
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], mci::NotifyAborted);
  offset_ = 0;
  expectTrackSamples(pull(30 * kSpf), 2, 0);
  waitWhile("playing");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  waitForNotes(2);
  ASSERT_EQ(notes_.size(), 2u);
  EXPECT_EQ(notes_[1], mci::NotifySuccessful);
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:30");  // at the end, not rewound
}

TEST_F(CdAudioTest, DataTrackIsCountedButNeverPlayed) {
  insert({20, -30, 20});
  EXPECT_EQ(send("status cdaudio number of tracks"), "3");
  send("set cdaudio time format tmsf");
  send("play cdaudio from 2");  // the data track: starts at track 3
  EXPECT_EQ(send("status cdaudio position"), "03:00:00:00");
  offset_ = 0;
  expectTrackSamples(pull(kSpf), 3, 0);
  send("play cdaudio from 1");
  offset_ = 0;
  expectTrackSamples(pull(20 * kSpf), 1, 0);
  expectTrackSamples(pull(20 * kSpf), 3, 0);
}

TEST_F(CdAudioTest, UnreadableSectorsPlayAsSilenceAndPlaybackGoesOn) {
  // The disc is not looked at again, so it stays the same disc while its
  // image loses the second half of track 2: those sectors cannot be read.
  cdaudio::Drive::setCheckInterval(std::chrono::hours(1));
  insert({20, 20});
  send("set cdaudio time format tmsf");
  fs::resize_file(dir_ / "disc.bin", static_cast<uintmax_t>(30) * cdaudio::kBytesPerSector);
  send("play cdaudio from 2 notify");
  expectTrackSamples(pull(10 * kSpf), 2, 0);
  auto rest = pull(10 * kSpf);
  ASSERT_EQ(rest.size(), static_cast<size_t>(10 * kSpf));
  for (auto& s : rest) ASSERT_EQ(s, std::make_pair(0, 0));
  waitWhile("playing");
  waitForNotes(1);
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], mci::NotifySuccessful);
}

TEST_F(CdAudioTest, DiscChangesAreNoticed) {
  insert({75, 75, 75});
  EXPECT_EQ(send("status cdaudio number of tracks"), "3");
  send("play cdaudio notify");
  fs::remove(dir_ / "disc.cue");
  waitWhile("playing");
  EXPECT_EQ(send("status cdaudio mode"), "not ready");
  EXPECT_EQ(send("status cdaudio media present"), "false");
  EXPECT_EQ(send("status cdaudio number of tracks", mci::err::DeviceNotReady), "");
  EXPECT_EQ(send("status cdaudio position", mci::err::DeviceNotReady), "");
  send("play cdaudio from 1", mci::err::DeviceNotReady);
  waitForNotes(1);
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], mci::NotifyFailure);

  makeDisc({75, 75, 75, 75, 75});  // a new disc with more tracks
  waitFor("stopped");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  EXPECT_EQ(send("status cdaudio number of tracks"), "5");
}

TEST_F(CdAudioTest, EjectedImageIsAbsentUntilItChanges) {
  insert({75, 75});
  send("set cdaudio door open");
  EXPECT_EQ(send("status cdaudio mode"), "open");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // several disc checks
  EXPECT_EQ(send("status cdaudio mode"), "open");
  makeDisc({75});  // written anew: a disc is in again
  waitFor("stopped");
  EXPECT_EQ(send("status cdaudio number of tracks"), "1");

  send("set cdaudio door open");
  send("set cdaudio door closed");
  waitFor("stopped");
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
}

TEST_F(CdAudioTest, DevicesOnOneDriveShareTheHead) {
  insert({75, 75});
  uint16_t id = 0;
  auto& table = mci::DeviceTable::instance();
  ASSERT_EQ(table.open("CDAudio", "", "", id), 0u);
  mci::Device* control = table.find(id);
  send("set cdaudio time format tmsf");
  send("play cdaudio from 2");
  EXPECT_EQ(control->mode(), mci::ModePlaying);
  control->stop();
  EXPECT_EQ(send("status cdaudio mode"), "stopped");
  EXPECT_EQ(control->next(), 0u);  // already in the last track: stays
  EXPECT_EQ(control->prev(), 0u);  // near track 2's start: back to track 1
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
  EXPECT_EQ(control->next(), 0u);
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:00");
  EXPECT_EQ(table.close(id), 0u);
  EXPECT_EQ(send("status cdaudio mode"), "stopped");  // the string's device is still open
}

TEST_F(CdAudioTest, MissingOrBrokenImageIsNotReady) {
  drive_ = cdaudio::Drive::acquire(cue_);
  EXPECT_EQ(send("status cdaudio mode"), "not ready");
  EXPECT_EQ(send("status cdaudio length", mci::err::DeviceNotReady), "");
  EXPECT_EQ(send("seek cdaudio to start", mci::err::DeviceNotReady), "");
  EXPECT_EQ(send("set cdaudio door open"), "");
  send("close cdaudio");
  drive_.reset();

  for (const char* sheet : {"FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
                            "TRACK 01 AUDIO\nINDEX 01 99:99:99\n\x01\xff garbage", ""}) {
    std::ofstream(cue_) << sheet;
    send("close all");
    EXPECT_EQ(send("status cdaudio mode"), "not ready") << sheet;
    EXPECT_EQ(send("status cdaudio number of tracks", mci::err::DeviceNotReady), "");
    send("play cdaudio", mci::err::DeviceNotReady);
  }
}

// Opening a FIFO for reading waits for a writer: the drive's open and its
// disc checks must never do that, nor read a "sheet" of any size.
TEST_F(CdAudioTest, HostileImageFilesAreRefusedWithoutBlocking) {
  makeDisc({75});
  const std::string bin = (dir_ / "disc.bin").string();
  const std::string big = (dir_ / "big.cue").string();
  {
    std::ofstream(big) << "FILE \"disc.bin\" BINARY";  // and 64 MiB without a newline
    fs::resize_file(big, 64u << 20);
  }
  struct Case {
    std::string source, fifo, problem;
  };
  for (const Case& c : {Case{cue_, cue_, "not a regular file"},
                        Case{cue_, bin, "not a regular file"}, Case{big, "", "too large"}}) {
    if (!c.fifo.empty()) {
      fs::remove(c.fifo);
      ASSERT_EQ(mkfifo(c.fifo.c_str(), 0600), 0);
    }
    // Should the open block on the FIFO, a writer comes at last, so the
    // test fails instead of hanging.
    std::atomic<bool> done{false}, unblocked{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (done || c.fifo.empty()) return;
      int fd = open(c.fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        unblocked = true;
        close(fd);
      }
    });
    setenv("PLIMRA_CDROM", c.source.c_str(), 1);
    send("close all");
    EXPECT_EQ(send("status cdaudio mode"), "not ready") << c.source;
    done = true;
    watchdog.join();
    EXPECT_FALSE(unblocked) << c.fifo;
    EXPECT_NE(cdaudio::Drive::acquire(c.source)->status().problem.find(c.problem),
              std::string::npos)
        << c.source;
    if (!c.fifo.empty()) fs::remove(c.fifo);
    makeDisc({75});
  }
}

}  // namespace

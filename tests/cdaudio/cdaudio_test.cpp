// The CD audio engine against generated disc images: the device through
// command strings and the drive's checked reads. The drive is detached from
// the audio output (the end-to-end CD tests hear it), so a test pulls the
// samples itself and checks them exactly, without waiting in real time.
//
// A damaged disc is made between our code and libcdio: this file's
// cdio_read_audio_sectors stands in for libcdio's (and for the one paranoia
// calls) and fails or hangs on the sectors a test marks bad.
#include <cdio/cdio.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "media/cdaudio/drive.h"
#include "media/cdaudio/paranoia_reader.h"
#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tools/mkdisc/disc_image.h"

using namespace plimra;
using mkdisc::identSample;
namespace fs = std::filesystem;

namespace {

struct Damage {
  std::mutex m;
  std::condition_variable cv;
  int32_t from = 0, to = 0;  // bad sectors
  bool hang = false;         // reads of them wait until released
  bool released = false;
  int inside = 0;  // reads waiting now
  int calls = 0;   // reads that touched a bad sector
  int destroyed = 0;

  void set(int32_t first, int32_t end, bool hangs = false) {
    std::lock_guard lock(m);
    from = first;
    to = end;
    hang = hangs;
    released = false;
    inside = calls = destroyed = 0;
  }
  template <class Pred>
  bool waitUntil(Pred pred) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, std::chrono::seconds(10), pred);
  }
  void release() {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  }
} damage;

}  // namespace

extern "C" driver_return_code_t cdio_read_audio_sectors(const CdIo_t* cdio, void* buf, lsn_t lsn,
                                                        uint32_t blocks) {
  static const auto next =
      reinterpret_cast<driver_return_code_t (*)(const CdIo_t*, void*, lsn_t, uint32_t)>(
          dlsym(RTLD_NEXT, "cdio_read_audio_sectors"));
  {
    std::unique_lock lock(damage.m);
    if (lsn < damage.to && lsn + static_cast<int64_t>(blocks) > damage.from) {
      ++damage.calls;
      if (damage.hang) {
        ++damage.inside;
        damage.cv.notify_all();
        // Ten seconds at most, so that a close that waits for the read fails
        // the test instead of hanging it.
        damage.cv.wait_for(lock, std::chrono::seconds(10), [] { return damage.released; });
        damage.released = true;
        --damage.inside;
      }
      return DRIVER_OP_ERROR;
    }
  }
  return next(cdio, buf, lsn, blocks);
}

extern "C" void cdio_destroy(CdIo_t* cdio) {
  static const auto next = reinterpret_cast<void (*)(CdIo_t*)>(dlsym(RTLD_NEXT, "cdio_destroy"));
  next(cdio);
  std::lock_guard lock(damage.m);
  ++damage.destroyed;
  damage.cv.notify_all();
}

namespace {

constexpr int kSpf = cdaudio::kFramesPerSector;

class CdAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    damage.set(0, 0);
    dir_ = fs::temp_directory_path() /
           ("plimra-cd-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    cue_ = (dir_ / "disc.cue").string();
    setenv("PLIMRA_CDROM", cue_.c_str(), 1);
    mci::DeviceTable::instance().closeAll();
    cdaudio::registerCdAudio();
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
  std::string mode() { return send("status cdaudio mode"); }
  // Runs notifications until `done` holds, five seconds at most. The
  // device changes its mode before it posts the notification, and a disc
  // written while the drive looks may read as not ready for a moment.
  template <class F>
  bool waitUntil(F done) {
    for (int i = 0; i < 500 && !done(); ++i) mci::waitAndRunPostedTasks(10);
    mci::runPostedTasks();
    return done();
  }

  // Pulls `frames` frames as the audio output would, waiting for the reader
  // when it is behind, and checks that they are track `track`'s from its
  // frame `frame0` on (track 0: silence).
  void expectPlays(int frames, int track, uint32_t frame0 = 0) {
    std::vector<std::pair<int, int>> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (static_cast<int>(got.size()) < frames && std::chrono::steady_clock::now() < deadline) {
      if (drive_->readySectors() == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      const int n = std::min(frames - static_cast<int>(got.size()), kSpf - offset_);
      std::vector<float> buf(static_cast<size_t>(n) * 2, 0.0f);
      drive_->render(buf.data(), n);
      for (int i = 0; i < n; ++i)
        got.emplace_back(static_cast<int>(buf[2 * i] * 32768.0f),
                         static_cast<int>(buf[2 * i + 1] * 32768.0f));
      offset_ = (offset_ + n) % kSpf;
    }
    ASSERT_EQ(got.size(), static_cast<size_t>(frames));
    for (size_t i = 0; i < got.size(); ++i) {
      const uint32_t f = frame0 + static_cast<uint32_t>(i);
      const auto want =
          track ? std::make_pair(int{identSample(track, f, 0)}, int{identSample(track, f, 1)})
                : std::make_pair(0, 0);
      ASSERT_EQ(got[i], want) << "frame " << i;
    }
  }

  fs::path dir_;
  std::string cue_;
  std::shared_ptr<cdaudio::Drive> drive_;
  std::vector<mci::NotifyCode> notes_;
  int offset_ = 0;  // frames of the sector being pulled; a new play starts at 0
};

TEST_F(CdAudioTest, RepliesDescribeTheDisc) {
  // 12 tracks, the fourth a data track; 2-second pregaps after the first.
  insert({150, 300, 75, -150, 100, 100, 100, 100, 100, 100, 100, 3750}, 150);
  EXPECT_EQ(send("status cdaudio number of tracks"), "12");
  EXPECT_EQ(mode(), "stopped");
  // Sectors: 150 + 11 * 150 pregap + 300 + 75 + 150 + 7 * 100 + 3750 = 6775
  // = 1:30:25, as msf whatever the time format.
  EXPECT_EQ(send("status cdaudio length"), "01:30:25");
  send("set cdaudio time format tmsf");
  EXPECT_EQ(send("status cdaudio length"), "01:30:25");
  EXPECT_EQ(send("status cdaudio length track 12"), "00:50:00");
  EXPECT_EQ(send("status cdaudio length track 2"), "00:06:00");  // includes track 3's pregap
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
  EXPECT_EQ(send("status cdaudio position track 3"), "03:00:00:00");
  send("set cdaudio time format msf");
  EXPECT_EQ(send("status cdaudio position"), "00:02:00");
  EXPECT_EQ(send("status cdaudio position track 2"), "00:06:00");
  send("set cdaudio time format milliseconds");
  EXPECT_EQ(send("status cdaudio position track 2"), "4000");
}

TEST_F(CdAudioTest, BadCommandsGiveErrorsEmptyRepliesAndChangeNothing) {
  insert({60 * 75, 75});  // a minute long, so that "1:00:60:00" would lie on the disc
  struct Case {
    const char *format, *command;
    uint32_t error;
  };
  for (const Case& c : {
           Case{"msf", "status cdaudio length track 3", mci::err::OutOfRange},
           Case{"msf", "status cdaudio length track 0", mci::err::OutOfRange},
           Case{"msf", "play cdaudio from 9", mci::err::OutOfRange},        // past the end
           Case{"msf", "play cdaudio from 0:01:00", mci::err::OutOfRange},  // before the disc
           Case{"tmsf", "play cdaudio from 3", mci::err::OutOfRange},       // no such track
           Case{"tmsf", "play cdaudio from 1:00:60:00", mci::err::OutOfRange},
           Case{"tmsf", "play cdaudio from 1:00:00:75", mci::err::OutOfRange},
           Case{"milliseconds", "play cdaudio from 4294967295", mci::err::OutOfRange},
           Case{"msf", "set cdaudio time format bytes", mci::err::BadTimeFormat},
       }) {
    send(std::string("set cdaudio time format ") + c.format);
    EXPECT_EQ(send(c.command, c.error), "");
  }
  EXPECT_EQ(mode(), "stopped");
  EXPECT_TRUE(notes_.empty());
}

TEST_F(CdAudioTest, PlayFromTrackStartsAtItsFirstSampleAndCrossesIntoTheNext) {
  insert({75, 10, 75}, 30);  // silent pregaps before tracks 2 and 3
  send("set cdaudio time format tmsf");
  send("play cdaudio from 2");
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:00");
  expectPlays(5 * kSpf + 100, 2);
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:05");
  expectPlays(5 * kSpf - 100, 2, 5 * kSpf + 100);
  // Track 2 is over; track 3's pregap is silence, then track 3 itself.
  expectPlays(30 * kSpf, 0);
  expectPlays(3 * kSpf, 3);
  EXPECT_EQ(send("status cdaudio position"), "03:00:00:03");
  EXPECT_EQ(send("status cdaudio current track"), "3");
}

// A data track is counted but never played; sectors that will not read play
// as silence, and the play goes on to its end.
TEST_F(CdAudioTest, DataTracksAreSkippedAndUnreadableSectorsPlayAsSilence) {
  insert({20, -30, 20});
  damage.set(60, 70);  // the second half of track 3
  send("set cdaudio time format tmsf");
  send("play cdaudio from 2");  // the data track: starts at track 3
  EXPECT_EQ(send("status cdaudio position"), "03:00:00:00");
  expectPlays(kSpf, 3);
  send("play cdaudio from 1 notify");
  expectPlays(20 * kSpf, 1);
  expectPlays(10 * kSpf, 3);
  expectPlays(10 * kSpf, 0);
  EXPECT_TRUE(waitUntil([&] { return !notes_.empty(); }));
  EXPECT_EQ(notes_, std::vector<mci::NotifyCode>({mci::NotifySuccessful}));
}

// Pause holds the play; a play while paused goes on as resume; a new play
// or a stop cuts the old one short; the end notifies success.
TEST_F(CdAudioTest, PlaysPausesAndStopsKeepThePositionAndNotify) {
  insert({150, 30});
  send("set cdaudio time format tmsf");
  send("play cdaudio from 1 notify");
  expectPlays(20 * kSpf, 1);
  send("pause cdaudio");
  EXPECT_EQ(mode(), "paused");
  std::vector<float> paused(2 * 1000, 0.0f);
  drive_->render(paused.data(), 1000);  // adds nothing to the mix
  EXPECT_EQ(std::count(paused.begin(), paused.end(), 0.0f), 2000);
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:20");
  send("resume cdaudio");
  expectPlays(300, 1, 20 * kSpf);  // exactly where it paused
  send("pause cdaudio");
  mci::runPostedTasks();
  EXPECT_TRUE(notes_.empty());
  send("play cdaudio notify");  // while paused: as resume, sample for sample
  expectPlays(300, 1, 20 * kSpf + 300);
  send("play cdaudio from 2 notify");
  mci::runPostedTasks();
  EXPECT_EQ(notes_, std::vector<mci::NotifyCode>({mci::NotifyAborted, mci::NotifyAborted}));
  offset_ = 0;
  expectPlays(30 * kSpf, 2);
  EXPECT_TRUE(waitUntil([&] { return notes_.size() == 3; }));
  EXPECT_EQ(notes_.back(), mci::NotifySuccessful);
  EXPECT_EQ(mode(), "stopped");
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:30");  // at the end, not rewound

  send("play cdaudio from 1:00:00:20 notify");
  offset_ = 0;
  expectPlays(kSpf + 1, 1, 20 * kSpf);
  send("stop cdaudio");
  mci::runPostedTasks();
  EXPECT_EQ(notes_.back(), mci::NotifyAborted);
  EXPECT_EQ(mode(), "stopped");
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:21");  // in sector 21
  offset_ = 0;
  send("play cdaudio");
  expectPlays(kSpf, 1, 21 * kSpf);  // plays on from the sector it stopped in
  send("seek cdaudio to start");
  EXPECT_EQ(mode(), "stopped");
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
}

// A disc taken out while playing fails the play; an ejected image stays
// absent until it is written anew; either way the new disc is read.
TEST_F(CdAudioTest, DiscsTakenOutOrEjectedAreAbsentUntilANewOneIsRead) {
  insert({75, 75, 75});
  send("play cdaudio notify");
  fs::remove(dir_ / "disc.cue");
  EXPECT_TRUE(waitUntil([&] { return mode() == "not ready"; }));
  EXPECT_EQ(send("status cdaudio media present"), "false");
  EXPECT_TRUE(waitUntil([&] { return !notes_.empty(); }));
  EXPECT_EQ(notes_, std::vector<mci::NotifyCode>({mci::NotifyFailure}));
  makeDisc({75, 75, 75, 75, 75});  // a new disc with more tracks
  EXPECT_TRUE(waitUntil([&] { return mode() == "stopped"; }));
  EXPECT_EQ(send("status cdaudio number of tracks"), "5");

  send("set cdaudio door open");
  EXPECT_EQ(mode(), "open");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // several disc checks
  EXPECT_EQ(mode(), "open");
  makeDisc({75});  // written anew: a disc is in again
  EXPECT_TRUE(waitUntil([&] { return mode() == "stopped"; }));
  EXPECT_EQ(send("status cdaudio number of tracks"), "1");
  send("set cdaudio door open");
  send("set cdaudio door closed");
  EXPECT_TRUE(waitUntil([&] { return mode() == "stopped"; }));
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
  EXPECT_EQ(mode(), "stopped");
  EXPECT_EQ(control->next(), 0u);  // already in the last track: stays
  EXPECT_EQ(control->prev(), 0u);  // near track 2's start: back to track 1
  EXPECT_EQ(send("status cdaudio position"), "01:00:00:00");
  EXPECT_EQ(control->next(), 0u);
  EXPECT_EQ(send("status cdaudio position"), "02:00:00:00");
  EXPECT_EQ(table.close(id), 0u);
  EXPECT_EQ(mode(), "stopped");  // the string's device is still open
}

TEST_F(CdAudioTest, BrokenImageIsNotReadyAndRefusesWhatNeedsADisc) {
  for (const char* sheet : {"FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
                            "TRACK 01 AUDIO\nINDEX 01 99:99:99\n\x01\xff garbage", ""}) {
    std::ofstream(cue_) << sheet;
    send("close all");
    EXPECT_EQ(mode(), "not ready") << sheet;
    for (const char* command : {"status cdaudio number of tracks", "status cdaudio length",
                                "seek cdaudio to start", "play cdaudio"})
      EXPECT_EQ(send(command, mci::err::DeviceNotReady), "");
    EXPECT_EQ(send("set cdaudio door open"), "");
  }
}

// Opening a FIFO for reading waits for a writer: the drive's open and its
// disc checks must never do that, nor read a "sheet" of any size.
TEST_F(CdAudioTest, HostileImageFilesAreRefusedWithoutBlocking) {
  const std::string bin = (dir_ / "disc.bin").string(), big = (dir_ / "big.cue").string();
  std::ofstream(big) << "FILE \"disc.bin\" BINARY";  // and 64 MiB without a newline
  fs::resize_file(big, 64u << 20);
  struct Case {
    std::string source, fifo, problem;
  };
  for (const Case& c : {Case{cue_, cue_, "not a regular file"},
                        Case{cue_, bin, "not a regular file"}, Case{big, "", "too large"}}) {
    makeDisc({75});
    if (!c.fifo.empty()) fs::remove(c.fifo);
    ASSERT_TRUE(c.fifo.empty() || mkfifo(c.fifo.c_str(), 0600) == 0) << c.fifo;
    // Should the open block on the FIFO, a writer comes at last, so the
    // test fails instead of hanging.
    std::atomic<bool> done{false}, unblocked{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const int fd = done || c.fifo.empty() ? -1 : open(c.fifo.c_str(), O_WRONLY | O_NONBLOCK);
      unblocked = fd >= 0;
      if (fd >= 0) close(fd);
    });
    setenv("PLIMRA_CDROM", c.source.c_str(), 1);
    send("close all");
    EXPECT_EQ(mode(), "not ready") << c.source;
    done = true;
    watchdog.join();
    EXPECT_FALSE(unblocked) << c.fifo;
    const std::string problem = cdaudio::Drive::acquire(c.source)->status().problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

// A drive's checked reads, run on the image: what the disc holds, and a
// bounded cost for a sector that will not read.
TEST_F(CdAudioTest, CheckedReadsAreExactAndBoundedOnABadSector) {
  makeDisc({40, 60}, 20);  // track 2 after a silent pregap
  std::ifstream in(dir_ / "disc.bin", std::ios::binary);
  const std::vector<uint8_t> disc(std::istreambuf_iterator<char>(in), {});
  auto expectSectors = [&](const uint8_t* got, int32_t from, int count) {
    const auto want = disc.begin() + from * cdaudio::kBytesPerSector;
    EXPECT_TRUE(std::equal(got, got + count * cdaudio::kBytesPerSector, want))
        << count << " sectors from " << from;
  };
  CdIo_t* cdio = cdio_open(cue_.c_str(), DRIVER_BINCUE);
  ASSERT_NE(cdio, nullptr);
  auto reader = cdaudio::ParanoiaReader::open(cdio);
  ASSERT_NE(reader, nullptr);
  std::vector<uint8_t> buf(25 * cdaudio::kBytesPerSector);
  // As the player asks: a short first chunk, then longer ones across the
  // pregap into track 2, then a jump back.
  for (auto [from, count] : {std::pair{30, 6}, {36, 25}, {61, 25}, {95, 25}, {2, 6}}) {
    EXPECT_EQ(reader->read(from, count, buf.data()), count) << from;
    expectSectors(buf.data(), from, count);
  }
  // Re-reading for ever would hang here.
  damage.set(12, 13);
  EXPECT_LT(reader->read(0, 25, buf.data()), 25);
  damage.set(0, 0);
  EXPECT_EQ(reader->read(25, 10, buf.data()), 10);
  expectSectors(buf.data(), 25, 10);

  // With the music run dry, each sector is read once, plainly: the bad
  // one costs a single read instead of paranoia's dozens.
  const std::atomic<bool> hurry{true};
  damage.set(40, 41);
  EXPECT_EQ(reader->read(30, 25, buf.data(), nullptr, &hurry), 24);
  EXPECT_EQ(damage.calls, 1);
  expectSectors(buf.data(), 30, 10);
  expectSectors(buf.data() + 11 * cdaudio::kBytesPerSector, 41, 14);
  reader.reset();
  cdio_destroy(cdio);
}

TEST_F(CdAudioTest, ClosingTheDeviceDoesNotWaitForAReadStuckOnTheDisc) {
  makeDisc({40, 60});
  damage.set(0, 100, true);
  send("open cdaudio");
  cdaudio::Drive::acquire(cue_)->setOutputAttached(false);
  send("play cdaudio from 00:02:00");
  ASSERT_TRUE(damage.waitUntil([] { return damage.inside == 1; }));

  send("close cdaudio");
  {
    std::lock_guard lock(damage.m);
    EXPECT_EQ(damage.inside, 1);  // closed while the read still hangs
    EXPECT_EQ(damage.destroyed, 0);
  }
  damage.release();
  // The reader then gives the disc up by itself, without trying the other
  // sectors of its chunk one by one.
  EXPECT_TRUE(damage.waitUntil([] { return damage.destroyed == 1; }));
  std::lock_guard lock(damage.m);
  EXPECT_EQ(damage.calls, 1);
}

// A table of contents from a drive is checked before anything uses it.
TEST(Toc, RejectsTablesThatCannotBeTrue) {
  using cdaudio::Toc;
  EXPECT_FALSE(Toc::validated({{}, 100}));
  EXPECT_FALSE(Toc::validated({{{1, 0, true}, {2, 0, true}}, 100}));   // starts not rising
  EXPECT_FALSE(Toc::validated({{{1, 0, true}, {3, 50, true}}, 100}));  // number gap
  EXPECT_FALSE(Toc::validated({{{1, 0, true}}, 0}));                   // lead-out first
  EXPECT_FALSE(Toc::validated({{{0, 0, true}}, 10}));
  EXPECT_TRUE(Toc::validated({{{1, 0, true}}, 1}));
}

}  // namespace

// Reading sectors: the verified reads a drive uses, run on a disc image, and
// a damaged disc. The damage is made here, between our code and libcdio:
// this file's cdio_read_audio_sectors stands in for libcdio's (and for the
// one paranoia calls) and fails or hangs on the sectors a test marks bad.
#include <cdio/cdio.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "media/cdaudio/drive.h"
#include "media/cdaudio/paranoia_reader.h"
#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "tools/mkdisc/disc_image.h"

using namespace plimra;
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

  void reset() {
    std::lock_guard lock(m);
    from = to = 0;
    hang = released = false;
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

template <class Fn>
Fn real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" driver_return_code_t cdio_read_audio_sectors(const CdIo_t* cdio, void* buf, lsn_t lsn,
                                                        uint32_t blocks) {
  using Fn = driver_return_code_t (*)(const CdIo_t*, void*, lsn_t, uint32_t);
  static const Fn next = real<Fn>("cdio_read_audio_sectors");
  {
    std::unique_lock lock(damage.m);
    if (lsn < damage.to && lsn + static_cast<int64_t>(blocks) > damage.from) {
      ++damage.calls;
      if (damage.hang) {
        ++damage.inside;
        damage.cv.notify_all();
        damage.cv.wait(lock, [] { return damage.released; });
        --damage.inside;
      }
      return DRIVER_OP_ERROR;
    }
  }
  return next(cdio, buf, lsn, blocks);
}

extern "C" void cdio_destroy(CdIo_t* cdio) {
  static const auto next = real<void (*)(CdIo_t*)>("cdio_destroy");
  next(cdio);
  std::lock_guard lock(damage.m);
  ++damage.destroyed;
  damage.cv.notify_all();
}

namespace {

class Reading : public ::testing::Test {
 protected:
  void SetUp() override {
    damage.reset();
    dir_ = fs::temp_directory_path() / ("plimra-cdread-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    cue_ = (dir_ / "disc.cue").string();
    mkdisc::DiscSpec layout;
    layout.tracks = {{40}, {60, false, 20}};  // track 2 after a silent pregap
    ASSERT_EQ(mkdisc::writeDisc(cue_, layout), "");
  }
  void TearDown() override {
    damage.reset();
    fs::remove_all(dir_);
  }

  // Samples of sector `s` of the image, as the disc holds them.
  int16_t expected(int32_t s, int frame, int channel) const {
    if (s < 40) return mkdisc::identSample(1, static_cast<uint32_t>(s * kSpf + frame), channel);
    if (s < 60) return 0;
    return mkdisc::identSample(2, static_cast<uint32_t>((s - 60) * kSpf + frame), channel);
  }
  void expectSectors(const std::vector<uint8_t>& buf, int32_t from, int count) const {
    for (int i = 0; i < count; ++i)
      for (int f = 0; f < kSpf; ++f)
        for (int c = 0; c < 2; ++c) {
          const size_t at = (static_cast<size_t>(i) * kSpf + static_cast<size_t>(f)) * 4 +
                            static_cast<size_t>(c) * 2;
          const auto got = static_cast<int16_t>(buf[at] | buf[at + 1] << 8);
          ASSERT_EQ(got, expected(from + i, f, c)) << "sector " << from + i << " frame " << f;
        }
  }

  static constexpr int kSpf = cdaudio::kFramesPerSector;
  fs::path dir_;
  std::string cue_;
};

TEST_F(Reading, VerifiedReadsAreExactAndBoundedOnABadSector) {
  CdIo_t* cdio = cdio_open(cue_.c_str(), DRIVER_BINCUE);
  ASSERT_NE(cdio, nullptr);
  auto reader = cdaudio::ParanoiaReader::open(cdio);
  ASSERT_NE(reader, nullptr);
  std::vector<uint8_t> buf(25 * cdaudio::kBytesPerSector);
  // As the player asks: a short first chunk, then longer ones across the
  // pregap into track 2, then a jump back.
  for (auto [from, count] : {std::pair{30, 6}, {36, 25}, {61, 25}, {95, 25}, {2, 6}}) {
    EXPECT_EQ(reader->read(from, count, buf.data()), count) << from;
    expectSectors(buf, from, count);
  }
  {
    std::lock_guard lock(damage.m);
    damage.from = 12;
    damage.to = 13;
  }
  // Re-reading for ever would hang here.
  EXPECT_LT(reader->read(0, 25, buf.data()), 25);
  damage.reset();
  EXPECT_EQ(reader->read(25, 10, buf.data()), 10);
  expectSectors(buf, 25, 10);

  // With the music run dry, each sector is read once, plainly: the bad
  // one costs a single read instead of paranoia's dozens.
  const std::atomic<bool> hurry{true};
  {
    std::lock_guard lock(damage.m);
    damage.from = 40;
    damage.to = 41;
    damage.calls = 0;
  }
  EXPECT_EQ(reader->read(30, 25, buf.data(), nullptr, &hurry), 24);
  EXPECT_EQ(damage.calls, 1);
  expectSectors(buf, 30, 10);
  buf.erase(buf.begin(), buf.begin() + 11 * cdaudio::kBytesPerSector);
  expectSectors(buf, 41, 14);
  reader.reset();
  cdio_destroy(cdio);
}

TEST_F(Reading, ClosingTheDeviceDoesNotWaitForAReadStuckOnTheDisc) {
  setenv("PLIMRA_CDROM", cue_.c_str(), 1);
  mci::DeviceTable::instance().closeAll();
  cdaudio::registerCdAudio();
  cdaudio::Drive::setCheckInterval(std::chrono::hours(1));  // only the reader touches the disc
  {
    std::lock_guard lock(damage.m);
    damage.from = 0;
    damage.to = 100;
    damage.hang = true;
  }
  // Should close wait for the read, this lets it go at last, so the test
  // fails instead of hanging.
  std::thread watchdog([] {
    if (!damage.waitUntil([] { return damage.released; })) damage.release();
  });
  std::string reply;
  auto& table = mci::DeviceTable::instance();
  ASSERT_EQ(table.sendString("open cdaudio", reply), 0u);
  cdaudio::Drive::acquire(cue_)->setOutputAttached(false);
  ASSERT_EQ(table.sendString("play cdaudio from 00:02:00", reply), 0u);
  ASSERT_TRUE(damage.waitUntil([] { return damage.inside == 1; }));

  EXPECT_EQ(table.sendString("close cdaudio", reply), 0u);
  {
    std::lock_guard lock(damage.m);
    EXPECT_EQ(damage.inside, 1);  // closed while the read still hangs
    EXPECT_FALSE(damage.released);
    EXPECT_EQ(damage.destroyed, 0);
  }
  damage.release();
  watchdog.join();
  // The reader then gives the disc up by itself, without trying the other
  // sectors of its chunk one by one.
  EXPECT_TRUE(damage.waitUntil([] { return damage.destroyed == 1; }));
  std::lock_guard lock(damage.m);
  EXPECT_EQ(damage.calls, 1);
}

}  // namespace

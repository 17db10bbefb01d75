// The sequencer driven by a virtual clock: a manual output that jumps from
// deadline to deadline and records what leaves at which time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "media/mci/dispatch.h"
#include "media/sequencer/sequencer_device.h"
#include "media/sequencer/song.h"
#include "song_builder.h"

namespace plimra::seq {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kMs = 1'000'000;

struct Sent {
  uint64_t time;
  Bytes bytes;
};

class ManualOutput : public Output {
 public:
  uint64_t now() const override { return now_; }
  void sendNow(std::span<const uint8_t> m) override {
    sent.push_back({now_, Bytes(m.begin(), m.end())});
  }
  void attach(OutputClient* c) override { client_ = c; }
  void detach(OutputClient* c) override {
    if (client_ == c) client_ = nullptr;
  }
  void wake() override {}

  // Moves the clock to `to`, delivering every event on its deadline.
  void advance(uint64_t to) {
    Output::NowSink sink(*this);
    while (client_) {
      const auto d = client_->runDue(this, now_, 0, sink);
      if (!d || *d > to) break;
      now_ = std::max(now_, *d);
    }
    now_ = std::max(now_, to);
  }
  void runToEnd() { advance(UINT64_MAX / 2); }

  uint64_t now_ = 1'000'000'000;  // not zero: times are relative to the start
  std::vector<Sent> sent;

 private:
  OutputClient* client_ = nullptr;
};

class FakeOutputs : public OutputProvider {
 public:
  std::vector<std::string> outputNames() override { return {"synth", "port A"}; }
  std::shared_ptr<Output> open(int32_t port, std::string& error) override {
    if (port == -1 || port == 0) return synth;
    if (port == 1) return portA;
    error = "no such port";
    return nullptr;
  }
  std::shared_ptr<ManualOutput> synth = std::make_shared<ManualOutput>();
  std::shared_ptr<ManualOutput> portA = std::make_shared<ManualOutput>();
};

bool isSilence(const std::vector<Sent>& sent, size_t from) {
  if (sent.size() - from != 48) return false;
  for (int ch = 0; ch < 16; ++ch) {
    const uint8_t s = static_cast<uint8_t>(0xB0 | ch);
    if (sent[from + ch * 3].bytes != Bytes{s, 123, 0} ||
        sent[from + ch * 3 + 1].bytes != Bytes{s, 120, 0} ||
        sent[from + ch * 3 + 2].bytes != Bytes{s, 64, 0})
      return false;
  }
  return true;
}

std::vector<Sent> notesOnly(const std::vector<Sent>& sent) {
  std::vector<Sent> out;
  for (const auto& s : sent)
    if ((s.bytes[0] & 0xF0) == 0x90) out.push_back(s);
  return out;
}

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mci::runPostedTasks();
    path_ = test::writeTemp("tempo.mid", test::tempoSong());
  }
  void TearDown() override {
    // A close still notifies; deliver it while the recorder exists.
    dev.close();
    mci::runPostedTasks();
  }
  uint32_t statusOf(mci::StatusItem item) {
    mci::StatusValue v;
    EXPECT_EQ(dev.status({item, std::nullopt}, v), mci::err::None);
    return v.value;
  }
  mci::NotifyFn recorder() {
    return [this](mci::NotifyCode c) { codes.push_back(c); };
  }
  std::vector<int> delivered() {
    mci::runPostedTasks();
    return codes;
  }

  std::shared_ptr<FakeOutputs> outs = std::make_shared<FakeOutputs>();
  SequencerDevice dev{outs};
  std::vector<int> codes;
  std::string path_;
};

TEST_F(SequencerTest, EventsLeaveAtTempoMapTimesAndPlayNotifiesSuccessAtEnd) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeStopped});
  EXPECT_EQ(statusOf(mci::StatusItem::Length), 3250u);
  const uint64_t t0 = outs->synth->now_;
  ASSERT_EQ(dev.play({}, recorder()), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModePlaying});

  outs->synth->advance(t0 + 1100 * kMs);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1100u);
  EXPECT_TRUE(delivered().empty());
  // Play again while playing: the first play is cut short, the song goes
  // on undisturbed.
  ASSERT_EQ(dev.play({}, recorder()), mci::err::None);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});
  codes.clear();
  outs->synth->runToEnd();

  const auto notes = notesOnly(outs->synth->sent);
  const uint64_t expected[] = {0, 500, 1000, 1125, 1250};
  ASSERT_EQ(notes.size(), std::size(expected));
  for (size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(notes[i].time - t0, expected[i] * kMs);
  // The SysEx leaves whole, on its tick.
  auto sx = std::find_if(outs->synth->sent.begin(), outs->synth->sent.end(),
                         [](const Sent& s) { return s.bytes[0] == 0xF0; });
  ASSERT_NE(sx, outs->synth->sent.end());
  EXPECT_EQ(sx->bytes.size(), 11u);
  EXPECT_EQ(sx->time - t0, 1000 * kMs);

  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeStopped});
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 3250u);
}

TEST_F(SequencerTest, PauseKeepsPositionAndPendingNotifyResumeGoesOn) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  auto& out = *outs->synth;
  const uint64_t t0 = out.now_;
  dev.play({}, recorder());
  out.advance(t0 + 1300 * kMs);  // inside the held sustain pedal
  ASSERT_EQ(dev.pause(), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModePaused});
  const size_t before = out.sent.size();
  EXPECT_TRUE(isSilence(out.sent, out.sent.size() - 48));

  out.advance(t0 + 10'000 * kMs);  // time passes; nothing plays
  EXPECT_EQ(out.sent.size(), before);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1300u);
  EXPECT_TRUE(delivered().empty());

  // Resume goes on where it paused, restoring the pedal that silence released.
  ASSERT_EQ(dev.resume(), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModePlaying});
  auto restored =
      std::find_if(out.sent.begin() + static_cast<long>(before), out.sent.end(), [](const Sent& s) {
        return s.bytes == Bytes{0xB0, 64, 127};
      });
  EXPECT_NE(restored, out.sent.end());
  const uint64_t resumedAt = out.now_;
  out.runToEnd();
  EXPECT_EQ(out.sent.back().bytes, (Bytes{0x80, 67, 0}));
  EXPECT_EQ(out.sent.back().time - resumedAt, 950 * kMs);  // 2250 ms - 1300 ms
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});

  // A play while paused also goes on from there, but a new play replaces
  // the pending notification.
  codes.clear();
  dev.play({1300, std::nullopt}, recorder());
  out.advance(out.now_ + 10 * kMs);
  dev.pause();
  dev.play({}, recorder());
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1310u);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});
}

TEST_F(SequencerTest, StopCloseAndNewPlayAbortWithSilence) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  auto& out = *outs->synth;
  dev.play({}, recorder());
  out.advance(out.now_ + 600 * kMs);
  ASSERT_EQ(dev.stop(), mci::err::None);
  EXPECT_TRUE(isSilence(out.sent, out.sent.size() - 48));
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 600u);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeStopped});
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});

  dev.play({}, recorder());
  dev.play({}, recorder());  // cuts the first short
  EXPECT_EQ(delivered(), (std::vector<int>{mci::NotifyAborted, mci::NotifyAborted}));

  out.advance(out.now_ + 100 * kMs);
  ASSERT_EQ(dev.close(), mci::err::None);
  EXPECT_TRUE(isSilence(out.sent, out.sent.size() - 48));
  EXPECT_EQ(delivered().size(), 3u);
  EXPECT_EQ(codes.back(), mci::NotifyAborted);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeNotReady});
  // Nothing more leaves once closed.
  const size_t n = out.sent.size();
  out.runToEnd();
  EXPECT_EQ(out.sent.size(), n);
}

TEST_F(SequencerTest, SeekAndPlayRanges) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  auto& out = *outs->synth;
  ASSERT_EQ(dev.seek({mci::SeekParams::Where::End, 0}), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 3250u);
  // Playing at the end completes at once.
  dev.play({}, recorder());
  out.advance(out.now_);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
  EXPECT_TRUE(notesOnly(out.sent).empty());

  ASSERT_EQ(dev.seek({mci::SeekParams::Where::Start, 0}), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 0u);
  // From 900 to 1250 ms: after the silence that a jump sends, the program
  // set before 900 ms; the notes at 1000 and 1125 ms but not the one on
  // 1250 ms, where the range ends.
  out.sent.clear();
  const uint64_t t0 = out.now_;
  ASSERT_EQ(dev.play({900, 1250}, recorder()), mci::err::None);
  out.runToEnd();
  ASSERT_GT(out.sent.size(), 48u);
  EXPECT_TRUE(isSilence({out.sent.begin(), out.sent.begin() + 48}, 0));
  EXPECT_EQ(out.sent[48].bytes, (Bytes{0xC0, 5}));
  const auto notes = notesOnly(out.sent);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].time - t0, 100 * kMs);
  EXPECT_EQ(notes[1].time - t0, 225 * kMs);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1250u);

  EXPECT_EQ(dev.play({4000, std::nullopt}, recorder()), mci::err::OutOfRange);
  EXPECT_EQ(dev.play({2000, 1000}, recorder()), mci::err::OutOfRange);
  EXPECT_EQ(dev.seek({mci::SeekParams::Where::To, 3251}), mci::err::OutOfRange);
  EXPECT_EQ(dev.setTimeFormat(mci::TimeFormat::Milliseconds), mci::err::None);
  EXPECT_EQ(dev.setTimeFormat(mci::TimeFormat::Smpte30), mci::err::BadTimeFormat);
}

TEST_F(SequencerTest, PortCommandSwitchesMidSongAndRefusesBadPorts) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  auto& synth = *outs->synth;
  auto& port = *outs->portA;
  EXPECT_EQ(dev.setPort(2), mci::err::SeqPortNonexistent);
  EXPECT_EQ(dev.setPort(-2), mci::err::SeqPortNonexistent);
  EXPECT_EQ(dev.port(), -1);
  EXPECT_EQ(dev.setPort(0), mci::err::None);  // the mapper's synthesizer

  const uint64_t t0 = synth.now_;
  dev.play({}, recorder());
  synth.advance(t0 + 1100 * kMs);
  port.now_ = 50'000 * kMs;
  ASSERT_EQ(dev.setPort(1), mci::err::None);
  EXPECT_EQ(dev.port(), 1);
  EXPECT_TRUE(isSilence(synth.sent, synth.sent.size() - 48));
  // The new port first gets the song's state, then the rest of the song on
  // its own clock.
  ASSERT_GE(port.sent.size(), 1u);
  EXPECT_EQ(port.sent[0].bytes, (Bytes{0xC0, 5}));

  const size_t synthCount = synth.sent.size();
  synth.runToEnd();
  EXPECT_EQ(synth.sent.size(), synthCount);  // the old output is left alone
  port.runToEnd();
  const auto notes = notesOnly(port.sent);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].bytes, (Bytes{0x90, 65, 100}));
  EXPECT_EQ(notes[0].time, 50'025 * kMs);
  EXPECT_EQ(notes[1].time, 50'150 * kMs);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
  // Refused ports change nothing.
  EXPECT_EQ(dev.setPort(7), mci::err::SeqPortNonexistent);
  EXPECT_EQ(dev.port(), 1);
}

TEST_F(SequencerTest, UnreadableFilesLeaveNothingOpen) {
  EXPECT_EQ(dev.open(::testing::TempDir() + "no-such-file.mid"), mci::err::FileNotFound);
  EXPECT_NE(dev.lastError().find("does not exist"), std::string::npos);
  EXPECT_EQ(dev.open(test::writeTemp("junk.mid", {'R', 'I', 'F', 'F', 1, 2})),
            mci::err::InvalidFile);
  EXPECT_FALSE(dev.lastError().empty());
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeNotReady});
  EXPECT_EQ(dev.play({}, recorder()), mci::err::DeviceNotReady);
  EXPECT_EQ(dev.setPort(1), mci::err::DeviceNotReady);
  // The device still opens a good file afterwards.
  EXPECT_EQ(dev.open(path_), mci::err::None);
}

// Every peer file: the well-formed ones play to their end with the length
// the tempo map gives; the others are refused with a message.
TEST(SequencerPeerFiles, PlayToTheirEnd) {
  const std::filesystem::path dir = std::filesystem::path(PLIMRA_TESTDATA) / "midi";
  const std::map<std::string, uint32_t> lengths = {
      {"test-c-major-scale.mid", 4000},        {"test-2-tracks-type-1.mid", 4500},
      {"test-silence-end-of-track.mid", 5000}, {"test-all-gm-sounds.mid", 352000},
      {"test-track-length.mid", 1500},
  };
  int played = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".mid") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    auto outs = std::make_shared<FakeOutputs>();
    SequencerDevice dev(outs);
    const uint32_t rc = dev.open(entry.path().string());
    if (rc != mci::err::None) {
      EXPECT_TRUE(name.find("empty-file") != std::string::npos ||
                  name.find("not-a-midi") != std::string::npos);
      EXPECT_FALSE(dev.lastError().empty());
      continue;
    }
    mci::StatusValue len;
    dev.status({mci::StatusItem::Length, std::nullopt}, len);
    if (lengths.count(name)) {
      EXPECT_EQ(len.value, lengths.at(name));
    }
    bool done = false;
    dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
    outs->synth->runToEnd();
    mci::runPostedTasks();
    EXPECT_TRUE(done);
    mci::StatusValue pos;
    dev.status({mci::StatusItem::Position, std::nullopt}, pos);
    EXPECT_EQ(pos.value, len.value);
    ++played;
  }
  EXPECT_GE(played, 20);
}

}  // namespace
}  // namespace plimra::seq

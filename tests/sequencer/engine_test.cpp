// The sequencer driven by a virtual clock: a manual output that jumps from
// deadline to deadline and records what leaves at which time.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <thread>

#include "media/sequencer/port_output.h"

#include "media/mci/dispatch.h"
#include "media/sequencer/sequencer_device.h"
#include "media/sequencer/song.h"
#include "tests/support/midi_file.h"

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
      size_t budget = SIZE_MAX;
      const auto d = client_->runDue(this, now_, 0, sink, budget);
      if (!d || *d > to) break;
      now_ = std::max(now_, *d);
    }
    now_ = std::max(now_, to);
  }
  void runToEnd() { advance(UINT64_MAX / 2); }
  // One pass of the driving thread with `budget` messages to send.
  std::optional<uint64_t> runOnce(size_t budget) {
    Output::NowSink sink(*this);
    return client_->runDue(this, now_, 0, sink, budget);
  }

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

TEST_F(SequencerTest, StopAndCloseAbortWithSilence) {
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
  out.advance(out.now_ + 100 * kMs);
  ASSERT_EQ(dev.close(), mci::err::None);
  EXPECT_TRUE(isSilence(out.sent, out.sent.size() - 48));
  EXPECT_EQ(delivered(), (std::vector<int>{mci::NotifyAborted, mci::NotifyAborted}));
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

// Times beyond what the clocks hold (a tick of 16.7 s, three of the longest
// delta times): nothing wraps into the past.
TEST(FarDeadlines, SaturateInsteadOfWrapping) {
  test::Track t;
  t.tempo(0, 0xFFFFFF).at(0, {0x90, 60, 100});
  t.at(0x0FFFFFFF, {0xFF, 0x01, 0x00}).at(2 * 0x0FFFFFFF, {0xFF, 0x01, 0x00});
  const std::string path =
      test::writeTemp("endless.mid", test::smf(0, 1, {t.finish(3 * 0x0FFFFFFF)}));
  auto outs = std::make_shared<FakeOutputs>();
  SequencerDevice dev(outs);
  ASSERT_EQ(dev.open(path), mci::err::None);
  ASSERT_GT(dev.song()->lengthNs, uint64_t{1} << 63);
  mci::StatusValue v;
  dev.status({mci::StatusItem::Length, std::nullopt}, v);
  EXPECT_EQ(v.value, UINT32_MAX);

  PlayClock clock{true, false, UINT64_MAX - 10, 5, UINT64_MAX};
  EXPECT_EQ(clock.position(1000), UINT64_MAX);
  struct Drop : MidiSink {
    void send(std::span<const uint8_t>, uint64_t) override {}
  } drop;
  Player player;
  player.setSong(dev.song());
  const uint64_t start = uint64_t{1} << 63;
  player.start(start, player.length());
  EXPECT_EQ(player.step(start, drop), Player::Step::Sent);  // the note
  EXPECT_EQ(player.nextDeadline(), UINT64_MAX);             // the end, not a time long past
}

// The port thread sleeps until a far deadline instead of waking for ever.
TEST(FarDeadlines, PortThreadDoesNotSpin) {
  class NullPort : public RawPort {
   public:
    bool send(std::span<const uint8_t>) override { return true; }
  };
  struct Far : OutputClient {
    std::atomic<int> calls{0};
    uint64_t deadline = 0;
    std::optional<uint64_t> runDue(const Output*, uint64_t, uint64_t, MidiSink&, size_t&) override {
      ++calls;
      return deadline;
    }
  };
  for (uint64_t deadline : {(uint64_t{1} << 63) + 1, UINT64_MAX - 1}) {
    SCOPED_TRACE(deadline);
    PortOutput port(std::make_unique<NullPort>());
    Far far;
    far.deadline = deadline;
    port.attach(&far);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.detach(&far);
    EXPECT_LE(far.calls.load(), 3);
  }
}

// A burst of events at one instant leaves over several passes of the
// driving thread, none lost and in order.
TEST_F(SequencerTest, BurstIsCarriedOverBudgetedPasses) {
  test::Track t;
  for (int i = 0; i < 2500; ++i) t.at(0, {0x90, uint8_t(i % 128), uint8_t(1 + i % 127)});
  ASSERT_EQ(dev.open(test::writeTemp("burst.mid", test::smf(0, 96, {t.finish(96)}))),
            mci::err::None);
  auto& out = *outs->synth;
  dev.play({}, recorder());
  for (size_t sent : {1000u, 2000u, 2500u}) {
    const auto next = out.runOnce(1000);
    EXPECT_EQ(notesOnly(out.sent).size(), sent);
    ASSERT_TRUE(next);
    if (sent < 2500) {
      EXPECT_LE(*next, out.now_);  // more is due at once
    }
  }
  const auto notes = notesOnly(out.sent);
  for (int i = 0; i < 2500; ++i)
    ASSERT_EQ(notes[size_t(i)].bytes, (Bytes{0x90, uint8_t(i % 128), uint8_t(1 + i % 127)}));
}

// Status queries answer while the thread that plays is stuck in a send.
TEST_F(SequencerTest, StatusDoesNotWaitForThePlayingThread) {
  class Gate : public Output {
   public:
    uint64_t now() const override { return 0; }
    void sendNow(std::span<const uint8_t>) override {
      std::unique_lock lk(m);
      entered = true;
      cv.notify_all();
      cv.wait(lk, [&] { return open; });
    }
    void attach(OutputClient* c) override { client = c; }
    void detach(OutputClient*) override { client = nullptr; }
    void wake() override {}
    std::mutex m;
    std::condition_variable cv;
    bool entered = false;
    bool open = true;
    OutputClient* client = nullptr;
  };
  struct GateOutputs : OutputProvider {
    std::vector<std::string> outputNames() override { return {"gate"}; }
    std::shared_ptr<Output> open(int32_t, std::string&) override { return gate; }
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  };
  auto outputs = std::make_shared<GateOutputs>();
  auto& gate = *outputs->gate;
  SequencerDevice device(outputs);
  ASSERT_EQ(device.open(path_), mci::err::None);
  device.play({}, {});
  gate.entered = false;
  gate.open = false;
  std::thread player([&] {
    Output::NowSink sink(gate);
    size_t budget = 100;
    gate.client->runDue(&gate, 0, 0, sink, budget);
  });
  {
    std::unique_lock lk(gate.m);
    gate.cv.wait(lk, [&] { return gate.entered; });
  }
  auto answer = std::async(std::launch::async, [&] {
    mci::StatusValue mode, pos;
    device.status({mci::StatusItem::Mode, std::nullopt}, mode);
    device.status({mci::StatusItem::Position, std::nullopt}, pos);
    return mode.value;
  });
  const bool answered = answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  {
    std::lock_guard lk(gate.m);
    gate.open = true;
  }
  gate.cv.notify_all();
  player.join();
  ASSERT_TRUE(answered);
  EXPECT_EQ(answer.get(), uint32_t{mci::ModePlaying});
  device.close();
}

// A port that fails is opened once more; when that fails too it says so
// and stops trying.
TEST(PortFailure, ReopensOnceThenReports) {
  struct Wire {
    std::vector<Bytes> got;
    int opens = 0;
  };
  class Flaky : public RawPort {
   public:
    Flaky(Wire& w, size_t failAfter) : wire_(w), left_(failAfter) {}
    bool send(std::span<const uint8_t> m) override {
      if (left_ == 0) return false;
      --left_;
      wire_.got.emplace_back(m.begin(), m.end());
      return true;
    }

   private:
    Wire& wire_;
    size_t left_;
  };
  const uint8_t msgs[5][3] = {{0x90, 1, 1}, {0x90, 2, 1}, {0x90, 3, 1}, {0x90, 4, 1}, {0x90, 5, 1}};

  Wire back;
  PortOutput comesBack(std::make_unique<Flaky>(back, 2), [&](std::string&) {
    ++back.opens;
    return std::make_unique<Flaky>(back, 100);
  });
  for (const auto& m : msgs) comesBack.sendNow(m);
  EXPECT_EQ(back.got.size(), 5u);
  EXPECT_EQ(back.opens, 1);
  EXPECT_FALSE(comesBack.failed());

  Wire gone;
  PortOutput staysGone(std::make_unique<Flaky>(gone, 2), [&](std::string& error) {
    ++gone.opens;
    error = "no such port";
    return std::unique_ptr<RawPort>();
  });
  for (const auto& m : msgs) staysGone.sendNow(m);
  EXPECT_EQ(gone.got.size(), 2u);
  EXPECT_EQ(gone.opens, 1);
  EXPECT_TRUE(staysGone.failed());
  EXPECT_NE(staysGone.problem().find("no such port"), std::string::npos);
}

// Songs are built straight from the file: they must be what the parsed file
// gives (same events in the same order, same times, same length) and play
// to that length. Only the two peer files that are not MIDI are refused, and
// with a message.
TEST(SongFromFile, MatchesTheParsedFileAndPlaysToItsEnd) {
  std::vector<std::string> paths;
  for (const auto& e :
       std::filesystem::directory_iterator(std::filesystem::path(PLIMRA_TESTDATA) / "midi"))
    if (e.path().extension() == ".mid") paths.push_back(e.path().string());
  ASSERT_GE(paths.size(), 20u);
  // Ties between tracks, a tempo change in a later track, format 2.
  test::Track a, b, c;
  a.at(0, {0x90, 60, 1}).at(10, {0x90, 61, 1}).at(10, {0x90, 62, 1}).at(30, {0x80, 60, 0});
  b.at(0, {0x91, 70, 1}).tempo(10, 250000).at(10, {0x91, 71, 1}).at(20, {0xC1, 5});
  c.at(5, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).at(10, {0x92, 1, 1});
  for (uint16_t format : {1, 2})
    paths.push_back(
        test::writeTemp("merge" + std::to_string(format) + ".mid",
                        test::smf(format, 96, {a.finish(40), b.finish(30), c.finish(50)})));
  for (const auto& path : paths) {
    SCOPED_TRACE(path);
    const SmfResult parsed = readSmfFile(path);
    auto outs = std::make_shared<FakeOutputs>();
    SequencerDevice dev(outs);
    if (dev.open(path) != mci::err::None) {
      EXPECT_FALSE(parsed.ok);
      EXPECT_TRUE(path.find("empty-file") != std::string::npos ||
                  path.find("not-a-midi") != std::string::npos);
      EXPECT_FALSE(dev.lastError().empty());
      continue;
    }
    ASSERT_TRUE(parsed.ok);
    const auto expected = songFromSmf(parsed.smf);
    const Song& got = *dev.song();
    EXPECT_EQ(got.lengthNs, expected->lengthNs);
    EXPECT_EQ(got.trackCount, expected->trackCount);
    EXPECT_EQ(got.warnings, expected->warnings);
    ASSERT_EQ(got.events.size(), expected->events.size());
    for (size_t i = 0; i < got.events.size(); ++i) {
      ASSERT_EQ(got.events[i].ns, expected->events[i].ns) << i;
      const auto g = got.data(got.events[i]);
      const auto e = expected->data(expected->events[i]);
      ASSERT_TRUE(std::equal(g.begin(), g.end(), e.begin(), e.end())) << i;
    }
    bool done = false;
    dev.play({}, [&](mci::NotifyCode code) { done = code == mci::NotifySuccessful; });
    outs->synth->runToEnd();
    mci::runPostedTasks();
    EXPECT_TRUE(done);
    mci::StatusValue pos, len;
    dev.status({mci::StatusItem::Position, std::nullopt}, pos);
    dev.status({mci::StatusItem::Length, std::nullopt}, len);
    EXPECT_EQ(pos.value, len.value);
  }
}

// The worst file the reader takes: 16 MiB of two-byte events, eight million
// of them. Run in a process of its own, where the peak size is its own.
TEST(WorstFile, OpensInBoundedMemory) {
  std::vector<uint8_t> track{0x00, 0xC0, 0x00};
  track.reserve(kMaxSmfFileBytes);
  while (track.size() + 2 + 4 + 22 < kMaxSmfFileBytes) track.insert(track.end(), {0x00, 0x01});
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  const std::string path = test::writeTemp("worst.mid", test::smf(0, 96, {track}));
  track = {};
  SongLoad load = loadSong(path);
  std::filesystem::remove(path);
  ASSERT_TRUE(load.song);
  EXPECT_GT(load.song->events.size(), 8'000'000u);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "peak KiB";
}

}  // namespace
}  // namespace plimra::seq

// The sequencer driven by a virtual clock: a manual output that jumps from
// deadline to deadline and records what leaves at which time.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "media/mci/dispatch.h"
#include "media/sequencer/port_output.h"
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
  uint8_t port = 0;
};

class ManualOutput : public Output {
 public:
  uint64_t now() const override { return now_; }
  void sendNow(std::span<const uint8_t> m, uint8_t port) override {
    if (onSend) onSend();
    sent.push_back({now_, Bytes(m.begin(), m.end()), port});
  }
  uint8_t ports() const override { return ports_; }
  void attach(OutputClient* c) override { client_ = c; }
  void detach(OutputClient* c) override {
    if (client_ == c) client_ = nullptr;
  }
  void wake() override {}

  // Moves the clock to `to`, delivering every event on its deadline.
  void advance(uint64_t to) {
    while (client_) {
      const auto d = runOnce(SIZE_MAX);
      if (!d || *d > to) break;
      now_ = std::max(now_, *d);
    }
    now_ = std::max(now_, to);
  }
  void runToEnd() { advance(now_ + (uint64_t{1} << 50)); }  // 13 days on
  // One pass of the driving thread with `budget` messages to send.
  std::optional<uint64_t> runOnce(size_t budget) {
    Output::NowSink sink(*this);
    return client_->runDue(this, now_, 0, sink, budget);
  }

  uint64_t now_ = 1'000'000'000;  // not zero: times are relative to the start
  uint8_t ports_ = 1;
  std::vector<Sent> sent;
  std::function<void()> onSend;

 private:
  OutputClient* client_ = nullptr;
};

// Port -1 and 0: the synthesizer; port 1: another output.
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

// The silence a stop sends on every port of the output, sent last.
bool endsInSilence(const std::vector<Sent>& sent, uint8_t ports = 1) {
  std::vector<std::pair<uint8_t, Bytes>> silence;
  for (uint8_t port = 0; port < ports; ++port)
    for (Bytes& m : test::closingSilence()) silence.emplace_back(port, std::move(m));
  return sent.size() >= silence.size() &&
         std::equal(silence.begin(), silence.end(), sent.end() - ptrdiff_t(silence.size()),
                    [](const auto& p, const Sent& s) { return p == std::pair(s.port, s.bytes); });
}

std::vector<Sent> notesOnly(const std::vector<Sent>& sent) {
  std::vector<Sent> out;
  for (const auto& s : sent)
    if ((s.bytes[0] & 0xF0) == 0x90) out.push_back(s);
  return out;
}

// A device on the fake outputs, with the tempo song ready to open.
class SequencerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // A close still notifies; deliver it while the recorder exists.
    dev.close();
    mci::runPostedTasks();
  }
  uint32_t statusOf(mci::StatusItem item) {
    mci::StatusValue v;
    dev.status({item, std::nullopt}, v);
    return v.value;
  }
  mci::NotifyFn recorder() {
    return [this](mci::NotifyCode c) { codes.push_back(c); };
  }
  std::vector<int> delivered() {
    mci::runPostedTasks();
    return std::exchange(codes, {});
  }

  std::shared_ptr<FakeOutputs> outs = std::make_shared<FakeOutputs>();
  ManualOutput& out = *outs->synth;
  SequencerDevice dev{outs};
  std::vector<int> codes;
  const std::string path_ = test::writeTemp("tempo.mid", test::tempoSong());
};

// A play while playing goes on on the song's own time, however late the
// driving thread wakes up after it. Pause, stop and close silence both
// ports of the output (the pedal held at 1300 ms among what they release),
// after a note-off for the note held then; only stop and close cut the play
// short. Resume strikes no note again.
TEST_F(SequencerTest, PlayPauseResumeStopAndClose) {
  out.ports_ = 2;
  ASSERT_EQ(dev.open(path_), mci::err::None);
  dev.play({}, recorder());
  out.advance(out.now_ + 1100 * kMs);
  ASSERT_EQ(dev.play({}, recorder()), mci::err::None);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});
  out.now_ += 5 * kMs;
  out.advance(out.now_ + 195 * kMs);
  ASSERT_EQ(dev.pause(), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModePaused});
  EXPECT_TRUE(endsInSilence(out.sent, 2));
  EXPECT_EQ(out.sent.at(out.sent.size() - 97).bytes, (Bytes{0x80, 67, 64}));
  EXPECT_EQ(out.sent.at(out.sent.size() - 98).bytes, (Bytes{0x90, 67, 100}));
  const size_t before = out.sent.size();
  out.advance(out.now_ + 10'000 * kMs);  // time passes; nothing plays
  EXPECT_EQ(out.sent.size(), before);
  EXPECT_TRUE(delivered().empty());
  // Resume goes on where it paused, first restoring the pedal.
  ASSERT_EQ(dev.resume(), mci::err::None);
  EXPECT_EQ(out.sent.at(before).bytes, (Bytes{0xB0, 64, 127}));
  out.advance(out.now_ + 200 * kMs);
  EXPECT_TRUE(notesOnly({out.sent.begin() + ptrdiff_t(before), out.sent.end()}).empty());
  const size_t beforeStop = out.sent.size();
  ASSERT_EQ(dev.stop(), mci::err::None);
  EXPECT_EQ(out.sent.size() - beforeStop, 96u);  // no note is left to end
  EXPECT_TRUE(endsInSilence(out.sent, 2));
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1500u);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});

  // A play after a stop, or after a pause, goes on from there; a new play
  // cuts the paused one short.
  dev.play({}, recorder());
  out.advance(out.now_ + 10 * kMs);
  dev.pause();
  dev.play({}, recorder());
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1510u);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});
  ASSERT_EQ(dev.close(), mci::err::None);
  EXPECT_TRUE(endsInSilence(out.sent, 2));
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifyAborted});
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeNotReady});
  const size_t n = out.sent.size();
  out.runToEnd();
  EXPECT_EQ(out.sent.size(), n);  // nothing more leaves once closed
}

TEST_F(SequencerTest, SeekAndPlayRanges) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  ASSERT_EQ(dev.seek({mci::SeekParams::Where::End, 0}), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 3250u);
  // Playing at the end completes at once.
  dev.play({}, recorder());
  out.advance(out.now_);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});

  // From 900 to 1250 ms: after the silence that a jump sends, the sustain
  // the song sets only later released and the program set before 900 ms;
  // the notes at 1000 and 1125 ms but not the one on 1250 ms, where the
  // range ends.
  out.sent.clear();
  const uint64_t t0 = out.now_;
  ASSERT_EQ(dev.play({900, 1250}, recorder()), mci::err::None);
  out.runToEnd();
  ASSERT_GT(out.sent.size(), 48u);
  EXPECT_TRUE(endsInSilence({out.sent.begin(), out.sent.begin() + 48}));
  EXPECT_EQ(out.sent.at(48).bytes, (Bytes{0xB0, 64, 0}));
  EXPECT_EQ(out.sent.at(49).bytes, (Bytes{0xC0, 5}));
  const auto notes = notesOnly(out.sent);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].time - t0, 100 * kMs);
  EXPECT_EQ(notes[1].time - t0, 225 * kMs);
  EXPECT_EQ(statusOf(mci::StatusItem::Position), 1250u);

  EXPECT_EQ(dev.play({4000, std::nullopt}, recorder()), mci::err::OutOfRange);
  EXPECT_EQ(dev.play({2000, 1000}, recorder()), mci::err::OutOfRange);
  EXPECT_EQ(dev.seek({mci::SeekParams::Where::To, 3251}), mci::err::OutOfRange);
  EXPECT_EQ(dev.moveTo(3251), mci::err::OutOfRange);

  // Moved back to 900 ms while playing at 2000: it plays on from there with
  // the program set before it, and the play's notification stays pending.
  delivered();
  dev.play({0, std::nullopt}, recorder());
  out.advance(out.now_ + 2000 * kMs);
  out.sent.clear();
  ASSERT_EQ(dev.moveTo(900), mci::err::None);
  EXPECT_TRUE(delivered().empty());
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModePlaying});
  EXPECT_EQ(out.sent.at(out.sent.size() - 1).bytes, (Bytes{0xC0, 5}));
  const uint64_t t1 = out.now_;
  out.runToEnd();
  std::vector<uint64_t> times;
  for (const Sent& s : notesOnly(out.sent)) times.push_back((s.time - t1) / kMs);
  EXPECT_EQ(times, (std::vector<uint64_t>{100, 225, 350}));
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
}

TEST_F(SequencerTest, PortCommandSwitchesMidSongAndRefusesBadPorts) {
  ASSERT_EQ(dev.open(path_), mci::err::None);
  auto& port = *outs->portA;
  EXPECT_EQ(dev.setPort(0), mci::err::None);  // the mapper's synthesizer

  dev.play({}, recorder());
  out.advance(out.now_ + 1100 * kMs);
  port.now_ = 50'000 * kMs;
  ASSERT_EQ(dev.setPort(1), mci::err::None);
  EXPECT_TRUE(endsInSilence(out.sent));
  EXPECT_EQ(out.sent.at(out.sent.size() - 49).bytes, (Bytes{0x80, 64, 64}));  // held since 1000 ms
  // A refused port changes nothing: the song goes on where it is.
  EXPECT_EQ(dev.setPort(2), mci::err::SeqPortNonexistent);
  // The new port first gets the song's state, then the rest of the song on
  // its own clock; the old output is left alone.
  ASSERT_GE(port.sent.size(), 1u);
  EXPECT_EQ(port.sent[0].bytes, (Bytes{0xC0, 5}));
  const size_t synthCount = out.sent.size();
  out.runToEnd();
  EXPECT_EQ(out.sent.size(), synthCount);
  port.runToEnd();
  const auto notes = notesOnly(port.sent);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].bytes, (Bytes{0x90, 65, 100}));
  EXPECT_EQ(notes[0].time, 50'025 * kMs);
  EXPECT_EQ(notes[1].time, 50'150 * kMs);
  EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
}

TEST_F(SequencerTest, UnreadableFilesLeaveNothingOpen) {
  EXPECT_EQ(dev.open(::testing::TempDir() + "no-such-file.mid"), mci::err::FileNotFound);
  EXPECT_NE(dev.lastError().find("does not exist"), std::string::npos);
  EXPECT_EQ(dev.open(test::writeTemp("junk.mid", {'R', 'I', 'F', 'F', 1, 2})),
            mci::err::InvalidFile);
  EXPECT_NE(dev.lastError().find("cannot be played"), std::string::npos);
  EXPECT_EQ(statusOf(mci::StatusItem::Mode), uint32_t{mci::ModeNotReady});
  EXPECT_EQ(dev.play({}, recorder()), mci::err::DeviceNotReady);
  EXPECT_EQ(dev.setPort(1), mci::err::DeviceNotReady);
  EXPECT_EQ(dev.open(path_), mci::err::None);
}

// Events at one tick play in track order, then file order; a tempo change
// in a later track counts. A format 2 file plays its sequences one after
// another, each on its own tempo map. Each track plays on port 0 until its
// port meta event; ports beyond 1 wrap, with a warning. A stop ends the
// notes left sounding on their own ports.
TEST_F(SequencerTest, TracksMergeInOrderOnTheirPorts) {
  out.ports_ = 2;
  using OnPort = std::pair<uint8_t, Bytes>;
  auto onPorts = [](const std::vector<Sent>& sent) {
    std::vector<OnPort> all;
    for (const Sent& s : sent)
      if ((s.bytes[0] & 0xF0) != 0xB0) all.emplace_back(s.port, s.bytes);
    return all;
  };
  test::Track a, b, c;
  a.at(0, {0x90, 60, 1}).at(10, {0x90, 61, 1}).at(10, {0x90, 62, 1}).at(30, {0x80, 60, 0});
  b.at(0, {0xFF, 0x21, 0x01, 0x01}).at(0, {0x91, 70, 1}).tempo(10, 250000);
  b.at(10, {0x91, 71, 1}).at(20, {0xC1, 5});
  c.at(5, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).at(7, {0xFF, 0x21, 0x01, 0x03});
  c.at(10, {0x92, 1, 1});
  const std::vector<Bytes> tracks = {a.finish(40), b.finish(30), c.finish(50)};
  const Bytes gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  const struct {
    uint16_t format;
    std::vector<OnPort> played;
    uint64_t lastNs;
    uint32_t lengthMs;
  } cases[] = {
      // 10 ticks at 500 ms a quarter, 20 at 250 ms; 96 ticks a quarter.
      {1,
       {{0, {0x90, 60, 1}},
        {1, {0x91, 70, 1}},
        {0, gmOn},
        {0, {0x90, 61, 1}},
        {0, {0x90, 62, 1}},
        {1, {0x91, 71, 1}},
        {1, {0x92, 1, 1}},
        {1, {0xC1, 5}},
        {0, {0x80, 60, 0}}},
       104'166'666,
       156},
      // 40 ticks at 500 ms (208.3 ms), then 10 at 500 ms and 20 at 250 ms
      // (104.2 ms), then 50 at 500 ms (260.4 ms).
      {2,
       {{0, {0x90, 60, 1}},
        {0, {0x90, 61, 1}},
        {0, {0x90, 62, 1}},
        {0, {0x80, 60, 0}},
        {1, {0x91, 70, 1}},
        {1, {0x91, 71, 1}},
        {1, {0xC1, 5}},
        {0, gmOn},
        {1, {0x92, 1, 1}}},
       208'333'333 + 104'166'666 + 52'083'333,
       572},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    dev.close();
    out.sent.clear();
    ASSERT_EQ(dev.open(test::writeTemp("ties.mid", test::smf(c.format, 96, tracks))),
              mci::err::None);
    EXPECT_EQ(dev.song()->warnings.size(), 1u);
    EXPECT_EQ(statusOf(mci::StatusItem::Length), c.lengthMs);
    const uint64_t t0 = out.now_;
    dev.play({}, {});
    out.runToEnd();
    EXPECT_EQ(onPorts(out.sent), c.played);
    EXPECT_EQ(out.sent.back().time - t0, c.lastNs);
    out.sent.clear();
    dev.stop();
    EXPECT_TRUE(endsInSilence(out.sent, 2));
    EXPECT_EQ(onPorts(out.sent), (std::vector<OnPort>{{0, {0x80, 61, 64}},
                                                      {0, {0x80, 62, 64}},
                                                      {1, {0x81, 70, 64}},
                                                      {1, {0x81, 71, 64}},
                                                      {1, {0x82, 1, 64}}}));
  }
}

// Loop points: the first CC 111 (any channel, any track) or "loopStart"
// marker, and the first "loopEnd" marker after it, else the song's end. A
// start at the very end, or a section of almost nothing, is no loop.
TEST(SongLoop, PointsFoundAtOpen) {
  using Points = std::optional<std::pair<uint64_t, uint64_t>>;  // ms
  auto points = [](std::vector<Bytes> tracks, uint16_t format = 1) {
    const auto load = loadSong(test::writeTemp("points.mid", test::smf(format, 1000, tracks)));
    EXPECT_TRUE(load.song) << load.error;
    if (!load.song || !load.song->loop) return Points{};
    return Points{{load.song->loop->startMs(), load.song->loop->endMs()}};
  };
  auto track = [](std::initializer_list<std::pair<uint32_t, std::string>> marks, uint32_t end) {
    test::Track t;
    t.tempo(0, 1000000);  // a millisecond a tick
    for (const auto& [tick, what] : marks) {
      if (what.starts_with("cc"))
        t.at(tick, {uint8_t(0xB0 | (what[2] - '0')), 111, 0});
      else
        t.marker(tick, what);
    }
    return t.finish(end);
  };
  EXPECT_EQ(points({track({{500, "cc3"}}, 2000)}), (Points{{500, 2000}}));
  EXPECT_EQ(points({track({{300, "LOOPSTART"}, {1200, "loopEnd"}, {1500, "loopEnd"}}, 2000)}),
            (Points{{300, 1200}}));
  // The earliest start of all tracks, wherever it is in the file.
  EXPECT_EQ(points({track({{700, "cc0"}}, 2000), track({{400, "cc9"}}, 1000)}),
            (Points{{400, 2000}}));
  // A format 2 sequence's points lie after the sequences before it.
  EXPECT_EQ(points({track({}, 1000), track({{200, "loopStart"}, {600, "loopEnd"}}, 800)}, 2),
            (Points{{1200, 1600}}));
  // An end at or before the start is not the loop's: it runs to the end.
  EXPECT_EQ(points({track({{800, "loopEnd"}, {900, "loopStart"}}, 2000)}), (Points{{900, 2000}}));
  EXPECT_EQ(points({track({{900, "loopStart"}, {900, "loopEnd"}}, 2000)}), (Points{{900, 2000}}));
  EXPECT_EQ(points({track({{2000, "cc0"}}, 2000)}), Points{});
  EXPECT_EQ(points({track({{1950, "cc0"}}, 2000)}), Points{});
  EXPECT_EQ(points({track({{300, "loopEnd"}, {500, "loop start"}}, 2000)}), Points{});
}

// With loop mode on, the section [100, 450) ms plays three times, each
// return ending the held note and restoring the program and volume set
// before the start and the pitch bend's centre; the fourth time round fades
// channel by channel over 8 s and the song ends with each channel at its
// own volume again. Off, the song plays once.
TEST_F(SequencerTest, LoopGoesRoundThreeTimesThenFadesOut) {
  test::Track t;
  t.tempo(0, 1000000).at(0, {0xC0, 5}).at(0, {0xB0, 7, 90}).at(100, {0xB0, 111, 0});
  t.at(200, {0xC0, 9}).at(200, {0xE0, 0, 70}).at(200, {0x90, 60, 100}).at(300, {0xB0, 7, 50});
  const std::string path = test::writeTemp("loop.mid", test::smf(0, 1000, {t.finish(450)}));
  for (const bool loop : {false, true}) {
    SCOPED_TRACE(loop);
    dev.close();
    out.sent.clear();
    ASSERT_EQ(dev.setLoop(loop), mci::err::None);
    ASSERT_EQ(dev.open(path), mci::err::None);
    const uint64_t t0 = out.now_;
    dev.play({}, recorder());
    out.advance(t0 + 600 * kMs);
    // The song's own position, and its own length.
    EXPECT_EQ(statusOf(mci::StatusItem::Position), loop ? 250u : 450u);
    EXPECT_EQ(statusOf(mci::StatusItem::Length), 450u);
    out.runToEnd();
    EXPECT_EQ(delivered(), std::vector<int>{mci::NotifySuccessful});
    std::vector<uint64_t> notes;
    for (const Sent& s : notesOnly(out.sent)) notes.push_back((s.time - t0) / kMs);
    if (!loop) {
      EXPECT_EQ(notes, std::vector<uint64_t>{200});
      continue;
    }
    // Three passes, then those that begin within the fade's 8 s.
    ASSERT_EQ(notes.size(), 3u + 23u);
    for (size_t i = 0; i < notes.size(); ++i) EXPECT_EQ(notes[i], 200 + 350 * i);
    // Each return: the held note ended, the bend centred, the volume and
    // program restored, then the section's own first event.
    for (uint64_t at : {450u, 800u, 1150u}) {
      std::vector<Bytes> jump;
      for (const Sent& s : out.sent)
        if (s.time == t0 + at * kMs) jump.push_back(s.bytes);
      EXPECT_EQ(jump, (std::vector<Bytes>{
                          {0x80, 60, 64}, {0xE0, 0, 64}, {0xB0, 7, 90}, {0xC0, 5}, {0xB0, 111, 0}}))
          << at;
    }
    // A channel the song leaves at its default volume falls a step at a time.
    std::vector<int> fade;
    for (const Sent& s : out.sent)
      if (s.bytes.size() == 3 && s.bytes[0] == 0xB1 && s.bytes[1] == 7) fade.push_back(s.bytes[2]);
    ASSERT_EQ(fade.size(), 100u);
    for (size_t i = 0; i < 99; ++i) EXPECT_EQ(fade[i], 99 - int(i));
    EXPECT_EQ(fade.back(), 100);
    // In its last second the song's own volume of 90 or 50 is heard at an
    // eighth of it at most; then the silence, and the channels' own volumes
    // (channel 1's 50, set 300 ms into the pass the fade ends in).
    const auto end = out.sent.end() - 16;
    EXPECT_EQ(out.sent.back().time - t0, 9150 * kMs);
    for (auto s = out.sent.begin(); s != end; ++s) {
      if (s->time >= t0 + 8150 * kMs && s->bytes[0] == 0xB0 && s->bytes[1] == 7) {
        EXPECT_LE(s->bytes[2], 12) << (s->time - t0) / kMs;
      }
    }
    EXPECT_TRUE(endsInSilence({out.sent.begin(), end}));
    for (uint8_t ch = 0; ch < 16; ++ch)
      EXPECT_EQ(end[ch].bytes, (Bytes{uint8_t(0xB0 | ch), 7, uint8_t(ch == 0 ? 50 : 100)}));
  }

  // A pause half way through the fade gives each channel its own volume
  // back after the silence; the resume takes them down to half again.
  dev.close();
  ASSERT_EQ(dev.open(path), mci::err::None);
  dev.play({}, recorder());
  out.advance(out.now_ + 5150 * kMs);
  out.sent.clear();
  dev.pause();
  ASSERT_GE(out.sent.size(), 16u);
  EXPECT_TRUE(endsInSilence({out.sent.begin(), out.sent.end() - 16}));
  for (uint8_t ch = 0; ch < 16; ++ch)
    EXPECT_EQ(out.sent.end()[ch - 16].bytes,
              (Bytes{uint8_t(0xB0 | ch), 7, uint8_t(ch ? 100 : 90)}));
  out.sent.clear();
  out.advance(out.now_ + 10'000 * kMs);
  dev.resume();
  std::vector<Bytes> volumes;
  for (const Sent& s : out.sent)
    if ((s.bytes[0] & 0xFE) == 0xB0 && s.bytes[1] == 7) volumes.push_back(s.bytes);
  EXPECT_EQ(volumes, (std::vector<Bytes>{{0xB0, 7, 45}, {0xB1, 7, 50}}));

  // A section that sends SysEx of its own gets the SysEx before its start
  // again at each return, ahead of the controllers; one that sends none
  // (above) does not.
  const Bytes before = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x0B, 0xF7};
  const Bytes inside = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x00, 0x0F, 0xF7};
  test::Track x;
  x.tempo(0, 1000000).at(0, before).at(0, {0xB0, 7, 90}).at(100, {0xB0, 111, 0});
  x.at(200, inside);
  dev.close();
  out.sent.clear();
  ASSERT_EQ(dev.open(test::writeTemp("sysex.mid", test::smf(0, 1000, {x.finish(450)}))),
            mci::err::None);
  const uint64_t t0 = out.now_;
  dev.play({}, recorder());
  out.advance(t0 + 450 * kMs);
  std::vector<Bytes> jump;
  for (const Sent& s : out.sent)
    if (s.time == t0 + 450 * kMs) jump.push_back(s.bytes);
  EXPECT_EQ(jump, (std::vector<Bytes>{before, {0xB0, 7, 90}, {0xB0, 111, 0}}));
}

// Times beyond what the clocks hold (a tick of 16.7 s, three of the longest
// delta times) saturate: the end is not a deadline long past.
TEST_F(SequencerTest, FarDeadlinesSaturateInsteadOfWrapping) {
  test::Track t;
  t.tempo(0, 0xFFFFFF).at(0, {0x90, 60, 100});
  t.at(0x0FFFFFFF, {0xFF, 0x01, 0x00}).at(2 * 0x0FFFFFFF, {0xFF, 0x01, 0x00});
  const auto song = test::smf(0, 1, {t.finish(3 * 0x0FFFFFFF)});
  const std::string path = test::writeTemp("endless.mid", song);
  ASSERT_GT(loadSong(path).song->lengthNs, uint64_t{1} << 63);
  ASSERT_EQ(dev.open(path), mci::err::None);
  EXPECT_EQ(statusOf(mci::StatusItem::Length), UINT32_MAX);
  out.now_ = uint64_t{1} << 63;
  dev.play({}, recorder());
  EXPECT_EQ(out.runOnce(SIZE_MAX), UINT64_MAX);
  EXPECT_EQ(notesOnly(out.sent).size(), 1u);
  EXPECT_TRUE(delivered().empty());
}

// A port that fails is opened once more; when that fails too it says so
// and stops trying. The port's thread sleeps until a far deadline instead of
// waking for ever.
TEST(PortOutputTest, ReopensOnceThenReportsAndSleepsUntilAFarDeadline) {
  struct Flaky : RawPort {
    Flaky(std::vector<Bytes>& got, size_t left) : got(got), left(left) {}
    bool send(std::span<const uint8_t> m) override {
      if (left == 0) return false;
      --left;
      got.emplace_back(m.begin(), m.end());
      return true;
    }
    std::vector<Bytes>& got;
    size_t left;
  };
  for (const bool comesBack : {true, false}) {
    SCOPED_TRACE(comesBack);
    std::vector<Bytes> got;
    int opens = 0;
    PortOutput port(std::make_unique<Flaky>(got, 2), [&](std::string& error) {
      ++opens;
      error = "no such port";
      return comesBack ? std::make_unique<Flaky>(got, 100) : nullptr;
    });
    for (uint8_t key = 1; key <= 5; ++key) port.sendNow(Bytes{0x90, key, 1}, 0);
    EXPECT_EQ(got.size(), comesBack ? 5u : 2u);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(port.failed(), !comesBack);
    EXPECT_EQ(port.problem().find("no such port") != std::string::npos, !comesBack);
  }

  struct Far : OutputClient {
    std::atomic<int> calls{0};
    std::optional<uint64_t> runDue(const Output*, uint64_t, uint64_t, MidiSink&, size_t&) override {
      ++calls;
      return UINT64_MAX - 1;
    }
  };
  std::vector<Bytes> got;
  PortOutput port(std::make_unique<Flaky>(got, 0));
  Far far;
  port.attach(&far);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  port.detach(&far);
  EXPECT_LE(far.calls.load(), 3);
}

// A burst of events at one instant leaves over several passes of the
// driving thread, none lost and in order.
TEST_F(SequencerTest, BurstIsCarriedOverBudgetedPasses) {
  test::Track t;
  for (int i = 0; i < 2500; ++i) t.at(0, {0x90, uint8_t(i % 128), uint8_t(1 + i % 127)});
  ASSERT_EQ(dev.open(test::writeTemp("burst.mid", test::smf(0, 96, {t.finish(96)}))),
            mci::err::None);
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
  ASSERT_EQ(dev.open(path_), mci::err::None);
  dev.play({}, {});
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::once_flag once;
  out.onSend = [&] {
    std::call_once(once, [&] {
      entered.set_value();
      released.wait();
    });
  };
  std::thread player([&] { out.runOnce(100); });
  entered.get_future().wait();
  auto answer = std::async(std::launch::async, [&] { return statusOf(mci::StatusItem::Mode); });
  const bool answered = answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  player.join();
  out.onSend = nullptr;
  ASSERT_TRUE(answered);
  EXPECT_EQ(answer.get(), uint32_t{mci::ModePlaying});
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

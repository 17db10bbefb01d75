// The built-in synthesizer pulled block by block, as plimra-render pulls it:
// faster than real time, and every sample it renders is seen by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <optional>

#include "media/mci/dispatch.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/sequencer_device.h"
#include "tests/support/midi_file.h"
#include "tests/support/soundfont.h"

namespace plimra::seq {
namespace {

// Plays `path` on the built-in synthesizer to its end, calling `between`
// between two blocks with the frames played so far. The sound: per frame
// the louder of its two channels.
std::vector<float> playToEnd(const std::string& path,
                             const std::function<void(size_t)>& between = {}) {
  BuiltinSynth::setOffline(true);
  auto synth = BuiltinSynth::shared();
  EXPECT_EQ(synth->problem(), "");
  SequencerDevice dev(systemOutputs());
  EXPECT_EQ(dev.open(path), mci::err::None) << dev.lastError();
  bool done = false;
  dev.play({}, [&](mci::NotifyCode c) { done = c == mci::NotifySuccessful; });
  std::vector<float> sound;
  std::vector<float> block(2 * 512);
  while (!done && sound.size() < 60u * audio::kSampleRate) {
    std::fill(block.begin(), block.end(), 0.0f);
    synth->render(block.data(), 512);
    for (size_t i = 0; i < block.size(); i += 2)
      sound.push_back(std::max(std::abs(block[i]), std::abs(block[i + 1])));
    mci::runPostedTasks();
    if (between) between(sound.size());
  }
  EXPECT_TRUE(done) << path;
  return sound;
}

// After a song that turned channel 1 down, the next song is heard only if a
// reset song played between them. A GS Reset for another device id is not
// ours.
TEST(BuiltinSynth, ResetSongsUndoWhatTheLastSongSet) {
  test::Track mute, foreign;
  mute.at(0, {0xB0, 7, 0});
  foreign.at(0, {0xF0, 0x41, 0x11, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  // A second long, so that what the last case left ringing has died away.
  const std::string muting = test::writeTemp("mute.mid", test::smf(0, 96, {mute.finish(192)}));
  const std::string note = test::writeTemp("note.mid", test::noteSong(60, 300, 0));
  const struct {
    std::string reset;
    bool heard;
  } cases[] = {
      {std::string(PLIMRA_BIN_DIR) + "/GS.MID", true},
      {std::string(PLIMRA_BIN_DIR) + "/GM.MID", true},
      {std::string(PLIMRA_BIN_DIR) + "/XG.MID", true},
      {test::writeTemp("foreign.mid", test::smf(0, 96, {foreign.finish(1)})), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reset);
    playToEnd(muting);
    playToEnd(c.reset);
    const auto sound = playToEnd(note);
    ASSERT_FALSE(sound.empty());
    const float peak = *std::max_element(sound.begin(), sound.end());
    EXPECT_EQ(peak > 0.02f, c.heard) << "peak " << peak;
  }
}

// Claves on the drum channel, dry, at 0, 600, 1200, 1600, 2000 and 2750 ms
// under three tempos, each heard within a millisecond of its time.
TEST(BuiltinSynth, NoteOnsetsFallWhereTheTempoMapPutsThem) {
  test::Track t;
  t.tempo(0, 600000).at(0, {0xB9, 91, 0}).at(0, {0xB9, 93, 0});
  for (uint32_t tick : {0, 480, 960, 1440, 1920, 2400}) {
    if (tick == 960) t.tempo(960, 400000);
    if (tick == 1920) t.tempo(1920, 750000);
    t.at(tick, {0x99, 75, 120}).at(tick + 100, {0x89, 75, 0});
  }
  const auto sound = playToEnd(test::writeTemp("onsets.mid", test::smf(0, 480, {t.finish(2880)})));
  // A note: the first loud sample after 100 ms without one. Every note is
  // the same sound, so the times between them are the times of the notes.
  std::vector<size_t> onsets;
  size_t lastLoud = 0;
  for (size_t i = 0; i < sound.size(); ++i) {
    if (sound[i] < 0.1f) continue;
    if (onsets.empty() || i - lastLoud > audio::kSampleRate / 10) onsets.push_back(i);
    lastLoud = i;
  }
  const double expectedMs[] = {0, 600, 1200, 1600, 2000, 2750};
  ASSERT_EQ(onsets.size(), std::size(expectedMs));
  for (size_t i = 1; i < onsets.size(); ++i) {
    const double ms = double(onsets[i] - onsets[0]) * 1000.0 / audio::kSampleRate;
    EXPECT_NEAR(ms, expectedMs[i], 1.0) << "onset " << i;
  }
}

// What plimra-render makes of a song: a WAV file from a process of its own,
// so that nothing an earlier song left ringing is in it.
test::Bytes render(const std::string& song, const std::string& options = "") {
  const std::string wav = song + ".wav";
  const std::string command = std::string(PLIMRA_BIN_DIR) + "/plimra-render " + options + " " +
                              song + " " + wav + " >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  test::Bytes bytes = test::readFile(wav);
  std::remove(wav.c_str());
  return bytes;
}

// The amplitude of the tone of `hz` between two times of a rendered WAV
// file (Goertzel's single-frequency transform of its two channels' mean).
double toneLevel(const test::Bytes& wav, double hz, double fromS, double toS) {
  constexpr size_t kHeaderBytes = 44, kFrameBytes = 4;
  auto sample = [&](size_t at) { return int16_t(wav[at] | wav[at + 1] << 8) / 32768.0; };
  const size_t from = size_t(fromS * audio::kSampleRate), to = size_t(toS * audio::kSampleRate);
  const double w = 2 * std::numbers::pi * hz / audio::kSampleRate;
  double s1 = 0, s2 = 0;
  for (size_t i = from; i < to && kHeaderBytes + (i + 1) * kFrameBytes <= wav.size(); ++i) {
    const size_t at = kHeaderBytes + i * kFrameBytes;
    const double s = (sample(at) + sample(at + 2)) / 2 + 2 * std::cos(w) * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / double(to - from);
}

// A two-port song through plimra-render. Each port's parts sound on
// channels of their own: port B's volume 0 on its channel 1 does not
// silence port A's, nor does port B's GS message that makes its part 2 a
// drum part touch port A's part 2; port B's channel 10 is a drum part too.
// What port B only sets up, without playing, leaves port A's sound as it
// is, sample for sample; so does a track that names port 0.
TEST(BuiltinSynth, TwoPortsSoundTheirOwnParts) {
  using test::Bytes;
  // A millisecond a tick. Port A: a GS Reset, which leaves port B's channel
  // 10 a drum part, then ocarinas on C4 and G4 from 100 to 700 ms.
  auto portA = [](bool namesPort) {
    test::Track t;
    t.tempo(0, 1000000);
    if (namesPort) t.at(0, {0xFF, 0x21, 0x01, 0x00});
    t.at(0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    t.at(0, {0xC0, 79}).at(0, {0xC1, 79});
    t.at(100, {0x90, 60, 100}).at(100, {0x91, 67, 100});
    return t.at(700, {0x80, 60, 0}).at(700, {0x81, 67, 0}).finish(800);
  };
  // Port B: channel 1 at volume 0, ocarinas on channels 2 and 3, then part 2
  // made a drum part (GS address 40 12 15); when it plays: B4 on channel 1,
  // E5 on channel 2, F5 on channel 10 and A4 on channel 3.
  auto portB = [](bool plays) {
    test::Track t;
    t.at(0, {0xFF, 0x21, 0x01, 0x01}).at(10, {0xB0, 7, 0});
    t.at(10, {0xC1, 79}).at(10, {0xC2, 79}).at(10, {0xC9, 79});
    t.at(20, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x12, 0x15, 0x02, 0x17, 0xF7});
    if (!plays) return t.finish(800);
    const std::pair<uint8_t, uint8_t> notes[] = {{0, 71}, {1, 76}, {9, 77}, {2, 69}};
    for (auto [ch, key] : notes) t.at(100, {uint8_t(0x90 | ch), key, 100});
    for (auto [ch, key] : notes) t.at(700, {uint8_t(0x80 | ch), key, 0});
    return t.finish(800);
  };
  const Bytes two =
      render(test::writeTemp("ports.mid", test::smf(1, 1000, {portA(false), portB(true)})));
  const struct {
    const char* note;
    double hz;
    bool heard;
  } tones[] = {
      {"C4, port A", 261.63, true},        {"G4, port A", 392.00, true},
      {"A4, port B", 440.00, true},        {"B4, port B at volume 0", 493.88, false},
      {"E5, port B drums", 659.26, false}, {"F5, port B channel 10", 698.46, false},
  };
  for (const auto& t : tones) {
    // Drums are short: what still sounds after 250 ms is a tone.
    const double level = toneLevel(two, t.hz, 0.35, 0.65);
    EXPECT_EQ(level > 0.01, t.heard) << t.note << ": " << level;
  }

  const Bytes alone = render(test::writeTemp("a.mid", test::smf(1, 1000, {portA(false)})));
  ASSERT_GT(toneLevel(alone, 261.63, 0.35, 0.65), 0.01);
  EXPECT_TRUE(render(test::writeTemp("a0.mid", test::smf(1, 1000, {portA(true)}))) == alone);
  EXPECT_TRUE(render(test::writeTemp("ab.mid", test::smf(1, 1000, {portA(false), portB(false)}))) ==
              alone);
}

// How far `a` is from `b` over the first `frames`, relative to `b`'s size.
double distance(const std::vector<float>& a, const std::vector<float>& b, size_t frames) {
  double diff = 0, size = 0;
  for (size_t i = 0; i < frames && i < a.size() && i < b.size(); ++i) {
    diff += std::abs(a[i] - b[i]);
    size += std::abs(b[i]);
  }
  return size > 0 ? diff / size : 1.0;
}

// XG songs choose drum kits by bank 127 on any part; a GS or GM song after
// one plays in GS mode again.
TEST(BuiltinSynth, XgSongsChooseDrumKitsByBankAndTheSongsAfterThemAreGsAgain) {
  // A low note, dry, on `channel` after `setup`.
  auto song = [](const std::string& name, uint8_t channel, std::vector<test::Bytes> setup) {
    test::Track t;
    for (const auto& m : setup) t.at(0, m);
    const auto cc = static_cast<uint8_t>(0xB0 | channel);
    t.at(0, {cc, 91, 0}).at(0, {cc, 93, 0});
    t.at(0, {static_cast<uint8_t>(0x90 | channel), 36, 110});
    t.at(400, {static_cast<uint8_t>(0x80 | channel), 36, 0});
    return test::writeTemp(name, test::smf(0, 480, {t.finish(700)}));
  };
  const test::Bytes xgOn{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  // Program 25 on the GS drum part is an analog kit, 0 the standard one;
  // on part 4 it is a guitar.
  const auto analogKit = playToEnd(song("analog.mid", 9, {{0xC9, 25}}));
  const auto standardKit = playToEnd(song("standard.mid", 9, {{0xC9, 0}}));
  const auto guitar = playToEnd(song("guitar.mid", 3, {{0xC3, 25}}));
  const size_t frames = audio::kSampleRate / 2;
  ASSERT_GT(distance(analogKit, standardKit, frames), 0.5);
  const struct {
    const char* what;
    std::string song;
    const std::vector<float>& sound;
  } cases[] = {
      {"XG System On, bank 127 on part 2",
       song("xg.mid", 1, {xgOn, {0xB1, 0, 127}, {0xB1, 32, 0}, {0xC1, 25}}), analogKit},
      {"a GM song after it, bank 0 on its drum part", song("gm.mid", 9, {{0xB9, 0, 0}, {0xC9, 0}}),
       standardKit},
      {"bank 127 alone, on part 4", song("bank.mid", 3, {{0xB3, 0, 127}, {0xC3, 25}}), analogKit},
      {"an XG song's drum part after bank 0",
       song("xgdrums.mid", 9, {{0xB3, 0, 127}, {0xB9, 0, 0}, {0xC9, 0}}), standardKit},
      {"a GS song after them, part 4 without a bank", song("voice.mid", 3, {{0xC3, 25}}), guitar},
  };
  for (const auto& c : cases) {
    const auto sound = playToEnd(c.song);
    EXPECT_GT(*std::max_element(sound.begin(), sound.end()), 0.05f) << c.what;
    EXPECT_LT(distance(sound, c.sound, frames), 0.1) << c.what;
  }
}

// What `sound` is from `from` to `to` seconds: silence, the test font's
// square wave of 100 frames (its size repeats every half period) or another.
std::string heard(const std::vector<float>& sound, double from, double to) {
  const auto begin = static_cast<size_t>(from * audio::kSampleRate);
  const auto end = std::min(sound.size() - 50, static_cast<size_t>(to * audio::kSampleRate));
  double diff = 0, size = 0;
  for (size_t i = begin; i < end; ++i) {
    diff += std::abs(sound[i + 50] - sound[i]);
    size += sound[i];
  }
  return size / double(end - begin) < 0.005 ? "silence" : diff / size < 0.05 ? "square" : "another";
}

// A SoundFont asked for while a note sounds: the note sounds on to its end,
// and the next one plays from the new font. One that cannot be loaded says
// which and why, and the font before it plays on.
TEST(BuiltinSynth, AChosenSoundFontPlaysFromTheNextNoteAndOneThatCannotLoadChangesNothing) {
  test::Track t;
  t.tempo(0, 1000000).at(0, {0x90, 60, 100}).at(600, {0x80, 60, 0});
  t.at(700, {0x90, 60, 100}).at(1000, {0x80, 60, 0});
  const std::string song = test::writeTemp("twonotes.mid", test::smf(0, 1000, {t.finish(1000)}));
  const test::Bytes squareBytes = test::squareFont(4410, 100);
  const std::string square = test::writeTemp("square.sf2", squareBytes);
  const std::string damaged =
      test::writeTemp("damaged.sf2", test::Bytes(squareBytes.begin(), squareBytes.begin() + 4000));
  const struct {
    std::string font;
    const char* error;  // how it starts; empty when the font plays
    const char* after;  // the sound of the next note
  } cases[] = {
      {square, "", "square"},
      {"/no/such/font.sf2", "No such file or directory.", "square"},
      {song, "It is not a SoundFont.", "square"},  // a MIDI file
      {damaged, "FluidSynth cannot read it (", "square"},
      {"/", "It is not a regular file.", "square"},
      {defaultSoundFont(), "", "another"},
  };
  std::string before = "another";
  for (const auto& c : cases) {
    std::optional<SoundFontResult> result;
    // While the first note sounds.
    const auto sound = playToEnd(song, [&](size_t frames) {
      if (frames < audio::kSampleRate / 10 || result) return;
      BuiltinSynth::useSoundFont(c.font, [&](const SoundFontResult& r) { result = r; });
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!result && std::chrono::steady_clock::now() < limit) mci::waitAndRunPostedTasks(50);
    });
    ASSERT_TRUE(result) << c.font;
    EXPECT_EQ(result->path, c.font);
    EXPECT_TRUE(*c.error ? result->error.starts_with(c.error) : result->error.empty())
        << result->error;
    EXPECT_EQ(heard(sound, 0.3, 0.55), before) << c.font;
    EXPECT_EQ(heard(sound, 0.8, 0.95), c.after) << c.font;
    before = c.after;
  }
}

// A game-music song through plimra-render: C4, then the loop section from
// 500 ms (a CC 111 or a "loopStart" marker) with A4 from 600 to 1300 ms, up
// to the song's end or a "loopEnd" marker at 1500 ms that E5 follows. With
// --loop the section is heard three times, then fades out going round and
// the song ends; without, once, and the song plays on to its end.
TEST(BuiltinSynth, LoopSongsGoRoundThreeTimesThenFadeWithLoop) {
  constexpr double kA4 = 440.00, kE5 = 659.26;
  auto song = [](bool markers) {
    test::Track t;
    t.tempo(0, 1000000).at(0, {0xC0, 79}).at(0, {0x90, 60, 100}).at(400, {0x80, 60, 0});
    if (markers)
      t.marker(500, "loopStart");
    else
      t.at(500, {0xB0, 111, 0});
    t.at(600, {0x90, 69, 100}).at(1300, {0x80, 69, 0});
    if (!markers) return test::smf(0, 1000, {t.finish(1500)});
    t.marker(1500, "loopEnd").at(1600, {0x90, 76, 100}).at(2000, {0x80, 76, 0});
    return test::smf(0, 1000, {t.finish(2100)});
  };
  for (const bool markers : {false, true}) {
    const std::string path = test::writeTemp("loop.mid", song(markers));
    for (const bool loop : {false, true}) {
      SCOPED_TRACE(std::string(markers ? "markers" : "CC 111") + (loop ? ", --loop" : ""));
      const test::Bytes wav = render(path, loop ? "--loop" : "");
      const double seconds = double(wav.size() - 44) / 4 / audio::kSampleRate;
      // The A4 of each pass, the section a second long from 500 ms.
      auto pass = [&](int k) { return toneLevel(wav, kA4, 0.7 + k, 1.2 + k); };
      const double first = pass(0);
      ASSERT_GT(first, 0.01);
      if (!loop) {
        EXPECT_LT(pass(1), 0.01);
        EXPECT_EQ(toneLevel(wav, kE5, 1.65, 1.95) > 0.01, markers);
        EXPECT_LT(seconds, 4.5);
        continue;
      }
      EXPECT_GT(pass(1), first * 0.8);
      EXPECT_GT(pass(2), first * 0.8);
      // The fade from 3.5 s on: each pass quieter than the one before.
      double before = first;
      for (int k : {3, 5, 7, 9}) {
        EXPECT_LT(pass(k), before) << "pass " << k;
        before = pass(k);
      }
      EXPECT_LT(before, first / 4);
      EXPECT_LT(toneLevel(wav, kE5, 0.5, seconds), 0.002);
      EXPECT_GT(seconds, 11.4);
      EXPECT_LT(seconds, 14.0);
    }
  }
}

}  // namespace
}  // namespace plimra::seq

// Plays a song through the sequencer and the built-in synthesizer, faster
// than real time, into a 44.1 kHz stereo WAV file; or, with --port, to a
// MIDI-OUT port in real time. With --loop a song with a loop goes round it
// as the player's loop mode has it: the section three times, then a fade.
//   plimra-render [--loop] SONG.mid OUT.wav
//   plimra-render [--loop] --port NAME SONG.mid
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/mci/dispatch.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/sequencer_device.h"

namespace seq = plimra::seq;
namespace mci = plimra::mci;

namespace {

constexpr int kBlock = 512;
// After the last event the reverb and releases ring on; keep them, up to
// this long, until the output falls silent.
constexpr int kMaxTailFrames = 2 * plimra::audio::kSampleRate;

class WavWriter {
 public:
  explicit WavWriter(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {
    char header[44] = {};
    out_.write(header, sizeof header);  // filled in by finish()
  }
  bool ok() const { return static_cast<bool>(out_); }
  void write(const float* samples, int frames) {
    buf_.resize(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < buf_.size(); ++i) {
      const float v = std::clamp(samples[i], -1.0f, 1.0f);
      buf_[i] = static_cast<int16_t>(std::lrint(v * 32767.0f));
    }
    out_.write(reinterpret_cast<const char*>(buf_.data()),
               static_cast<std::streamsize>(buf_.size() * sizeof(int16_t)));
    dataBytes_ += static_cast<uint32_t>(buf_.size() * sizeof(int16_t));
  }
  bool finish() {
    auto le32 = [](char* p, uint32_t v) {
      for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
    };
    auto le16 = [](char* p, uint16_t v) {
      p[0] = static_cast<char>(v);
      p[1] = static_cast<char>(v >> 8);
    };
    char h[44];
    std::memcpy(h, "RIFF", 4);
    le32(h + 4, 36 + dataBytes_);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    le32(h + 16, 16);
    le16(h + 20, 1);  // PCM
    le16(h + 22, 2);
    le32(h + 24, plimra::audio::kSampleRate);
    le32(h + 28, plimra::audio::kSampleRate * 4);
    le16(h + 32, 4);
    le16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    le32(h + 40, dataBytes_);
    out_.seekp(0);
    out_.write(h, sizeof h);
    out_.close();
    return static_cast<bool>(out_);
  }

 private:
  std::ofstream out_;
  std::vector<int16_t> buf_;
  uint32_t dataBytes_ = 0;
};

int usage() {
  std::cerr << "usage: plimra-render [--loop] SONG.mid OUT.wav\n"
               "       plimra-render [--loop] --port NAME SONG.mid\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string port, song, wav;
  bool loop = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--port" && i + 1 < args.size()) {
      port = args[++i];
    } else if (args[i] == "--loop") {
      loop = true;
    } else if (!args[i].empty() && args[i][0] == '-' && args[i] != "-") {
      return usage();
    } else if (song.empty()) {
      song = args[i];
    } else if (wav.empty()) {
      wav = args[i];
    } else {
      return usage();
    }
  }
  if (song.empty() || (port.empty() == wav.empty())) return usage();

  // The synthesizer is pulled here, never by the audio output; with --port
  // it is not used at all.
  seq::BuiltinSynth::setOffline(true);
  auto outputs = seq::systemOutputs();
  int32_t portNumber = -1;
  if (!port.empty()) {
    const auto names = outputs->outputNames();
    auto it = std::find(names.begin() + 1, names.end(), port);
    if (it == names.end()) {
      std::cerr << "plimra-render: there is no MIDI-OUT port named \"" << port << "\"; ports:";
      for (size_t i = 1; i < names.size(); ++i) std::cerr << " \"" << names[i] << "\"";
      std::cerr << (names.size() > 1 ? "\n" : " none\n");
      return 1;
    }
    portNumber = static_cast<int32_t>(it - names.begin());
  }
  seq::SequencerDevice device(outputs);
  device.setLoop(loop);
  if (device.open(song) != mci::err::None) {
    std::cerr << "plimra-render: " << device.lastError() << "\n";
    return 1;
  }
  const auto s = device.song();
  std::cout << "format " << s->format << ", " << s->trackCount << " track"
            << (s->trackCount == 1 ? "" : "s") << ", " << s->lengthNs / 1'000'000 << " ms\n";
  for (const auto& w : s->warnings) std::cerr << "plimra-render: warning: " << w << "\n";
  if (loop && s->loop)
    std::cout << "loop from " << s->loop->startMs() << " to " << s->loop->endMs() << " ms\n";

  if (!port.empty()) {
    if (device.setPort(portNumber) != mci::err::None) {
      std::cerr << "plimra-render: " << device.lastError() << "\n";
      return 1;
    }
  } else {
    // A file of silence, or of another font than the one asked for, would
    // pass for a rendering.
    auto synth = seq::BuiltinSynth::shared();
    for (const std::string& why : {synth->fontProblem(), synth->problem()}) {
      if (why.empty()) continue;
      std::cerr << "plimra-render: " << why << "\n";
      return 1;
    }
  }

  std::atomic<bool> done{false};
  device.play({}, [&](mci::NotifyCode) { done = true; });

  if (!port.empty()) {
    while (!done) mci::waitAndRunPostedTasks(100);
    device.close();
    return 0;
  }

  auto synth = seq::BuiltinSynth::shared();
  WavWriter out(wav);
  if (!out.ok()) {
    std::cerr << "plimra-render: cannot write " << wav << "\n";
    return 1;
  }
  std::vector<float> buf(kBlock * 2);
  while (!done) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    synth->render(buf.data(), kBlock);
    out.write(buf.data(), kBlock);
    mci::runPostedTasks();
  }
  device.close();
  for (int tail = 0; tail < kMaxTailFrames; tail += kBlock) {
    std::fill(buf.begin(), buf.end(), 0.0f);
    synth->render(buf.data(), kBlock);
    const float peak = std::abs(*std::max_element(
        buf.begin(), buf.end(), [](float a, float b) { return std::abs(a) < std::abs(b); }));
    if (peak < 1.0f / 32768) break;
    out.write(buf.data(), kBlock);
  }
  if (!out.finish()) {
    std::cerr << "plimra-render: cannot write " << wav << "\n";
    return 1;
  }
  return 0;
}

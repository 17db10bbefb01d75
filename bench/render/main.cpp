// Rendering a song to a WAV file faster than real time: plimra-render
// against the fluidsynth command's file renderer, same SoundFont, same song.
// Then what the built-in synthesizer's 32 channels (two ports) cost on a
// song of 16 parts: the same renderer at 32 channels against 16, beside
// plimra-render.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/sequencer/builtin_synth.h"
#include "tests/support/midi_file.h"

extern char** environ;

namespace {

struct Timing {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system of the child
  bool ok = false;
};

Timing run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", 1, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", 1, 0);
  Timing t;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) return t;
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
          ru.ru_stime.tv_usec / 1e6;
  t.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  posix_spawn_file_actions_destroy(&fa);
  return t;
}

Timing best(const std::vector<std::string>& args, int rounds) {
  Timing b;
  for (int i = 0; i < rounds; ++i) {
    Timing t = run(args);
    if (!t.ok) return t;
    if (!b.ok || t.wall < b.wall) b = t;
  }
  return b;
}

// Half a minute of 16 parts: a chord tone every eighth, held for a
// sixteenth, on each of 15 melodic channels, each with its own program,
// and drums on channel 10.
std::string writeSixteenParts(const std::string& dir) {
  plimra::test::Track t;
  t.tempo(0, 500000);
  for (uint8_t ch = 0; ch < 16; ++ch)
    if (ch != 9) t.at(0, {uint8_t(0xC0 | ch), uint8_t(ch * 8)});
  constexpr uint32_t kEighth = 240, kEighths = 120;
  auto key = [](uint8_t ch, uint32_t eighth) {
    return ch == 9 ? uint8_t(35 + eighth % 12) : uint8_t(48 + (eighth * 7 + ch * 5) % 24);
  };
  for (uint32_t i = 0; i < kEighths; ++i) {
    for (uint8_t ch = 0; ch < 16; ++ch) t.at(i * kEighth, {uint8_t(0x90 | ch), key(ch, i), 90});
    for (uint8_t ch = 0; ch < 16; ++ch)
      t.at(i * kEighth + kEighth / 2, {uint8_t(0x80 | ch), key(ch, i), 0});
  }
  const std::string path = dir + "/sixteen-parts.mid";
  plimra::test::writeFile(path, plimra::test::smf(0, 480, {t.finish(kEighths * kEighth)}));
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> songs;
  for (int i = 1; i < argc; ++i) songs.push_back(argv[i]);
  if (songs.empty()) {
    songs = {std::string(PLIMRA_TESTDATA) + "/midi/test-all-gm-sounds.mid",
             std::string(PLIMRA_TESTDATA) + "/midi/test-rpn-00-00-pitch-bend-range.mid"};
  }
  const std::string font = plimra::seq::findSoundFont();
  if (font.empty()) {
    std::fprintf(stderr, "no SoundFont found\n");
    return 1;
  }
  setenv("PLIMRA_SOUNDFONT", font.c_str(), 1);
  const std::string tmp = std::filesystem::temp_directory_path() / "plimra-bench-render";
  std::filesystem::create_directories(tmp);
  std::printf("SoundFont %s\n", font.c_str());
  std::printf("%-40s %12s %12s %12s %12s %8s\n", "song", "ours wall s", "ours cpu s", "peer wall s",
              "peer cpu s", "speed");
  for (const auto& song : songs) {
    const Timing ours = best({PLIMRA_RENDER, song, tmp + "/ours.wav"}, 3);
    const Timing peer =
        best({"fluidsynth", "-ni", "-F", tmp + "/peer.wav", "-r", "44100", font, song}, 3);
    if (!ours.ok || !peer.ok) {
      std::fprintf(stderr, "%s: a renderer failed (ours %d, peer %d)\n", song.c_str(), ours.ok,
                   peer.ok);
      return 1;
    }
    // Speed relative to the peer: >1 means we are faster.
    std::printf("%-40s %12.3f %12.3f %12.3f %12.3f %7.2fx\n",
                std::filesystem::path(song).filename().c_str(), ours.wall, ours.cpu, peer.wall,
                peer.cpu, peer.wall / ours.wall);
  }

  // Rounds taken in turn, so that a busy moment of the machine falls on
  // each renderer alike; CPU time, which the other programs running
  // change least.
  const std::string parts = writeSixteenParts(tmp);
  auto peerAt = [&](int channels) {
    return std::vector<std::string>{"fluidsynth", "-ni",
                                    "-F",         tmp + "/peer.wav",
                                    "-r",         "44100",
                                    "-o",         "synth.polyphony=128",
                                    "-o",         "synth.midi-channels=" + std::to_string(channels),
                                    font,         parts};
  };
  const std::vector<std::vector<std::string>> renderers = {
      peerAt(16), peerAt(32), {PLIMRA_RENDER, parts, tmp + "/ours.wav"}};
  std::vector<Timing> fastest(renderers.size());
  for (int round = 0; round < 7; ++round) {
    for (size_t i = 0; i < renderers.size(); ++i) {
      const Timing t = run(renderers[i]);
      if (!t.ok) {
        std::fprintf(stderr, "%s failed on %s\n", renderers[i][0].c_str(), parts.c_str());
        return 1;
      }
      if (!fastest[i].ok || t.cpu < fastest[i].cpu) fastest[i] = t;
    }
  }
  std::printf("\n16 parts, 30 s of music: 32 synthesizer channels against 16\n");
  const char* names[] = {"fluidsynth, 16 channels", "fluidsynth, 32 channels",
                         "plimra-render (32 channels)"};
  std::printf("%-40s %12s %12s %12s\n", "renderer", "wall s", "cpu s", "cpu vs 16");
  for (size_t i = 0; i < renderers.size(); ++i)
    std::printf("%-40s %12.3f %12.3f %11.3fx\n", names[i], fastest[i].wall, fastest[i].cpu,
                fastest[i].cpu / fastest[0].cpu);
  std::filesystem::remove_all(tmp);
  return 0;
}

// Rendering a song to a WAV file faster than real time: plimra-render
// against the fluidsynth command's file renderer, same SoundFont, same song.
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
  std::filesystem::remove_all(tmp);
  return 0;
}

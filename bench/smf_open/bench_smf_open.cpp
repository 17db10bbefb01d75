// Opening a MIDI file as the player does (read, parse, tempo map, the song
// to play) against libsmf's smf_load, which also reads the file and times
// every event.
//   bench_smf_open [folder of .mid files]
#include <glib.h>
#include <signal.h>
#include <smf.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "media/sequencer/smf.h"
#include "media/sequencer/song.h"
#include "tests/support/midi_file.h"

namespace fs = std::filesystem;

namespace {

volatile uint64_t g_sink;  // keeps the work from being optimised away

bool openOurs(const std::string& path) {
  auto load = plimra::seq::loadSong(path);
  if (!load.song) return false;
  g_sink = g_sink + load.song->events.size();
  return true;
}

bool openLibsmf(const std::string& path) {
  smf_t* smf = smf_load(path.c_str());
  if (!smf) return false;
  g_sink = g_sink + uint64_t(smf_get_length_seconds(smf) * 1e6);
  smf_delete(smf);
  return true;
}

// A busy 16-track song: a conductor track with a tempo change every beat,
// and fifteen tracks of notes, controllers and pitch bends, mostly in
// running status, with a little text and SysEx.
std::string writeLargeFile(const fs::path& dir) {
  const fs::path path = dir / "large-type-1.mid";
  std::vector<std::vector<uint8_t>> tracks;
  const int beats = 1700;  // about 1.1 MB
  std::vector<uint8_t> t;
  for (int i = 0; i < beats; ++i) {
    plimra::test::putVlq(t, i ? 480 : 0);
    const uint32_t tempo = 400000 + uint32_t(i * 7919 % 200000);
    t.insert(t.end(),
             {0xff, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)});
  }
  t.insert(t.end(), {0x00, 0xff, 0x2f, 0x00});
  tracks.push_back(t);
  for (int ch = 0; ch < 15; ++ch) {
    t.clear();
    t.insert(t.end(), {0x00, 0xff, 0x03, 0x05, 'T', 'r', 'a', 'c', 'k'});
    t.insert(t.end(), {0x00, 0xf0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xf7});
    for (int i = 0; i < beats * 2; ++i) {
      const uint8_t key = uint8_t(40 + (i * 7 + ch) % 48);
      t.insert(t.end(), {0x00, uint8_t(0x90 | ch), key, 0x64});  // note on
      t.insert(t.end(), {0x3c, key, 0x00});                      // running-status note off
      t.insert(t.end(), {0x00, uint8_t(0xb0 | ch), 0x0b, uint8_t(i % 128)});
      t.insert(t.end(), {0x3c, uint8_t(0xe0 | ch), 0x00, uint8_t(64 + i % 32)});
      t.insert(t.end(), {0x3c, 0x00, uint8_t(64 - i % 32)});
      t.insert(t.end(), {0x3c, uint8_t(0xb0 | ch), 0x01, uint8_t(i % 100)});
      if (i % 64 == 0) t.insert(t.end(), {0x00, 0xff, 0x01, 0x04, 'b', 'e', 'a', 't'});
    }
    t.insert(t.end(), {0x00, 0xff, 0x2f, 0x00});
    tracks.push_back(t);
  }
  plimra::test::writeFile(path.string(), plimra::test::smf(1, 480, tracks));
  return path.string();
}

// Seconds per pass over `files`: the best of up to five rounds of at least
// 0.2 s each, fewer when a single pass is slow (libsmf on the large file).
double timePass(const std::vector<std::string>& files,
                const std::function<bool(const std::string&)>& open) {
  double best = 1e30, spent = 0;
  for (int round = 0; round < 5 && spent < 3.0; ++round) {
    int passes = 0;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::duration<double> elapsed{};
    do {
      for (const std::string& f : files) open(f);
      ++passes;
      elapsed = std::chrono::steady_clock::now() - start;
    } while (elapsed.count() < 0.2);
    best = std::min(best, elapsed.count() / passes);
    spent += elapsed.count();
  }
  return best;
}

// The worst file the reader takes: 16 MiB of two-byte events (a program
// change, then its data byte again and again in running status), eight
// million events at tick 0.
std::string writeWorstFile(const fs::path& dir) {
  const fs::path path = dir / "worst-16MiB.mid";
  std::vector<uint8_t> t{0x00, 0xc0, 0x00};
  while (t.size() + 2 + 4 + 22 < plimra::seq::kMaxSmfFileBytes) t.insert(t.end(), {0x00, 0x01});
  t.insert(t.end(), {0x00, 0xff, 0x2f, 0x00});
  plimra::test::writeFile(path.string(), plimra::test::smf(0, 96, {t}));
  return path.string();
}

// Opens `path` in a child process of its own and reports the time it took
// and the child's peak resident size.
void openAlone(const char* name, const std::string& path,
               const std::function<bool(const std::string&)>& open) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(60);  // a reader that takes longer is reported as such
    _exit(open(path) ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFSIGNALED(status)) {
    std::printf("  %-22s did not finish within 60 s\n", name);
    return;
  }
  std::printf("  %-22s %s in %7.3f s, peak resident size %7.1f MB\n", name,
              WEXITSTATUS(status) == 0 ? "opened" : "failed", seconds, usage.ru_maxrss / 1024.0);
}

void report(const char* what, const std::vector<std::string>& files) {
  const double ours = timePass(files, openOurs);
  const double theirs = timePass(files, openLibsmf);
  std::printf("%-34s %4zu file(s)  ours %10.1f us  libsmf %10.1f us  ratio %6.1fx\n", what,
              files.size(), ours * 1e6, theirs * 1e6, theirs / ours);
}

}  // namespace

int main(int argc, char** argv) {
  // libsmf reports every oddity through GLib; the bench only wants timings.
  g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);

  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::path(PLIMRA_TESTDATA) / "midi";
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().extension() == ".mid") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  // Both readers get the same files: those that both can open.
  std::vector<std::string> common;
  for (const std::string& f : files)
    if (openOurs(f) && openLibsmf(f)) common.push_back(f);

  char tmpl[] = "/tmp/bench_smf_open.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = tmpl;
  const std::string large = writeLargeFile(dir);
  if (!openOurs(large) || !openLibsmf(large)) {
    std::fprintf(stderr, "the generated file did not open\n");
    fs::remove_all(dir);
    return 1;
  }

  std::printf("opening MIDI files (read + parse + tempo map + song), time per pass (best round)\n");
  report(("test files in " + folder.filename().string()).c_str(), common);
  report(("generated type 1, " + std::to_string(fs::file_size(large) / 1024) + " KB").c_str(),
         {large});

  const std::string worst = writeWorstFile(dir);
  std::printf("\nthe worst %zu-byte file, each reader in a process of its own:\n",
              size_t(fs::file_size(worst)));
  openAlone("plimra", worst, openOurs);
  openAlone("libsmf", worst, openLibsmf);
  fs::remove_all(dir);
  return 0;
}

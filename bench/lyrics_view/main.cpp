// The lyrics window's cost while a song with a syllable every 50 ms plays on
// the real sequencer at real time: the CPU time of the window's thread (the
// GUI thread, where the windows, their timers and their drawing run) and of
// the whole process, with the lyrics window shown against the same song with
// it closed, in one run. The windows draw offscreen, as the window tests
// do; the sound goes to SDL's dummy driver.
//   bench_lyrics_view [SECONDS]   (each way; 5 by default)
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "media/mci/device_table.h"
#include "media/mci/background.h"
#include "media/sequencer/register.h"
#include "platform/program.h"
#include "tests/support/midi_file.h"
#include "ui/kit/appearance.h"
#include "ui/lyrics_window.h"
#include "ui/midi_window.h"
#include "ui/options.h"
#include "ui/windows.h"

namespace {

namespace test = plimra::test;
namespace ui = plimra::ui;

constexpr uint32_t kSyllableMs = 50;
constexpr uint32_t kSyllablesPerLine = 8;

// A minute of a syllable every 50 ms (a tick is a millisecond), a short note
// under each, eight syllables a line.
test::Bytes denseSong() {
  test::Track t;
  t.tempo(0, 1000000).at(0, {0xC0, 0});
  constexpr uint32_t kSongMs = 60000;
  uint32_t n = 0;
  for (uint32_t ms = 0; ms < kSongMs; ms += kSyllableMs, ++n) {
    const std::string syllable =
        "\x82\xA0" + std::string((n + 1) % kSyllablesPerLine == 0 ? "/" : "");  // "あ"
    t.meta(ms, 0x05, syllable).at(ms, {0x90, 60, 80}).at(ms + kSyllableMs / 2, {0x80, 60, 0});
  }
  return test::smf(0, 1000, {t.finish(kSongMs)});
}

double seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double processSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Cost {
  double guiMs, processMs;
};

// The song from its start for `ms`, the lyrics window shown or not.
Cost play(ui::MidiWindow& w, bool lyricsShown, int ms) {
  ui::options().setFlag(ui::Options::Flag::Lyrics, lyricsShown);
  w.fileList->setListIndex(0);
  w.onFileActivated();
  QApplication::processEvents();
  const double gui0 = seconds(CLOCK_THREAD_CPUTIME_ID), process0 = processSeconds();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return {(seconds(CLOCK_THREAD_CPUTIME_ID) - gui0) * 1000, (processSeconds() - process0) * 1000};
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  const int runMs = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 5) * 1000;
  QApplication app(argc, argv);
  plimra::kit::installJapaneseFontSubstitutes();

  // A program folder of its own: its plimra.ini plays the one song once,
  // with no reset song, from the folder that holds it.
  QTemporaryDir root;
  const QString music = root.filePath("music");
  QDir().mkpath(music);
  if (!test::writeFile((music + "/dense.mid").toStdString(), denseSong())) {
    std::fprintf(stderr, "cannot write the song in %s\n", qPrintable(music));
    return 1;
  }
  QFile ini(root.filePath("plimra.ini"));
  if (!ini.open(QIODevice::WriteOnly)) return 1;
  ini.write(("[MID]\nDir=" + music + "\n[Option]\nSingle=True\nContinue=False\nRandom=False\n"
             "Reset=NON\nLyrics=False\n")
                .toUtf8());
  ini.close();
  plimra::platform::setAppPath(root.path());
  plimra::platform::setEndHandler([] {});
  plimra::seq::registerSequencer();

  ui::MidiWindow* w = ui::midiWindow();
  w->Show();
  const Cost closed = play(*w, false, runMs);
  const Cost shown = play(*w, true, runMs);
  const bool sawWords = !ui::lyricsWindow()->sungText->text().isEmpty();

  std::printf("lyrics view while a song sings a syllable every %u ms, %d s each way\n",
              kSyllableMs, runMs / 1000);
  std::printf("  %-22s %10s %12s\n", "", "GUI thread", "process");
  std::printf("  %-22s %8.1f ms %10.1f ms\n", "window closed", closed.guiMs, closed.processMs);
  std::printf("  %-22s %8.1f ms %10.1f ms\n", "window shown", shown.guiMs, shown.processMs);
  std::printf("  %-22s %10.2f %12.2f\n", "ratio shown/closed", shown.guiMs / closed.guiMs,
              shown.processMs / closed.processMs);
  std::printf("  GUI thread per second of song: %.2f ms closed, %.2f ms shown%s\n",
              closed.guiMs * 1000 / runMs, shown.guiMs * 1000 / runMs,
              sawWords ? "" : " (the window showed no words!)");

  ui::destroyWindows();
  plimra::mci::DeviceTable::instance().closeAll();
  plimra::mci::endBackgroundWork();
  return sawWords ? 0 : 1;
}

#include "ui/windows.h"

#include <QPointer>
#include <memory>

#include "ui/about_window.h"
#include "ui/cd_window.h"
#include "ui/lyrics_window.h"
#include "ui/midi_window.h"
#include "ui/options.h"

namespace plimra::ui {

namespace {

// The windows the accessors made (and own).
std::unique_ptr<ui::MidiWindow>& ownedMidi() {
  static std::unique_ptr<ui::MidiWindow> w;
  return w;
}

std::unique_ptr<ui::CdWindow>& ownedCd() {
  static std::unique_ptr<ui::CdWindow> w;
  return w;
}

std::unique_ptr<ui::LyricsWindow>& ownedLyrics() {
  static std::unique_ptr<ui::LyricsWindow> w;
  return w;
}

// The lyrics window shows while its option is on; it is made only then.
void followLyricsOption() {
  if (options().flag(Options::Flag::Lyrics)) {
    if (!lyricsWindow()->isVisible()) lyricsWindow()->Show();
  } else if (ownedLyrics() && ownedLyrics()->isVisible()) {
    ownedLyrics()->Hide();
  }
}

// The program's instance of each window, however it was made.
ui::MidiWindow*& currentMidi() {
  static ui::MidiWindow* w = nullptr;
  return w;
}

ui::CdWindow*& currentCd() {
  static ui::CdWindow* w = nullptr;
  return w;
}

}  // namespace

ui::MidiWindow* midiWindow() {
  if (!currentMidi()) {
    // The constructor adopts the window; Load runs with it in place, so
    // that what start-up reaches through this accessor is this window.
    ownedMidi() = std::make_unique<ui::MidiWindow>();
    ownedMidi()->Load();
  }
  return currentMidi();
}

namespace {

WindowPlace& cdPlace() {
  static WindowPlace place;
  return place;
}

void applyPlace(kit::Form& window, WindowPlace& place) {
  if (place.top) window.setTop(*place.top);
  if (place.left) window.setLeft(*place.left);
  place = {};
}

}  // namespace

ui::CdWindow* cdWindow() {
  if (!currentCd()) {
    ownedCd() = std::make_unique<ui::CdWindow>();
    ownedCd()->Load();
    applyPlace(*ownedCd(), cdPlace());
  }
  return currentCd();
}

void placeCdWindow(const WindowPlace& place) {
  cdPlace() = place;
  if (currentCd()) applyPlace(*currentCd(), cdPlace());
}

ui::AboutWindow* aboutWindow() {
  static QPointer<ui::AboutWindow> w;
  // A window that has closed may still wait for its deferred deletion.
  if (w && w->unloaded()) delete w.data();
  if (!w) {
    w = new ui::AboutWindow();
    w->Load();
  }
  return w.data();
}

ui::LyricsWindow* lyricsWindow() {
  if (!ownedLyrics()) {
    ownedLyrics() = std::make_unique<ui::LyricsWindow>([] { return midiWindow()->playerState(); });
    ownedLyrics()->Load();
  }
  return ownedLyrics().get();
}

// The windows reach each other only through these: each asks for the other
// (or the About window) by a signal, and the other comes at its place.
void adopt(ui::MidiWindow* window) {
  currentMidi() = window;
  QObject::connect(window, &MidiWindow::cdPlayerRequested, [](int left, int top) {
    CdWindow* cd = cdWindow();  // loaded on first use
    cd->Move(left, top);
    cd->Show();
  });
  QObject::connect(window, &MidiWindow::aboutRequested, [](int left, int top) {
    // A new window after every close, shown modally.
    AboutWindow* about = aboutWindow();
    about->Move(left, top);
    about->Show(1);
  });
  QObject::connect(&options(), &Options::changed, window, [] { followLyricsOption(); });
  QObject::connect(window, &MidiWindow::playerChanged, [] {
    if (ownedLyrics() && ownedLyrics()->isVisible()) ownedLyrics()->onTick();
  });
}

void adopt(ui::CdWindow* window) {
  currentCd() = window;
  QObject::connect(window, &CdWindow::midiPlayerRequested, [](int left, int top) {
    MidiWindow* midi = midiWindow();
    midi->Move(left, top);
    midi->Show();
  });
}

void release(ui::MidiWindow* window) {
  if (currentMidi() == window) currentMidi() = nullptr;
}

void release(ui::CdWindow* window) {
  if (currentCd() == window) currentCd() = nullptr;
}

namespace {
// The CD window is the one the user sees only when it shows in the MIDI
// window's place.
bool cdShown() { return !midiWindow()->isVisible() && cdWindow()->isVisible(); }
}  // namespace

Player& shownPlayer() {
  if (cdShown()) return *cdWindow();
  return *midiWindow();
}

void raiseShownWindow() {
  kit::Form& w = cdShown() ? static_cast<kit::Form&>(*cdWindow()) : *midiWindow();
  if (w.WindowState() == 1) w.setWindowState(0);
  w.raise();
  w.activateWindow();
}

void exitFromShownWindow() {
  if (cdShown())
    cdWindow()->onExit();
  else
    midiWindow()->onExit();
}

void openFromOutside(const QString& path) {
  if (cdWindow()->isVisible()) cdWindow()->onMidiPlayer();
  midiWindow()->playFromOutside(path);
}

void destroyWindows() {
  ownedLyrics().reset();
  ownedCd().reset();
  ownedMidi().reset();
}

}  // namespace plimra::ui

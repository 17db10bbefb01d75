#include "ui/windows.h"

#include <QPointer>
#include <memory>

#include "ui/about_window.h"
#include "ui/cd_window.h"
#include "ui/midi_window.h"

namespace plimra::app {

namespace {

// The windows the accessors made (and own).
std::unique_ptr<midi::FrmPlimra>& ownedMidi() {
  static std::unique_ptr<midi::FrmPlimra> w;
  return w;
}

std::unique_ptr<cd::FrmCDp>& ownedCd() {
  static std::unique_ptr<cd::FrmCDp> w;
  return w;
}

// The program's instance of each window, however it was made.
midi::FrmPlimra*& currentMidi() {
  static midi::FrmPlimra* w = nullptr;
  return w;
}

cd::FrmCDp*& currentCd() {
  static cd::FrmCDp* w = nullptr;
  return w;
}

}  // namespace

midi::FrmPlimra* frmPlimra() {
  if (!currentMidi()) {
    // The constructor adopts the window; Load runs with it in place, so
    // that what start-up reaches through this accessor is this window.
    ownedMidi() = std::make_unique<midi::FrmPlimra>();
    ownedMidi()->Load();
  }
  return currentMidi();
}

cd::FrmCDp* frmCDp() {
  if (!currentCd()) {
    ownedCd() = std::make_unique<cd::FrmCDp>();
    ownedCd()->Load();
  }
  return currentCd();
}

about::FrmAbout* frmAbout() {
  static QPointer<about::FrmAbout> w;
  // A window that has closed may still wait for its deferred deletion.
  if (w && w->unloaded()) delete w.data();
  if (!w) {
    w = new about::FrmAbout();
    w->Load();
  }
  return w.data();
}

void adopt(midi::FrmPlimra* window) { currentMidi() = window; }
void adopt(cd::FrmCDp* window) { currentCd() = window; }

void release(midi::FrmPlimra* window) {
  if (currentMidi() == window) currentMidi() = nullptr;
}

void release(cd::FrmCDp* window) {
  if (currentCd() == window) currentCd() = nullptr;
}

void destroyForms() {
  ownedCd().reset();
  ownedMidi().reset();
}

}  // namespace plimra::app

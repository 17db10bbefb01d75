#include "app/forms.h"

#include <QPointer>
#include <QString>
#include <memory>

#include "about/frmabout.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/sequencer/register.h"
#include "midi/frmplimra.h"

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

midi::Links midiLinks() {
  midi::Links l;
  l.setCdCheckMarks = [](bool optMin, bool optChange) {
    frmCDp()->mnuMin->setChecked(optMin);
    frmCDp()->mnuChange->setChecked(optChange);
  };
  l.noSoundReason = [] { return QString::fromStdString(seq::noSoundReason()); };
  return l;
}

cd::Links cdLinks() {
  cd::Links l;
  l.midiWindow = [] { return static_cast<rt::Form*>(frmPlimra()); };
  l.midiMnuMin = [] { return frmPlimra()->mnuMin; };
  l.midiMnuChange = [] { return frmPlimra()->mnuChange; };
  l.optMin = [] { return Module1::OptMin; };
  l.setOptMin = [](bool on) { Module1::OptMin = on; };
  l.optChange = [] { return Module1::OptChange; };
  l.setOptChange = [](bool on) { Module1::OptChange = on; };
  return l;
}

}  // namespace

midi::FrmPlimra* frmPlimra() {
  if (!currentMidi()) {
    // The constructor adopts the window; Load runs with it in place, so
    // that what start-up reaches through this accessor is this window.
    ownedMidi() = std::make_unique<midi::FrmPlimra>(midiLinks());
    ownedMidi()->Load();
  }
  return currentMidi();
}

cd::FrmCDp* frmCDp() {
  if (!currentCd()) {
    ownedCd() = std::make_unique<cd::FrmCDp>(cdLinks());
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

void destroyFormsForTests() {
  ownedCd().reset();
  ownedMidi().reset();
}

}  // namespace plimra::app

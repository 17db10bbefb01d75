#include "app/forms.h"

#include <memory>

#include "app/module1.h"
#include "cd/frmcdp.h"
#include "midi/frmplimra.h"

namespace plimra::app {

namespace {

std::unique_ptr<midi::FrmPlimra>& midiInstance() {
  static std::unique_ptr<midi::FrmPlimra> w;
  return w;
}

std::unique_ptr<cdp::FrmCDp>& cdInstance() {
  static std::unique_ptr<cdp::FrmCDp> w;
  return w;
}

std::function<void()>& settingsLoader() {
  static std::function<void()> f;
  return f;
}

midi::Links midiLinks() {
  midi::Links l;
  l.loadSettings = [] {
    if (settingsLoader()) settingsLoader()();
  };
  l.setCdCheckMarks = [](bool optMin, bool optChange) {
    frmCDp()->mnuMin->setChecked(optMin);
    frmCDp()->mnuChange->setChecked(optChange);
  };
  return l;
}

cdp::Links cdLinks() {
  cdp::Links l;
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
  auto& w = midiInstance();
  if (!w) {
    w = std::make_unique<midi::FrmPlimra>(midiLinks());
    w->Load();
  }
  return w.get();
}

cdp::FrmCDp* frmCDp() {
  auto& w = cdInstance();
  if (!w) {
    w = std::make_unique<cdp::FrmCDp>(cdLinks());
    w->Load();
  }
  return w.get();
}

void setLoadSettings(std::function<void()> loader) { settingsLoader() = std::move(loader); }

void destroyFormsForTests() {
  cdInstance().reset();
  midiInstance().reset();
}

}  // namespace plimra::app

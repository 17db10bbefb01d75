#include "app/forms.h"

#include <QByteArray>
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

// For the end-to-end tests only, until options can come from a saved
// settings file: PLIMRA_TEST_OPTIONS="Reset=NON;Mode=Continue;Time=1;Min=1"
// applied after the saved settings. Mode is Single, Continue or Random.
void applyTestOptions() {
  const QString layout = QString::fromLocal8Bit(qgetenv("PLIMRA_TEST_OPTIONS"));
  for (const QString& item : layout.split(u';', Qt::SkipEmptyParts)) {
    const QString key = item.section(u'=', 0, 0).trimmed();
    const QString value = item.section(u'=', 1).trimmed();
    const bool on = value == QLatin1String("1") ||
                    value.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    if (key == QLatin1String("Reset")) {
      Module1::OptReset = value;
    } else if (key == QLatin1String("Mode")) {
      Module1::OptSingle = value == QLatin1String("Single");
      Module1::OptContinue = value == QLatin1String("Continue");
      Module1::OptRandom = value == QLatin1String("Random");
    } else if (key == QLatin1String("Time")) {
      Module1::OptTime = on;
    } else if (key == QLatin1String("Min")) {
      Module1::OptMin = on;
    }
  }
}

midi::Links midiLinks() {
  midi::Links l;
  l.loadSettings = [] {
    if (settingsLoader()) settingsLoader()();
    applyTestOptions();
  };
  l.setCdCheckMarks = [](bool optMin, bool optChange) {
    frmCDp()->mnuMin->setChecked(optMin);
    frmCDp()->mnuChange->setChecked(optChange);
  };
  l.noSoundReason = [] { return QString::fromStdString(seq::noSoundReason()); };
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

void setLoadSettings(std::function<void()> loader) { settingsLoader() = std::move(loader); }

void destroyFormsForTests() {
  cdInstance().reset();
  midiInstance().reset();
}

}  // namespace plimra::app

#include "app/module1.h"

#include <cstdint>

#include "app/forms.h"
#include "cd/frmcdp.h"
#include "midi/frmplimra.h"
#include "runtime/conversions.h"
#include "runtime/filenames.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "settings/profile.h"

namespace plimra::Module1 {

// The values before the MIDI window's start-up sets its defaults.
bool OptMin = false;
bool OptChange = false;
bool OptTime = false;
bool OptSingle = false;
bool OptContinue = false;
bool OptRandom = false;
QString OptReset;
QString OptSoundFont;
plimra::mci::SeqSetParms SeqParms;

namespace {

midi::FrmPlimra& midiWindow() { return *app::frmPlimra(); }
cd::FrmCDp& cdWindow() { return *app::frmCDp(); }

QString number(int64_t n) { return rt::Str(n); }

// What is saved, in the order a new file lists it. A key added here lands
// at the end of its section in an existing file.
struct SavedKey {
  const char* section;
  const char* key;
  QString (*text)();
};

const SavedKey kSavedKeys[] = {
    // A folder whose name is not plain UTF-8 text is written as a file URL.
    {"MID", "Dir", [] { return rt::writtenPath(midiWindow().Dir1->Path()); }},
    {"MID", "Drive", [] { return midiWindow().Drive1->Drive(); }},
    {"Option", "Min", [] { return rt::BoolText(OptMin); }},
    {"Option", "Change", [] { return rt::BoolText(OptChange); }},
    {"Option", "Time", [] { return rt::BoolText(OptTime); }},
    {"Option", "Single", [] { return rt::BoolText(OptSingle); }},
    {"Option", "Continue", [] { return rt::BoolText(OptContinue); }},
    {"Option", "Random", [] { return rt::BoolText(OptRandom); }},
    {"Option", "MIDIOUT", [] { return number(midiWindow().lstPort->ListIndex()); }},
    // The name too: after a device is plugged in or removed, the index
    // alone would point at another port.
    {"Option", "MIDIOUTName",
     [] {
       const auto* list = midiWindow().lstPort;
       return list->List(list->ListIndex());
     }},
    {"Option", "Reset", [] { return OptReset; }},
    {"Option", "SoundFont", [] { return rt::writtenPath(OptSoundFont); }},
    {"Plimra", "Top", [] { return number(midiWindow().Top()); }},
    {"Plimra", "Left", [] { return number(midiWindow().Left()); }},
    {"CDp", "Top", [] { return number(cdWindow().Top()); }},
    {"CDp", "Left", [] { return number(cdWindow().Left()); }},
};

}  // namespace

QString SettingsFile() { return settings::profilePath(rt::AppPath()); }

bool SaveSettings(QString* why) {
  const QString file = SettingsFile();
  // The file as it is, so that what the user keeps in it stays. One that
  // exists but cannot be read is not replaced by a file that would lose it.
  settings::ReadResult old = settings::readProfile(file);
  if (old.status == settings::ReadResult::Failed) {
    if (why) *why = file + QStringLiteral(": ") + old.reason;
    return false;
  }
  settings::Profile& profile = old.profile;
  QString unsaved;
  for (const SavedKey& k : kSavedKeys) {
    // A folder name with a line break in it cannot be one line of the file.
    if (!profile.setValue(QLatin1String(k.section), QLatin1String(k.key), k.text()))
      unsaved += QStringLiteral("\n[%1] %2: 改行を含む値は保存できません")
                     .arg(QLatin1String(k.section), QLatin1String(k.key));
  }
  if (!settings::writeProfile(profile, file, why)) return false;
  if (unsaved.isEmpty()) return true;
  if (why) *why = file + unsaved;
  return false;
}

void AskAndSaveSettings() {
  const QString title = QStringLiteral("PLIMRAの動作環境の保存");
  if (rt::MsgBox(QStringLiteral("保存してよろしいですか？"), rt::vbYesNo + rt::vbExclamation,
                 title) != rt::vbYes)
    return;
  QString why;
  if (!SaveSettings(&why))
    rt::MsgBox(QStringLiteral("動作環境を保存できませんでした。\n\n") + why, rt::vbExclamation,
               title);
}

}  // namespace plimra::Module1

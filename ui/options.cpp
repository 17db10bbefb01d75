#include "ui/options.h"

#include <cstdint>

#include "platform/filenames.h"
#include "platform/program.h"
#include "settings/profile.h"
#include "ui/cd_window.h"
#include "ui/kit/conversions.h"
#include "ui/kit/filelists.h"
#include "ui/kit/msgbox.h"
#include "ui/midi_window.h"
#include "ui/windows.h"

namespace plimra::Module1 {

// The values before the MIDI window's start-up sets its defaults.
bool OptMin = false;
bool OptChange = false;
bool OptTime = false;
bool OptSingle = false;
bool OptContinue = false;
bool OptRandom = false;
QString OptReset;
plimra::mci::SeqSetParms SeqParms;

namespace {

ui::MidiWindow& midiWindow() { return *ui::midiWindow(); }
ui::CdWindow& cdWindow() { return *ui::cdWindow(); }

QString number(int64_t n) { return kit::Str(n); }

// What is saved, in the order a new file lists it. A key added here lands
// at the end of its section in an existing file.
struct SavedKey {
  const char* section;
  const char* key;
  QString (*text)();
};

const SavedKey kSavedKeys[] = {
    // A folder whose name is not plain UTF-8 text is written as a file URL.
    {"MID", "Dir", [] { return platform::writtenPath(midiWindow().folderList->Path()); }},
    // The drive that holds the folder: the folder list reaches any folder,
    // and the drive list does not follow it.
    {"MID", "Drive",
     [] {
       const QString holder = platform::driveOf(midiWindow().folderList->Path());
       return holder.isEmpty() ? midiWindow().driveList->Drive() : holder;
     }},
    {"Option", "Min", [] { return kit::BoolText(OptMin); }},
    {"Option", "Change", [] { return kit::BoolText(OptChange); }},
    {"Option", "Time", [] { return kit::BoolText(OptTime); }},
    {"Option", "Single", [] { return kit::BoolText(OptSingle); }},
    {"Option", "Continue", [] { return kit::BoolText(OptContinue); }},
    {"Option", "Random", [] { return kit::BoolText(OptRandom); }},
    {"Option", "MIDIOUT", [] { return midiWindow().portToSave().first; }},
    // The whole name too: after a device is plugged in or removed, the index
    // alone would point at another port.
    {"Option", "MIDIOUTName", [] { return midiWindow().portToSave().second; }},
    {"Option", "Reset", [] { return OptReset; }},
    {"Plimra", "Top", [] { return number(midiWindow().Top()); }},
    {"Plimra", "Left", [] { return number(midiWindow().Left()); }},
    {"CDp", "Top", [] { return number(cdWindow().Top()); }},
    {"CDp", "Left", [] { return number(cdWindow().Left()); }},
};

}  // namespace

QString SettingsFile() { return settings::profilePath(platform::AppPath()); }

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
  if (kit::MsgBox(QStringLiteral("保存してよろしいですか？"), kit::vbYesNo + kit::vbExclamation,
                  title) != kit::vbYes)
    return;
  QString why;
  if (!SaveSettings(&why))
    kit::MsgBox(QStringLiteral("動作環境を保存できませんでした。\n\n") + why, kit::vbExclamation,
                title);
}

}  // namespace plimra::Module1

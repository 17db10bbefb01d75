#include "ui/saved_settings.h"

#include <optional>
#include "platform/filenames.h"
#include "platform/mounts.h"
#include "platform/program.h"
#include "settings/profile.h"
#include "ui/cd_window.h"

#include "ui/kit/conversions.h"
#include "ui/kit/msgbox.h"
#include "ui/kit/twips.h"
#include "ui/midi_window.h"
#include "ui/options.h"
#include "ui/windows.h"

namespace plimra::ui {

namespace {

using Flag = Options::Flag;

// What start-up's reading carries from one key to the next.
struct Loading {
  MidiWindow& midi;
  bool folderRestored = false;
  Options::Port port;
  WindowPlace cdPlace;
};

// One key of plimra.ini: how start-up applies its value and what a save
// writes. A missing key reads as the empty text, which each key treats as
// the lists and the conversions do: an empty folder or drive is refused by
// its list, a Boolean that does not convert keeps the default, a number
// without digits is 0.
struct Setting {
  const char* section;
  const char* key;
  void (*read)(Loading& loading, const QString& value);
  QString (*write)();
};

MidiWindow& midi() { return *midiWindow(); }
CdWindow& cd() { return *cdWindow(); }  // the first use loads it, hidden
QString number(int64_t n) { return kit::Str(n); }

template <Flag F>
void readFlag(Loading&, const QString& value) {
  if (const auto b = kit::CBool(value)) options().setFlag(F, *b);
}
template <Flag F>
QString writeFlag() {
  return kit::BoolText(options().flag(F));
}

// A window position in twips; one outside the coordinate range, or beyond
// where a window can stand on the desktop, is skipped.
std::optional<int> position(const QString& value) {
  const auto n = kit::CLng(kit::Val(value));
  if (!n || !kit::isWindowPosition(*n)) return std::nullopt;
  return *n;
}

// In file order; a key added here lands at the end of its section in an
// existing file.
const Setting kSettings[] = {
    // A folder whose name is not plain UTF-8 text is written as a file URL.
    {"MID", "Dir",
     [](Loading& l, const QString& v) {
       l.folderRestored = l.midi.folderList->setPath(platform::pathFromWritten(v));
     },
     [] { return platform::writtenPath(midi().folderList->Path()); }},
    // The drive that holds the folder: the folder list reaches any folder,
    // and the drive list does not follow it. On reading, the folder wins: a
    // file from before the drive was saved with its folder may name a drive
    // that does not hold it, and that drive's change would replace the
    // folder with one of its own.
    {"MID", "Drive",
     [](Loading& l, const QString& v) {
       const QString holder =
           l.folderRestored ? platform::driveOf(l.midi.folderList->Path()) : QString();
       l.midi.driveList->setDrive(holder.isEmpty() ? v : holder);
     },
     [] {
       const QString holder = platform::driveOf(midi().folderList->Path());
       return holder.isEmpty() ? midi().driveList->Drive() : holder;
     }},
    {"Option", "Min", &readFlag<Flag::Iconize>, &writeFlag<Flag::Iconize>},
    {"Option", "Change", &readFlag<Flag::StopOnSwitch>, &writeFlag<Flag::StopOnSwitch>},
    {"Option", "Time", &readFlag<Flag::ShowTime>, &writeFlag<Flag::ShowTime>},
    {"Option", "Single", &readFlag<Flag::Single>, &writeFlag<Flag::Single>},
    {"Option", "Continue", &readFlag<Flag::InOrder>, &writeFlag<Flag::InOrder>},
    {"Option", "Random", &readFlag<Flag::Random>, &writeFlag<Flag::Random>},
    // An index outside 16 bits leaves the choice as it is; one the list
    // does not have, too.
    {"Option", "MIDIOUT",
     [](Loading& l, const QString& v) {
       if (const auto i = kit::CInt(kit::Val(v))) l.port.index = *i;
     },
     [] { return number(options().port().index); }},
    // The whole name too: after a device is plugged in or removed, the index
    // alone would point at another port.
    {"Option", "MIDIOUTName",
     [](Loading& l, const QString& v) {
       l.port.name = v;
       l.midi.choosePort(l.port);
     },
     [] { return options().port().name; }},
    // Kept as written: only the exact "GS" and "GM" send a reset.
    {"Option", "Reset", [](Loading&, const QString& v) { options().setReset(v); },
     [] { return options().reset(); }},
    {"Option", "Loop", &readFlag<Flag::Loop>, &writeFlag<Flag::Loop>},
    // Same path rules as the folder.
    {"Option", "SoundFont",
     [](Loading&, const QString& v) { options().setSoundFont(platform::pathFromWritten(v)); },
     [] { return platform::writtenPath(options().soundFont()); }},
    {"Option", "Lyrics", &readFlag<Flag::Lyrics>, &writeFlag<Flag::Lyrics>},
    {"Plimra", "Top",
     [](Loading& l, const QString& v) {
       if (const auto top = position(v)) l.midi.setTop(*top);
     },
     [] { return number(midi().Top()); }},
    {"Plimra", "Left",
     [](Loading& l, const QString& v) {
       if (const auto left = position(v)) l.midi.setLeft(*left);
     },
     [] { return number(midi().Left()); }},
    // The CD window takes its place when it is first used (it need not be
    // made before the MIDI window shows).
    {"CDp", "Top", [](Loading& l, const QString& v) { l.cdPlace.top = position(v); },
     [] { return number(cd().Top()); }},
    {"CDp", "Left", [](Loading& l, const QString& v) { l.cdPlace.left = position(v); },
     [] { return number(cd().Left()); }},
};

}  // namespace

QString settingsFile() { return settings::profilePath(platform::AppPath()); }

bool loadSettings(MidiWindow& window) {
  const QString file = settingsFile();
  const settings::ReadResult read = settings::readProfile(file);
  if (read.status == settings::ReadResult::Missing) {
    // First run: the file starts from what start-up has set; nothing is
    // read this time, and a file that cannot be written stays unsaid.
    saveSettings();
    return true;
  }
  if (read.status == settings::ReadResult::Failed) {
    kit::MsgBox(QStringLiteral("予期せぬエラー:") + kit::Str(int64_t{read.errorNumber}) +
                QStringLiteral("\n\n") + file + QStringLiteral("\n") + read.reason);
    platform::End();
    return false;
  }
  Loading loading{window, false, {}, {}};
  for (const Setting& s : kSettings)
    s.read(loading,
           read.profile.value(QLatin1String(s.section), QLatin1String(s.key)).value_or(QString()));
  placeCdWindow(loading.cdPlace);
  return true;
}

bool saveSettings(QString* why) {
  const QString file = settingsFile();
  // The file as it is, so that what the user keeps in it stays. One that
  // exists but cannot be read is not replaced by a file that would lose it.
  settings::ReadResult old = settings::readProfile(file);
  if (old.status == settings::ReadResult::Failed) {
    if (why) *why = file + QStringLiteral(": ") + old.reason;
    return false;
  }
  settings::Profile& profile = old.profile;
  QString unsaved;
  for (const Setting& s : kSettings) {
    // A folder name with a line break in it cannot be one line of the file.
    if (!profile.setValue(QLatin1String(s.section), QLatin1String(s.key), s.write()))
      unsaved += QStringLiteral("\n[%1] %2: 改行を含む値は保存できません")
                     .arg(QLatin1String(s.section), QLatin1String(s.key));
  }
  if (!settings::writeProfile(profile, file, why)) return false;
  if (unsaved.isEmpty()) return true;
  if (why) *why = file + unsaved;
  return false;
}

void askAndSaveSettings() {
  const QString title = QStringLiteral("PLIMRAの動作環境の保存");
  if (kit::MsgBox(QStringLiteral("保存してよろしいですか？"), kit::vbYesNo + kit::vbExclamation,
                  title) != kit::vbYes)
    return;
  QString why;
  if (!saveSettings(&why))
    kit::MsgBox(QStringLiteral("動作環境を保存できませんでした。\n\n") + why, kit::vbExclamation,
                title);
}

}  // namespace plimra::ui

// The settings file: an INI-style profile kept the way a user left it.
//
// Section and key names are compared without regard to letter case. Setting
// a value replaces an existing key's value in place, appends a new key at
// the end of its section and a new section at the end of the file; comments
// (";" lines), blank lines, unknown sections and keys stay as they were.
// Lines the program writes are UTF-8. Each line is read on its own: as
// UTF-8 when it is valid UTF-8, else as Shift-JIS (CP932), as older
// installations and editors wrote it; a line no save changes is written
// back exactly as it was read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace plimra::settings {

// No value is longer than this when read (longer ones are cut). A folder
// path on Linux is at most 4096 bytes; written as a file URL, each byte that
// is not UTF-8 takes three, so the longest path still comes back whole.
inline constexpr qsizetype kMaxValueBytes = 16384;
// A larger file is no settings file.
inline constexpr qint64 kMaxFileBytes = 1 << 20;

// The classic error numbers the start-up message shows.
inline constexpr int kErrFileNotFound = 53;
inline constexpr int kErrDeviceIo = 57;
inline constexpr int kErrPermissionDenied = 70;
inline constexpr int kErrPathFileAccess = 75;

class Profile {
 public:
  // Parses a file's bytes; never fails (a line that is neither a section,
  // a comment nor "key=value" is kept and otherwise ignored).
  static Profile fromBytes(const QByteArray& bytes);
  // The file's bytes: the lines read and left alone as they were, the others
  // in UTF-8 with the line ends the file had ("\n" for a new one); a line
  // end after the last line.
  QByteArray toBytes() const;

  // The value of `key` in the first section named `section`, without the
  // blanks around it; nullopt when the section or the key is missing.
  std::optional<QString> value(const QString& section, const QString& key) const;
  // Sets a value as described above. False (nothing changes) for a name
  // that cannot be written as one (empty, or holding "[", "]", "=" or a line
  // end) or a value holding a line end, which would break the file apart.
  bool setValue(const QString& section, const QString& key, const QString& value);

  bool isEmpty() const { return lines_.isEmpty(); }

 private:
  struct Line {
    QString text;
    QByteArray raw;          // as read, with the CR a CRLF file had
    bool unchanged = false;  // as read: written back as `raw`
  };
  // A line the program writes.
  static Line written(QString text) { return {std::move(text), {}, false}; }
  QList<Line> lines_;
  bool crlf_ = false;
  bool bom_ = false;
};

// Where the settings live for a program in `programDir`: "plimra.ini"
// there when that file exists or the folder is writable, else
// $XDG_CONFIG_HOME/plimra/plimra.ini (~/.config when the variable is unset
// or not absolute). The one rule for reading and writing.
QString profilePath(const QString& programDir);

struct ReadResult {
  enum Status { Ok, Missing, Failed } status = Failed;
  Profile profile;
  int errorNumber = 0;  // kErrFileNotFound when missing, else one of the above
  QString reason;       // the system's words, for messages
};
// Reads the whole file. Never blocks on something that is not a regular
// file and never reads more than kMaxFileBytes.
ReadResult readProfile(const QString& path);

// Writes the profile to `path` so that a crash at any moment leaves either
// the old file or the new one: a temporary file in the same folder, flushed
// to disk, renamed over the old one (a symbolic link is followed), with the
// old file's permissions. Creates the folder when missing. False with
// `reason` set when the file could not be written; the old file is then
// untouched.
bool writeProfile(const Profile& profile, const QString& path, QString* reason = nullptr);

}  // namespace plimra::settings

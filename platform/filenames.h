// File names as the file system has them: bytes. Most are UTF-8; names made
// on Japanese Windows are Shift-JIS (code page 932), and some are neither.
//
// Paths travel through the program as QString in a lossless text form:
// valid UTF-8 reads as the text it spells, and each byte that is not part of
// valid UTF-8 is kept as one code point U+DC80..U+DCFF (a lone low surrogate,
// which no decoded text contains). nativePath() gives back the exact bytes,
// so such a path opens the very file it was read from. What the user sees
// comes from displayName(); Qt's own file classes must not be handed a path
// with kept bytes, they would lose them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <vector>

namespace plimra::platform {

// Bytes from the file system to the lossless text form, and back.
QString pathFromNative(QByteArrayView bytes);
QByteArray nativePath(QStringView path);
// Whether the text form keeps bytes that are not UTF-8.
bool hasKeptBytes(QStringView path);

// Strict CP932 (Windows Shift-JIS) decoding; empty with *ok false when the
// bytes are not valid CP932.
QString decodeCp932(QByteArrayView bytes, bool* ok);

// A name or path as the user reads it: each part between slashes as UTF-8,
// else as CP932 when it is valid CP932, else as UTF-8 with U+FFFD for the
// bytes that neither reads.
QString displayName(QStringView path);

// A path as the settings file keeps it: the path itself when it is plain
// text (valid UTF-8, no control characters, no blank at either end), else a
// file URL in which kept bytes, "%", blanks and control characters are
// written as %XX: "file:///home/ann/%89%B9%8Ay" for a folder named "音楽"
// in Shift-JIS. Paths are absolute, so a plain one never starts with
// "file:" and the two forms cannot be taken for one another.
QString writtenPath(const QString& path);
// The path a written value stands for; a plain value is the path itself.
QString pathFromWritten(const QString& text);

// ------------------------------------------------ the file system, by bytes

// A folder that exists and can be listed and entered.
bool isReadableFolder(const QString& path);
// The current folder, and the user's home folder.
QString currentFolder();
QString homeFolder();
// Absolute and without "." or ".." parts; relative paths are taken from the
// current folder.
QString absoluteClean(const QString& path);

struct FolderEntry {
  QString name;   // lossless text form
  QString shown;  // displayName(name)
};
enum class EntryKind { Files, Folders };
// The files or the subfolders of a folder (symbolic links count as what they
// point to), without hidden ones, sorted by their shown names regardless of
// letter case. Empty when the folder cannot be read.
std::vector<FolderEntry> folderEntries(const QString& folder, EntryKind kind);

}  // namespace plimra::platform

#include "platform/filenames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/cp932.h"

namespace plimra::platform {

namespace {

constexpr char16_t kKeptByteBase = 0xDC00;  // byte b is kept as U+DC00 + b

// The length of the valid UTF-8 sequence at s[i], or 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are invalid).
qsizetype utf8SequenceAt(QByteArrayView s, qsizetype i, char32_t* cp) {
  const auto at = [&](qsizetype k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b = at(i);
  qsizetype len;
  uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  char32_t c = b & (0x7F >> len);
  for (qsizetype k = 1; k < len; ++k) {
    const uint8_t t = at(i + k);
    if (k == 1 ? (t < lo || t > hi) : (t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  *cp = c;
  return len;
}

bool isKeptByte(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

void appendUtf8(QByteArray& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

QString displayPart(QStringView part) {
  if (!hasKeptBytes(part)) return part.toString();
  const QByteArray bytes = nativePath(part);
  bool ok = false;
  QString text = decodeCp932(bytes, &ok);
  return ok ? text : QString::fromUtf8(bytes);
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

QString pathFromNative(QByteArrayView bytes) {
  QString out;
  out.reserve(bytes.size());
  for (qsizetype i = 0; i < bytes.size();) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    char32_t c = 0;
    if (b < 0x80) {
      out += QChar(b);
      ++i;
    } else if (const qsizetype len = utf8SequenceAt(bytes, i, &c); len > 0) {
      if (c >= 0x10000) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
      } else {
        out += QChar(static_cast<char16_t>(c));
      }
      i += len;
    } else {
      out += QChar(static_cast<char16_t>(kKeptByteBase + b));
      ++i;
    }
  }
  return out;
}

QByteArray nativePath(QStringView path) {
  QByteArray out;
  out.reserve(path.size());
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t u = path[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
      appendUtf8(out, QChar::surrogateToUcs4(u, path[i + 1].unicode()));
      ++i;
    } else if (isKeptByte(u)) {
      out += static_cast<char>(u - kKeptByteBase);
    } else if (QChar::isSurrogate(u)) {
      appendUtf8(out, QChar::ReplacementCharacter);  // stray half of a pair
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

bool hasKeptBytes(QStringView path) {
  // A kept byte is a low surrogate that does not follow a high one.
  for (qsizetype i = 0; i < path.size(); ++i)
    if (isKeptByte(path[i].unicode()) && (i == 0 || !path[i - 1].isHighSurrogate())) return true;
  return false;
}

QString decodeCp932(QByteArrayView bytes, bool* ok) {
  const auto text =
      cp932ToUtf8(std::string_view(bytes.data(), static_cast<size_t>(bytes.size())));
  *ok = text.has_value();
  return text ? QString::fromStdString(*text) : QString();
}

QString displayName(QStringView path) {
  if (!hasKeptBytes(path)) return path.toString();
  QString shown;
  qsizetype start = 0;
  for (;;) {
    const qsizetype slash = path.indexOf(u'/', start);
    shown += displayPart(path.sliced(start, (slash < 0 ? path.size() : slash) - start));
    if (slash < 0) break;
    shown += u'/';
    start = slash + 1;
  }
  return shown;
}

namespace {

constexpr QLatin1StringView kFileUrl("file://");

// Blanks of any kind too: the settings file trims them from a value's ends.
bool needsEscape(QChar c) {
  return c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'%' || c.isSpace();
}

void appendEscaped(QString& out, uint8_t byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += u'%';
  out += QLatin1Char(kHex[byte >> 4]);
  out += QLatin1Char(kHex[byte & 15]);
}

int hexValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

}  // namespace

QString writtenPath(const QString& path) {
  const bool plain = !hasKeptBytes(path) && path == path.trimmed() && !path.startsWith(kFileUrl) &&
                     std::none_of(path.begin(), path.end(), [](QChar c) {
                       return c.unicode() < 0x20 || c.unicode() == 0x7F;
                     });
  if (plain) return path;
  QString url = kFileUrl;
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t u = path[i].unicode();
    if (isKeptByte(u) && (i == 0 || !path[i - 1].isHighSurrogate())) {
      appendEscaped(url, static_cast<uint8_t>(u - kKeptByteBase));
    } else if (needsEscape(path[i])) {
      for (const char byte : QString(path[i]).toUtf8())
        appendEscaped(url, static_cast<uint8_t>(byte));
    } else {
      url += path[i];
    }
  }
  return url;
}

QString pathFromWritten(const QString& text) {
  if (!text.startsWith(kFileUrl)) return text;
  const QStringView rest = QStringView(text).sliced(kFileUrl.size());
  QByteArray bytes;
  qsizetype plainFrom = 0;  // where the characters taken as they are begin
  for (qsizetype i = 0; i < rest.size(); ++i) {
    if (rest[i] != u'%' || i + 2 >= rest.size()) continue;
    const int hi = hexValue(rest[i + 1]), lo = hexValue(rest[i + 2]);
    if (hi < 0 || lo < 0) continue;  // a "%" of its own stays
    bytes += nativePath(rest.sliced(plainFrom, i - plainFrom));
    bytes += static_cast<char>(hi * 16 + lo);
    i += 2;
    plainFrom = i + 1;
  }
  bytes += nativePath(rest.sliced(plainFrom));
  return pathFromNative(bytes);
}

bool isReadableFolder(const QString& path) {
  if (path.isEmpty()) return false;
  const QByteArray p = nativePath(path);
  struct stat st {};
  if (stat(p.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (access(p.constData(), R_OK | X_OK) != 0) return false;
  // A folder whose medium is gone can still look like one; only opening it
  // tells.
  std::unique_ptr<DIR, DirCloser> dir(opendir(p.constData()));
  return dir != nullptr;
}

QString currentFolder() {
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  return cwd ? pathFromNative(cwd.get()) : QDir::currentPath();
}

QString homeFolder() {
  const QByteArray home = qgetenv("HOME");
  if (home.startsWith('/')) return QDir::cleanPath(pathFromNative(home));
  return QDir::homePath();
}

QString absoluteClean(const QString& path) {
  if (path.isEmpty()) return path;
  // cleanPath works on the text alone, so kept bytes pass through.
  return QDir::cleanPath(path.startsWith(u'/') ? path : currentFolder() + u'/' + path);
}

std::vector<FolderEntry> folderEntries(const QString& folder, EntryKind kind) {
  std::vector<FolderEntry> entries;
  std::unique_ptr<DIR, DirCloser> dir(opendir(nativePath(folder).constData()));
  if (!dir) return entries;
  const int fd = dirfd(dir.get());
  while (const dirent* e = readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;  // ".", ".." and hidden entries
    struct stat st {};
    if (fstatat(fd, e->d_name, &st, 0) != 0) continue;  // a dangling link
    const bool wanted = kind == EntryKind::Folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    if (!wanted) continue;
    QString name = pathFromNative(e->d_name);
    QString shown = displayName(name);
    entries.push_back({std::move(name), std::move(shown)});
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    const int c = a.shown.compare(b.shown, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return entries;
}

}  // namespace plimra::platform

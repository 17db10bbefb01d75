#include "settings/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

#include "platform/cp932.h"
#include "platform/filenames.h"

namespace plimra::settings {

namespace {

// Shift-JIS as Windows wrote it (CP932); a byte that does not decode
// becomes U+FFFD and decoding goes on.
QString fromCp932(const QByteArray& bytes) {
  return QString::fromStdString(platform::cp932ToUtf8Lenient(
      std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))));
}

// One line of the file. Each line is decoded on its own: a file written in
// UTF-8 may hold a line an older editor added in Shift-JIS, and deciding
// for the whole file would misread every other line.
QString decodeLine(const QByteArray& bytes) {
  // A BOM is text of the line here; the file's own one is already off.
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                  QStringConverter::Flag::ConvertInitialBom);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  return fromCp932(bytes);
}

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// "[name]" (the bracket may be missing): the name, else nullopt.
std::optional<QString> sectionOf(const QString& line) {
  const QString t = line.trimmed();
  if (!t.startsWith(u'[')) return std::nullopt;
  const qsizetype end = t.indexOf(u']');
  return (end < 0 ? t.mid(1) : t.mid(1, end - 1)).trimmed();
}

// "key = value": the key, else nullopt (comments and other lines).
std::optional<QString> keyOf(const QString& line) {
  const QString t = line.trimmed();
  if (t.isEmpty() || t.startsWith(u';') || t.startsWith(u'[')) return std::nullopt;
  const qsizetype eq = t.indexOf(u'=');
  if (eq <= 0) return std::nullopt;
  return t.left(eq).trimmed();
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString cutToBytes(const QString& value) {
  QByteArray utf8 = value.toUtf8();
  if (utf8.size() <= kMaxValueBytes) return value;
  utf8.truncate(kMaxValueBytes);
  // Not in the middle of a character.
  while (!utf8.isEmpty() && (static_cast<uchar>(utf8.back()) & 0xC0) == 0x80) utf8.chop(1);
  if (!utf8.isEmpty() && static_cast<uchar>(utf8.back()) >= 0xC0) utf8.chop(1);
  return QString::fromUtf8(utf8);
}

bool writableName(const QString& name) {
  if (name.trimmed().isEmpty() || name.trimmed() != name) return false;
  for (QChar c : name)
    if (c == u'[' || c == u']' || c == u'=' || c == u'\n' || c == u'\r') return false;
  return !name.startsWith(u';');
}

QString systemReason(int err) { return QString::fromLocal8Bit(strerror(err)); }

int errorNumberOf(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
      return kErrPermissionDenied;
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EFBIG:
      return kErrPathFileAccess;
    default:
      return kErrDeviceIo;
  }
}

// Where a symbolic link points (absolute); empty when `path` is no link.
QString linkTarget(const QString& path) {
  const QByteArray native = platform::nativePath(path);
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(native.constData(), buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return {};
  const QString linked = platform::pathFromNative(QByteArrayView(buf, n));
  if (linked.startsWith(u'/')) return QDir::cleanPath(linked);
  return QDir::cleanPath(path.left(path.lastIndexOf(u'/') + 1) + linked);
}

// Creates a folder and those above it that are missing.
bool makeFolders(const QByteArray& dir) {
  struct stat st {};
  if (::stat(dir.constData(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  for (qsizetype slash = dir.indexOf('/', 1);; slash = dir.indexOf('/', slash + 1)) {
    const QByteArray part = slash < 0 ? dir : dir.left(slash);
    if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST) return false;
    if (slash < 0) return true;
  }
}

bool writeAll(int fd, const QByteArray& data) {
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

// Temporary files of saves whose process died before the rename (a crash,
// a power loss). Those of a process still running are its own business.
void removeLeftovers(const QString& dir) {
  const QStringList names =
      QDir(dir).entryList({QStringLiteral(".plimra.ini.*")}, QDir::Files | QDir::Hidden);
  for (const QString& name : names) {
    bool ok = false;
    const pid_t pid = static_cast<pid_t>(name.section(u'.', 3, 3).toLong(&ok));
    if (ok && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
      ::unlink(QFile::encodeName(dir + u'/' + name).constData());
  }
}

}  // namespace

Profile Profile::fromBytes(const QByteArray& bytes) {
  Profile p;
  QByteArray body = bytes;
  if (body.startsWith("\xEF\xBB\xBF")) {
    p.bom_ = true;
    body.remove(0, 3);
  }
  const qsizetype firstLf = body.indexOf('\n');
  p.crlf_ = firstLf > 0 && body.at(firstLf - 1) == '\r';
  if (body.isEmpty()) return p;
  QList<QByteArray> raw = body.split('\n');
  // The line end after the last line makes no line of its own.
  if (raw.back().isEmpty()) raw.removeLast();
  p.lines_.reserve(raw.size());
  for (QByteArray& r : raw) {
    // A file with CRLF ends loses one CR per line; in a file with LF ends a
    // stray CR is part of its line (and is a blank around any value).
    QByteArrayView text = r;
    if (p.crlf_ && text.endsWith('\r')) text.chop(1);
    p.lines_.push_back({decodeLine(text.toByteArray()), std::move(r), true});
  }
  return p;
}

QByteArray Profile::toBytes() const {
  const char* eol = crlf_ ? "\r\n" : "\n";
  QByteArray out;
  if (bom_) out += "\xEF\xBB\xBF";
  for (const Line& l : lines_) {
    // A line nothing changed goes back as it came, in its own encoding and
    // with its own line end.
    if (l.unchanged) {
      out += l.raw;
      out += '\n';
    } else {
      out += l.text.toUtf8();
      out += eol;
    }
  }
  return out;
}

std::optional<QString> Profile::value(const QString& section, const QString& key) const {
  qsizetype i = 0;
  for (; i < lines_.size(); ++i) {
    const auto s = sectionOf(lines_[i].text);
    if (s && sameName(*s, section)) break;
  }
  for (++i; i < lines_.size(); ++i) {
    const QString& l = lines_[i].text;
    if (sectionOf(l)) break;
    const auto k = keyOf(l);
    if (k && sameName(*k, key)) return cutToBytes(l.mid(l.indexOf(u'=') + 1).trimmed());
  }
  return std::nullopt;
}

bool Profile::setValue(const QString& section, const QString& key, const QString& value) {
  if (!writableName(section) || !writableName(key) || value.contains(u'\n') ||
      value.contains(u'\r'))
    return false;
  qsizetype head = -1;
  for (qsizetype i = 0; i < lines_.size() && head < 0; ++i) {
    const auto s = sectionOf(lines_[i].text);
    if (s && sameName(*s, section)) head = i;
  }
  if (head < 0) {
    lines_ << written(u'[' + section + u']') << written(key + u'=' + value);
    return true;
  }
  // The key's line, or the last line of the section that is not blank.
  qsizetype last = head;
  for (qsizetype i = head + 1; i < lines_.size(); ++i) {
    Line& l = lines_[i];
    if (sectionOf(l.text)) break;
    const auto k = keyOf(l.text);
    if (k && sameName(*k, key)) {
      // A value that stays the same leaves its line exactly as it was.
      if (l.text.mid(l.text.indexOf(u'=') + 1).trimmed() == value) return true;
      // In place, keeping the key as the file spells it and the blanks
      // before it.
      qsizetype indent = 0;
      while (indent < l.text.size() && isBlank(l.text[indent])) ++indent;
      l = written(l.text.left(indent) + *k + u'=' + value);
      return true;
    }
    if (!l.text.trimmed().isEmpty()) last = i;
  }
  lines_.insert(last + 1, written(key + u'=' + value));
  return true;
}

// Paths are in the lossless text form of platform/filenames.h: a program or
// settings folder whose name is not UTF-8 is reached by its exact bytes.
QString profilePath(const QString& programDir) {
  const QString name = QStringLiteral("plimra.ini");
  const QString beside = (programDir.endsWith(u'/') ? programDir : programDir + u'/') + name;
  struct stat st {};
  if (::stat(platform::nativePath(beside).constData(), &st) == 0 ||
      ::access(platform::nativePath(programDir).constData(), W_OK) == 0)
    return beside;
  QString config = platform::pathFromNative(qgetenv("XDG_CONFIG_HOME"));
  if (!config.startsWith(u'/')) config = platform::homeFolder() + QStringLiteral("/.config");
  return config + QStringLiteral("/plimra/") + name;
}

ReadResult readProfile(const QString& path) {
  ReadResult r;
  const QByteArray native = platform::nativePath(path);
  // Non-blocking, so that a FIFO under the name cannot stall start-up.
  const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    r.errorNumber = errorNumberOf(err);
    r.status = r.errorNumber == kErrFileNotFound ? ReadResult::Missing : ReadResult::Failed;
    r.reason = systemReason(err);
    return r;
  }
  struct stat st {};
  QByteArray bytes;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
    err = EFBIG;
  } else {
    char buf[16384];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        err = errno;
        break;
      }
      if (n == 0) break;
      bytes.append(buf, n);
      if (bytes.size() > kMaxFileBytes) {
        err = EFBIG;
        break;
      }
    }
  }
  ::close(fd);
  if (err != 0) {
    r.errorNumber = errorNumberOf(err);
    r.reason = err == EFBIG ? QStringLiteral(
                                  "not a settings file (not a regular file, or larger "
                                  "than 1 MiB)")
                            : systemReason(err);
    return r;
  }
  r.status = ReadResult::Ok;
  r.profile = Profile::fromBytes(bytes);
  return r;
}

bool writeProfile(const Profile& profile, const QString& path, QString* reason) {
  auto fail = [&](const QString& why) {
    if (reason) *reason = why;
    return false;
  };
  // A link is followed: the file it names is the one replaced.
  QString target = platform::absoluteClean(path);
  if (const QString linked = linkTarget(target); !linked.isEmpty()) target = linked;
  const QString dir = target.left(std::max<qsizetype>(target.lastIndexOf(u'/'), 1));
  const QByteArray nativeDir = platform::nativePath(dir);
  if (!makeFolders(nativeDir)) return fail(dir + QStringLiteral(": ") + systemReason(errno));
  const QByteArray nativeTarget = platform::nativePath(target);

  struct stat old {};
  const bool hadFile = ::stat(nativeTarget.constData(), &old) == 0;
  if (hadFile && S_ISDIR(old.st_mode))
    return fail(target + QStringLiteral(": ") + systemReason(EISDIR));

  // A name no other save (of this or another process) is using.
  static std::atomic<unsigned> counter{0};
  QByteArray tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    tmp = platform::nativePath(dir + QStringLiteral("/.plimra.ini.%1.%2.%3")
                                   .arg(::getpid())
                                   .arg(counter++)
                                   .arg(static_cast<qulonglong>(now) & 0xFFFFFF, 0, 36));
    fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(dir + QStringLiteral(": ") + systemReason(errno));

  int err = 0;
  if (hadFile && ::fchmod(fd, old.st_mode & 07777) != 0) err = errno;
  if (err == 0 && !writeAll(fd, profile.toBytes())) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.constData(), nativeTarget.constData()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.constData());
    return fail(target + QStringLiteral(": ") + systemReason(err));
  }
  removeLeftovers(dir);
  // The rename itself reaches the disk with the folder.
  const int dirFd = ::open(nativeDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace plimra::settings

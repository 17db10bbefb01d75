// File and folder names made of raw bytes, as archives from Japanese Windows
// leave them: Shift-JIS names, and names whose bytes are neither Shift-JIS
// nor UTF-8.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cstdio>

namespace plimra::testnames {

// "ドラクエ序曲.MID" and "音楽" in Shift-JIS.
inline const QByteArray kSjisSong("\x83\x68\x83\x89\x83\x4e\x83\x47\x8f\x98\x8b\xc8.MID");
inline const QByteArray kSjisFolder("\x89\xb9\x8a\x79");
// "ソ.mid": the second byte of "ソ" is 0x5C, a backslash on its own.
inline const QByteArray kSjisBackslash("\x83\x5c.mid");
// Valid in neither encoding.
inline const QByteArray kBroken("\xff\xfe\x80.mid");

// Writes `content` to the file at the byte path; false on failure.
inline bool writeRaw(const QByteArray& path, const QByteArray& content) {
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ::write(fd, content.constData(), static_cast<size_t>(content.size())) ==
                  static_cast<ssize_t>(content.size());
  return ::close(fd) == 0 && ok;
}

// Reads a whole small file at the byte path; empty when it cannot.
inline QByteArray readRaw(const QByteArray& path) {
  QByteArray out;
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fd);
  return out;
}

inline bool makeFolder(const QByteArray& path) { return ::mkdir(path.constData(), 0755) == 0; }

// Removes a folder and everything in it. Qt's own removal leaves names that
// are not UTF-8 behind.
inline void removeTree(const QByteArray& path) {
  nftw(
      path.constData(),
      [](const char* p, const struct stat*, int, FTW*) {
        std::remove(p);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace plimra::testnames

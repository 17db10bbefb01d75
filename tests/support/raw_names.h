// File and folder names made of raw bytes, as archives from Japanese Windows
// leave them: Shift-JIS names, and names whose bytes are neither Shift-JIS
// nor UTF-8. The helpers take the names as bytes, which Qt's own file
// functions would decode and lose.
#pragma once

#include <QByteArray>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace plimra::testnames {

// "ドラクエ序曲.MID" and "音楽" in Shift-JIS.
inline const QByteArray kSjisSong("\x83\x68\x83\x89\x83\x4e\x83\x47\x8f\x98\x8b\xc8.MID");
inline const QByteArray kSjisFolder("\x89\xb9\x8a\x79");
// "ソ.mid": the second byte of "ソ" is 0x5C, a backslash on its own.
inline const QByteArray kSjisBackslash("\x83\x5c.mid");
// Valid in neither encoding.
inline const QByteArray kBroken("\xff\xfe\x80.mid");

inline bool writeRaw(const QByteArray& path, const QByteArray& content) {
  std::ofstream out(path.constData(), std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(content.constData(), content.size()));
}

// A whole small file; empty when it cannot be read.
inline QByteArray readRaw(const QByteArray& path) {
  std::ifstream in(path.constData(), std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline bool makeFolder(const QByteArray& path) {
  std::error_code e;
  return std::filesystem::create_directory(path.toStdString(), e);
}

inline void removeTree(const QByteArray& path) {
  std::error_code e;
  std::filesystem::remove_all(path.toStdString(), e);
}

}  // namespace plimra::testnames

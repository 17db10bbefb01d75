#include "runtime/program.h"

#include <unistd.h>
#include <climits>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTime>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "runtime/filenames.h"
#include "runtime/twips.h"

namespace plimra::rt {

namespace {

QString& appPathOverride() {
  static QString p;
  return p;
}

EndHandler& endHandler() {
  static EndHandler h;
  return h;
}

std::mt19937& generator() {
  static std::mt19937 g(12345u);
  return g;
}

QString withoutTrailingSlash(QString p) {
  while (p.size() > 1 && p.endsWith(u'/')) p.chop(1);
  return p;
}

}  // namespace

// The running program's folder from the link the kernel keeps, as bytes:
// a folder whose name is not UTF-8 is found again exactly.
QString programFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
  const QByteArrayView exe(buffer, n);
  const qsizetype slash = exe.lastIndexOf('/');
  if (slash < 0) return {};
  return pathFromNative(slash == 0 ? QByteArrayView("/") : exe.first(slash));
}

QString AppPath() {
  if (!appPathOverride().isEmpty()) return withoutTrailingSlash(appPathOverride());
  if (const QString folder = programFolder(); !folder.isEmpty()) return folder;
  if (QCoreApplication::instance())
    return withoutTrailingSlash(QCoreApplication::applicationDirPath());
  return withoutTrailingSlash(currentFolder());
}

void setAppPath(const QString& path) { appPathOverride() = path; }

void End() {
  if (endHandler()) {
    endHandler()();
    return;
  }
  leaveProcess();
}

void setEndHandler(EndHandler handler) { endHandler() = std::move(handler); }

void leaveProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

void Randomize() {
  // The time of day down to the microsecond, so that draws a moment apart
  // get different seeds.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  const auto ofDay = static_cast<uint64_t>(us % (86400LL * 1000000LL));
  generator().seed(static_cast<uint32_t>(ofDay ^ (ofDay >> 32)));
}

float Rnd() {
  // 24 random bits scaled by 2^-24: every value is exact in single
  // precision and strictly below 1.
  return static_cast<float>(generator()() >> 8) * (1.0f / 16777216.0f);
}

int ScreenWidth() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? PixelsToTwips(s->geometry().width()) : 0;
}

int ScreenHeight() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? PixelsToTwips(s->geometry().height()) : 0;
}

}  // namespace plimra::rt

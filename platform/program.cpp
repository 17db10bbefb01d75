#include "platform/program.h"

#include <unistd.h>
#include <climits>

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "platform/filenames.h"

namespace plimra::platform {

namespace {

QString& appPathOverride() {
  static QString p;
  return p;
}

EndHandler& endHandler() {
  static EndHandler h;
  return h;
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

}  // namespace plimra::platform

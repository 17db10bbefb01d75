#include "runtime/filedialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

#include "runtime/filenames.h"

namespace plimra::rt {

namespace {

FileDialogHandler& handler() {
  static FileDialogHandler h;
  return h;
}

}  // namespace

QString GetOpenFileName(const FileDialogRequest& request) {
  return handler() ? handler()(request) : QString();
}

void setFileDialogHandler(FileDialogHandler h) { handler() = std::move(h); }

QString windowFileDialog(const FileDialogRequest& request) {
  const QString chosen =
      QFileDialog::getOpenFileName(QApplication::activeWindow(), request.title,
                                   QFile::decodeName(nativePath(request.folder)), request.filter);
  return chosen.isEmpty() ? QString() : pathFromNative(QFile::encodeName(chosen));
}

}  // namespace plimra::rt

#include "ui/kit/filedialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

#include "platform/filenames.h"

namespace plimra::kit {

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
                                   QFile::decodeName(platform::nativePath(request.folder)), request.filter);
  return chosen.isEmpty() ? QString() : platform::pathFromNative(QFile::encodeName(chosen));
}

}  // namespace plimra::kit

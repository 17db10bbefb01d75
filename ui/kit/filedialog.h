// The dialog that asks for a file to open, behind one function that asks the
// way the program installed, as message boxes are.
#pragma once

#include <QString>
#include <functional>

namespace plimra::kit {

struct FileDialogRequest {
  QString title;
  QString folder;  // where it opens, in the lossless text form of paths
  QString filter;  // as Qt writes it: "SoundFont (*.sf2 *.sf3)"
};

// Asks through the handler the program installed at start-up (main installs
// windowFileDialog) and returns the chosen file in the lossless text form,
// or empty when the user cancelled. With no handler installed, as in a
// process without windows, nothing is chosen.
QString GetOpenFileName(const FileDialogRequest& request);
using FileDialogHandler = std::function<QString(const FileDialogRequest&)>;
void setFileDialogHandler(FileDialogHandler handler);

// The modal dialog over the active window. Qt reads names that are not
// UTF-8 as best it can, so a file in such a folder may not be found again.
QString windowFileDialog(const FileDialogRequest& request);

}  // namespace plimra::kit

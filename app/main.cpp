// The program: one application, the real devices, and the MIDI window.
//   plimra [SONG.mid | FOLDER]
// With a song or a folder, that folder is shown and the song played. When a
// player already runs on the desktop, the song goes to it and this start
// ends, so the file manager's "open with" never starts a second player.
#include <QApplication>
#include <QByteArray>
#include <cstdio>
#include <cstring>

#include "app/desktop_bus.h"
#include "app/forms.h"
#include "midi/frmplimra.h"
#include "runtime/appearance.h"
#include "runtime/filedialog.h"
#include "runtime/filelists.h"
#include "runtime/filenames.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"

#include "media/cdaudio/register.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The title message boxes show when they name none.
  QApplication::setApplicationName(QStringLiteral("Plimra"));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.plimra.Plimra"));

  // Qt has taken its own options out of argv; the first other one is the
  // song, kept as the file system's bytes.
  QByteArray song;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: plimra [SONG.mid | FOLDER]\n");
      return 0;
    }
    if (song.isEmpty()) song = QByteArray(argv[i]);
  }
  if (plimra::app::handOverToRunningPlayer(song)) return 0;

  plimra::rt::setAppPath(plimra::rt::AppPath());
  // Message boxes and file dialogs show over the windows; the drive list
  // names the volumes.
  plimra::rt::setMsgBoxHandler(plimra::rt::windowMsgBox);
  plimra::rt::setFileDialogHandler(plimra::rt::windowFileDialog);
  plimra::rt::setDriveProvider(plimra::rt::mountedDrives);
  plimra::rt::installJapaneseFontSubstitutes();
  // Menus, message boxes and controls that name no font use the Japanese
  // proportional face, as the desktop this program was made for did.
  QApplication::setFont(plimra::rt::layoutFont(plimra::rt::kPGothic, 9));

  plimra::seq::registerSequencer();
  plimra::cdaudio::registerCdAudio();
  // The window closes its song before it ends the program; JACK hands that
  // silence on only at its next period.
  plimra::rt::setEndHandler([] {
    plimra::seq::drainSystemPorts(std::chrono::milliseconds(100));
    plimra::rt::leaveProcess();
  });

  // The first reference creates the window and runs its start-up.
  plimra::midi::FrmPlimra* window = plimra::app::frmPlimra();
  window->Show();
  plimra::app::startDesktopControls();
  if (!song.isEmpty()) window->PlayFromOutside(plimra::rt::pathFromNative(song));
  const int code = QApplication::exec();
  plimra::app::destroyForms();
  return code;
}

// The program: one application, the real devices, and the MIDI window.
//   plimra [SONG.mid | FOLDER]
// With a song or a folder, that folder is shown and the song played. When a
// player already runs on the desktop, the song goes to it and this start
// ends, so the file manager's "open with" never starts a second player.
#include <QApplication>
#include <QByteArray>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/desktop_bus.h"
#include "app/engine_module.h"
#include "platform/filenames.h"
#include "platform/program.h"
#include "ui/kit/appearance.h"
#include "ui/kit/filedialog.h"
#include "ui/kit/filelists.h"
#include "ui/kit/msgbox.h"
#include "ui/midi_window.h"
#include "ui/windows.h"

#include "media/mci/background.h"
#include "media/mci/device_table.h"

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

  plimra::platform::setAppPath(plimra::platform::AppPath());
  // Message boxes and file dialogs show over the windows; the drive list
  // names the volumes.
  plimra::kit::setMsgBoxHandler(plimra::kit::windowMsgBox);
  plimra::kit::setFileDialogHandler(plimra::kit::windowFileDialog);
  plimra::platform::setDriveProvider(plimra::platform::mountedDrives);
  plimra::kit::installJapaneseFontSubstitutes();
  // Menus, message boxes and controls that name no font use the Japanese
  // proportional face, as the desktop this program was made for did.
  QApplication::setFont(plimra::kit::layoutFont(plimra::kit::kPGothic, 9));

  // The engines are opened once the window shows, or before when a song,
  // a disc or the port list needs them.
  const QString folder = plimra::platform::AppPath();
  plimra::app::installEngines({folder, folder + QStringLiteral("/" PLIMRA_ENGINES_FROM_BIN)});
  // The window closes its song before it ends the program; JACK hands that
  // silence on only at its next period.
  const auto leave = [](int code) {
    plimra::app::drainSystemPorts(std::chrono::milliseconds(100));
    plimra::platform::leaveProcess(code);
  };
  plimra::platform::setEndHandler([leave] { leave(0); });

  // The first reference creates the window and runs its start-up.
  plimra::ui::MidiWindow* window = plimra::ui::midiWindow();
  window->Show();
  QTimer::singleShot(0, [] { plimra::app::openEnginesInBackground(); });
  plimra::app::startDesktopControls();
  if (!song.isEmpty()) window->playFromOutside(plimra::platform::pathFromNative(song));
  const int code = QApplication::exec();
  // Ended by the desktop rather than by a window's end: the devices close,
  // and no thread of ours may outlive main. A look at the ports or a read
  // stuck in a port system or on the disc is not waited for longer than a
  // moment: the program then leaves as a window's end does, without the
  // static destructors such a thread would meet.
  plimra::ui::destroyWindows();
  plimra::mci::DeviceTable::instance().closeAll();
  if (!plimra::mci::endBackgroundWork()) leave(code);
  return code;
}

// The program: one application, the real devices, and the MIDI window.
#include <QApplication>

#include "app/forms.h"
#include "midi/frmplimra.h"
#include "runtime/appearance.h"
#include "runtime/program.h"

#include "media/cdaudio/register.h"
#include "media/sequencer/register.h"
#include "media/sequencer/sequencer_device.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The title message boxes show when they name none.
  QApplication::setApplicationName(QStringLiteral("Plimra"));
  plimra::rt::installJapaneseFontSubstitutes();
  // Menus, message boxes and controls that name no font use the Japanese
  // proportional face, as the desktop this program was made for did.
  QApplication::setFont(plimra::rt::layoutFont(plimra::rt::kPGothic, 9));

  plimra::seq::registerSequencer();
  plimra::cd::registerCdAudio();
  // The window closes its song before it ends the program; JACK hands that
  // silence on only at its next period.
  plimra::rt::atEnd([] { plimra::seq::drainSystemPorts(std::chrono::milliseconds(100)); });

  // The first reference creates the window and runs its start-up.
  plimra::app::frmPlimra()->Show();
  return QApplication::exec();
}

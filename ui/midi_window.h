// The MIDI player window: drive, folder and file lists for browsing MIDI
// files, the transport bar that plays them, the MIDI-OUT port panel (hidden
// until asked for), the timer of the elapsed-time display, and the menus.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/kit/controls.h"
#include "ui/kit/filelists.h"
#include "ui/kit/form.h"
#include "ui/kit/menu.h"
#include "ui/options.h"
#include "ui/player.h"

namespace plimra::control {
class MMControl;
}
namespace plimra::mci {
class MidiOutListing;
}

namespace plimra::ui {

// What the caption says after the name of a song that could not be opened
// or played.
inline constexpr char16_t kCannotPlay[] = u" (再生できません)";
// What the caption says after the name of the last song when continuous or
// random play stopped because a whole pass of the list played no sound.
inline constexpr char16_t kNothingSounds[] = u" (音の出る曲がありません)";

class MidiWindow : public plimra::kit::Form, public Player {
  Q_OBJECT

 public:
  MidiWindow();
  ~MidiWindow() override;

  // Controls, under their layout names: the file panel, the port panel
  // (hidden until its menu item shows it), the transport bar.
  plimra::kit::DirListBox* folderList;
  plimra::kit::FileListBox* fileList;
  plimra::kit::DriveListBox* driveList;
  plimra::kit::ListBox* portList;
  plimra::kit::CommandButton *portOk, *portCancel, *portSave;
  plimra::control::MMControl* transport;
  plimra::kit::Timer timeTimer;

  // The menus, a line each: the file menu, the options with their two
  // submenus, help.
  plimra::kit::MenuItem *cdMenu, *cdPlayerItem, *exitItem;
  plimra::kit::MenuItem *optionsMenu, *iconizeItem, *stopOnSwitchItem, *loopItem, *timeItem,
      *lyricsItem,
      *portItem, *soundFontItem, *saveItem;
  plimra::kit::MenuItem *playModeMenu, *singleItem, *inOrderItem, *randomItem;
  plimra::kit::MenuItem *resetMenu, *noResetItem, *gsResetItem, *gmResetItem, *xgResetItem;
  plimra::kit::MenuItem *helpMenu, *aboutItem;

 public slots:
  void onDriveChanged();
  void onFolderChanged();
  void onExit();
  void onFileActivated();
  void onTransportDone(int NotifyCode);
  void onNextClicked(int& Cancel);
  void onPlayClicked(int& Cancel);
  void onTimerTick();
  void onTimeToggled();
  void onLoopToggled();
  void onLyricsToggled();
  void onCdPlayer();
  void onSingleChosen();
  void onInOrderChosen();
  void onRandomChosen();
  void onNoResetChosen();
  void onGsResetChosen();
  void onGmResetChosen();
  void onXgResetChosen();
  void onIconizeToggled();
  void onStopOnSwitchToggled();
  void onSave();
  void onPortPanel();
  void onSoundFont();
  void onPortOk();
  void onPortCancel();
  void onPortSave();
  void onPortActivated();
  void onAbout();

 public:
  // A song or a folder given from outside (the command line, another start,
  // a drop, the desktop's player controls): the folder is shown and the song
  // selected and played as a double-click would play it. A song that is
  // not in the list (missing, or not a *.MID file) gets the can't-play
  // caption.
  void playFromOutside(const QString& path);
  // The song that plays, its position and length, for the desktop.
  PlayerState playerState() const override;
  bool seek(int64_t positionMs) override;

  // Chooses the saved port in the list, by its whole name where the list
  // has it (of several of that name, the one at the saved index), else by
  // its index. While the list has not come yet, the choice waits for it.
  void choosePort(const Options::Port& saved);

  // The caption each tick builds, and the one it last wrote.
  QString timeCaption;
  QString shownTimeCaption;

 signals:
  // The user switches to the CD player, which takes the window's place.
  void cdPlayerRequested(int left, int top);
  // The About window is asked for, modal, at this place.
  void aboutRequested(int left, int top);
  // The song, its status or its place has changed: another song, a pause, a
  // resume, a stop, a seek, an end.
  void playerChanged();

 protected:
  control::MMControl& playerTransport() const override { return *transport; }
  // The selected song, or the first, starts as a double-click starts it.
  void playFromIdle() override;
  void onLoad() override;
  void onUnload(int16_t& Cancel) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void playNextFile();
  // Shows the port panel (true) or the file browser with the transport bar.
  void showPortPanel(bool open);
  // Asks the system for its MIDI outputs off this thread and fills portList
  // with the answer if it comes within `limitMs`, else when it comes. True
  // when portList was filled before returning.
  bool listPorts(int limitMs);
  // The answer has come: fills portList, then chooses the saved port if
  // start-up went on without the list.
  void portsListed(const std::vector<std::string>& names);
  // Fills portList, keeping the selection on the port of the same name.
  void fillPortList(const std::vector<std::string>& names);
  // Says once which port the user chose could not be opened.
  void reportUnopenedPort(uint16_t device, int16_t index, uint32_t result);
  // The reset song has reported, or a while has passed: once it has
  // stopped or cannot play, the song starts; a close from outside ends the
  // start.
  void resetSongProgress();
  // Opens and plays the selected song on the chosen port.
  void startSong();
  void warnIfSilent();
  static bool loopOn();
  // Has the built-in synthesizer read `path` (or $PLIMRA_SOUNDFONT) off this
  // thread; it becomes the option once it plays. Says why when it cannot,
  // and, for a choice `fromMenu`, when the variable keeps its own font.
  void useSoundFont(const QString& path, bool fromMenu);
  // The entry chosen in the port list, for the options.
  Options::Port listedPort() const;
  static QByteArray programFile(const QString& name);
  QByteArray songFile() const;

  // The reset song is playing and being waited for: its end is no song's
  // but starts the song. The device it plays on, and the look at it while
  // it plays.
  bool resetWaiting_ = false;
  uint16_t resetDevice_ = 0;
  QTimer resetPoll_;
  // The song this window started is playing and its end moves on; the
  // control's Stop and Prev clear it.
  bool songPlaying_ = false;
  // Songs started in a row that lasted no time: a whole list of them ends
  // continuous play instead of going round it for ever.
  int silentSongs_ = 0;
  bool silenceExplained_ = false;
  QString playingSong_;
  // Its words, read when it starts.
  std::shared_ptr<const seq::Lyrics> lyrics_;
  // The latest look at the MIDI outputs; a newer one replaces it.
  std::shared_ptr<plimra::mci::MidiOutListing> portListing_;
  std::chrono::steady_clock::time_point portListingStarted_;
  // Start-up went on before the ports were listed; the options hold the
  // saved port until the list comes.
  bool portListPending_ = false;
  // The port last reported as one that cannot be opened.
  QString unopenedPort_;
};

}  // namespace plimra::ui

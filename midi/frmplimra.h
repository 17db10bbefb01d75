// The MIDI player window: drive, folder and file lists for browsing MIDI
// files, the transport bar that plays them, the MIDI-OUT port panel (hidden
// until asked for), the timer of the elapsed-time display, and the menus.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/controls.h"
#include "runtime/filelists.h"
#include "runtime/form.h"
#include "runtime/menu.h"

namespace plimra::control {
class MMControl;
}
namespace plimra::mci {
class MidiOutListing;
}

namespace plimra::midi {

// What the caption says after the name of a song that could not be opened
// or played.
inline constexpr char16_t kCannotPlay[] = u" (再生できません)";
// What the caption says after the name of the last song when continuous or
// random play stopped because a whole pass of the list played no sound.
inline constexpr char16_t kNothingSounds[] = u" (音の出る曲がありません)";

class FrmPlimra : public plimra::rt::Form {
  Q_OBJECT

 public:
  FrmPlimra();
  ~FrmPlimra() override;

  // Controls, under their layout names: the file panel, the port panel
  // (hidden until its menu item shows it), the transport bar.
  plimra::rt::DirListBox* Dir1;
  plimra::rt::FileListBox* File1;
  plimra::rt::DriveListBox* Drive1;
  plimra::rt::ListBox* lstPort;
  plimra::rt::CommandButton *cmdOK, *cmdCancel, *cmdSave;
  plimra::control::MMControl* MMControl1;
  plimra::rt::Timer Timer1;

  // The menus, a line each: the file menu, the options with their two
  // submenus, help.
  plimra::rt::MenuItem *mnuFile, *mnuCDP, *mnuExit;
  plimra::rt::MenuItem *mnuOpt, *mnuMin, *mnuChange, *mnuTime, *mnuPort, *mnuSoundFont, *mnuSave;
  plimra::rt::MenuItem *mnuMode, *mnuSingle, *mnuContinue, *mnuRandom;
  plimra::rt::MenuItem *mnuInit, *mnuNon, *mnuGS, *mnuGM, *mnuXG;
  plimra::rt::MenuItem *mnuHelp, *mnuAbout;

 public slots:
  void Drive1_Change();
  void Dir1_Change();
  void mnuExit_Click();
  void File1_DblClick();
  void MMControl1_Done(int NotifyCode);
  void MMControl1_NextClick(int& Cancel);
  void MMControl1_PlayClick(int& Cancel);
  void Timer1_Timer();
  void mnuTime_Click();
  void mnuCDP_Click();
  void mnuSingle_Click();
  void mnuContinue_Click();
  void mnuRandom_Click();
  void mnuNon_Click();
  void mnuGS_Click();
  void mnuGM_Click();
  void mnuXG_Click();
  void mnuMin_Click();
  void mnuChange_Click();
  void mnuSave_Click();
  void mnuPort_Click();
  void mnuSoundFont_Click();
  void cmdOK_Click();
  void cmdCancel_Click();
  void cmdSave_Click();
  void lstPort_DblClick();
  void mnuAbout_Click();

 public:
  // A song or a folder given from outside (the command line, another start,
  // a drop, the desktop's player controls): the folder is shown and the song
  // selected and played as a double-click would play it. A song that is
  // not in the list (missing, or not a *.MID file) gets the can't-play
  // caption.
  void PlayFromOutside(const QString& path);
  // The song the last start opened, in the lossless text form of file names
  // (empty before any).
  QString PlayingSong() const { return playingSong_; }

  // The caption each tick builds, and the one it last wrote.
  QString TimeCaption;
  QString ShownTimeCaption;

 protected:
  void Form_Load() override;
  void Form_Unload(int16_t& Cancel) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Applies plimra.ini to both windows, or writes it when missing. False
  // when the file could not be read: the program has been ended.
  bool LoadSettings();
  void SetPlayMode(bool single, bool inOrder, bool random);
  void SetReset(const QString& kind);
  void PlayNextFile();
  // Shows the port panel (true) or the file browser with the transport bar.
  void ShowPortPanel(bool open);
  // Asks the system for its MIDI outputs off this thread and fills lstPort
  // with the answer if it comes within `limit`, else when it comes. True
  // when lstPort was filled before returning.
  bool ListPorts(int limitMs);
  // The answer has come: fills lstPort, then chooses the saved port if
  // start-up went on without the list.
  void PortsListed(const std::vector<std::string>& names);
  // Fills lstPort, keeping the selection on the port of the same name.
  void FillPortList(const std::vector<std::string>& names);
  // Says once which port the user chose could not be opened.
  void ReportUnopenedPort(uint16_t device, int16_t index, uint32_t result);
  // Waits until the reset song has stopped, or until it cannot play. False
  // when a later start took over or the device was closed from outside
  // (the start ends then).
  bool WaitForResetSong(uint64_t call);
  void WarnIfSilent();
  // Has the built-in synthesizer read `path` (or $PLIMRA_SOUNDFONT) off this
  // thread; it becomes the option once it plays. Says why when it cannot,
  // and, for a choice `fromMenu`, when the variable keeps its own font.
  void UseSoundFont(const QString& path, bool fromMenu);
  void MirrorOptionsInCd();
  static QByteArray ProgramFile(const QString& name);
  QByteArray SongFile() const;

  // Counts the starts of File1_DblClick, so a start that was taken over
  // while it waited for the reset song knows it.
  uint64_t playCall_ = 0;
  // The reset song is playing and being waited for: its end is no song's.
  bool resetWaiting_ = false;
  // The song this window started is playing and its end moves on; the
  // control's Stop and Prev clear it.
  bool songPlaying_ = false;
  // Songs started in a row that lasted no time: a whole list of them ends
  // continuous play instead of going round it for ever.
  int silentSongs_ = 0;
  bool silenceExplained_ = false;
  QString playingSong_;
  // The latest look at the MIDI outputs; a newer one replaces it.
  std::shared_ptr<plimra::mci::MidiOutListing> portListing_;
  // Start-up went on before the ports were listed; the saved port (index
  // and name as the file has them) is chosen when the list comes.
  bool portListPending_ = false;
  std::optional<std::pair<QString, QString>> savedPort_;
  // The port last reported as one that cannot be opened.
  QString unopenedPort_;
};

}  // namespace plimra::midi

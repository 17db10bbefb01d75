// The MIDI player window: drive, folder and file lists for browsing MIDI
// files, the transport bar that plays them, the MIDI-OUT port panel (hidden
// until asked for), the timer of the elapsed-time display, and the menus.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "runtime/controls.h"
#include "runtime/filelists.h"
#include "runtime/form.h"
#include "runtime/menu.h"

namespace plimra::media {
class MMControl;
}

namespace plimra::midi {

// What start-up needs from the rest of the program. The program fills these
// in before it creates the window; a missing piece is skipped.
struct Links {
  // Reads the saved settings and applies them to both windows.
  std::function<void()> loadSettings;
  // Mirrors the two shared options in the CD window's check marks.
  std::function<void(bool optMin, bool optChange)> setCdCheckMarks;
};

class FrmPlimra : public plimra::rt::Form {
  Q_OBJECT

 public:
  explicit FrmPlimra(Links links = {});
  ~FrmPlimra() override;

  void setLinks(Links links) { links_ = std::move(links); }

  // Controls, under their layout names.
  plimra::rt::DirListBox* Dir1;
  plimra::rt::FileListBox* File1;
  plimra::rt::DriveListBox* Drive1;
  plimra::rt::ListBox* lstPort;
  plimra::rt::CommandButton* cmdOK;
  plimra::rt::CommandButton* cmdCancel;
  plimra::rt::CommandButton* cmdSave;
  plimra::media::MMControl* MMControl1;
  plimra::rt::Timer Timer1;

  plimra::rt::MenuItem* mnuFile;
  plimra::rt::MenuItem* mnuCDP;
  plimra::rt::MenuItem* mnuExit;
  plimra::rt::MenuItem* mnuOpt;
  plimra::rt::MenuItem* mnuMin;
  plimra::rt::MenuItem* mnuMode;
  plimra::rt::MenuItem* mnuSingle;
  plimra::rt::MenuItem* mnuContinue;
  plimra::rt::MenuItem* mnuRandom;
  plimra::rt::MenuItem* mnuInit;
  plimra::rt::MenuItem* mnuNon;
  plimra::rt::MenuItem* mnuGS;
  plimra::rt::MenuItem* mnuGM;
  plimra::rt::MenuItem* mnuChange;
  plimra::rt::MenuItem* mnuTime;
  plimra::rt::MenuItem* mnuPort;
  plimra::rt::MenuItem* mnuSave;
  plimra::rt::MenuItem* mnuHelp;
  plimra::rt::MenuItem* mnuAbout;

 public slots:
  void Drive1_Change();
  void Dir1_Change();
  void mnuExit_Click();

 protected:
  void Form_Load() override;
  void Form_Unload(int16_t& Cancel) override;

 private:
  void LoadSettings();

  Links links_;
};

}  // namespace plimra::midi

// The audio-CD player window: disc length, play state and position, twenty
// clickable track labels, the transport bar, a small title list, and the
// way back to the MIDI window. Everything it learns about the disc comes
// from a twice-a-second poll (Timer1_Timer).
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "ui/kit/controls.h"
#include "ui/kit/form.h"
#include "ui/kit/menu.h"

namespace plimra::control {
class MMControl;
}

namespace plimra::cd {

// Track-label colours.
constexpr uint32_t kPlainColor = 0x80000005u;      // window background (system colour 5)
constexpr uint32_t kHighlightColor = 0x00C0FFFFu;  // light yellow
constexpr int kTrackLabels = 20;

// PlayState values.
constexpr int16_t kDiscNotRead = 0;
constexpr int16_t kStopped = 1;
constexpr int16_t kPlaying = 2;

// The first entry of the title list; double-clicking it opens the entry box.
inline const QString kNewCd = QStringLiteral("新しいＣＤ");

// The reply rule of the command layer: the reply is the text of `buffer`
// before its first NUL, looked for among the first 20 characters only;
// without one there, `reply` keeps the value it had.
void takeReply(const std::string& buffer, QString& reply);

class FrmCDp : public plimra::kit::Form {
  Q_OBJECT

 public:
  FrmCDp();
  ~FrmCDp() override;

  // Controls, under their layout names: the time labels, the track labels,
  // the transport bar, the title entry and list, the song name.
  plimra::kit::Label *Label1, *Info1, *Label2, *Info2;
  plimra::kit::LabelArray TrackSet;
  plimra::control::MMControl* MMControl1;
  plimra::kit::Timer Timer1;
  plimra::kit::Label* Label3;
  plimra::kit::TextBox* Text1;
  plimra::kit::ListBox* List1;
  plimra::kit::Label* Label4;
  plimra::kit::TextBox* Text2;

  // The menus, a line each.
  plimra::kit::MenuItem *mnuFile, *mnuMIDI, *mnuEnd;
  plimra::kit::MenuItem *mnuOPT, *mnuMin, *mnuChange, *mnuSave;

  // 0 disc not read, 1 disc present and not playing, 2 playing.
  int16_t PlayState = kDiscNotRead;
  // The track at the current position, counting from 1 (0: unknown).
  int16_t CurrentTrack = 0;

  // Sends a command string to the device table; see takeReply for how the
  // reply is read. Returns the device's error code.
  int32_t SendMciString(const QString& command, QString& reply);

 public slots:
  void Timer1_Timer();
  void TrackSet_Click(int Index);
  void MMControl1_PlayClick(int& Cancel);
  void MMControl1_PauseClick(int& Cancel);
  void List1_DblClick();
  void Text1_KeyDown(int& KeyCode, int Shift);
  void mnuMidi_click();
  void mnuEnd_Click();
  void mnuChange_Click();
  void mnuMin_Click();
  void mnuSave_Click();

 protected:
  void Form_Load() override;
  void Form_Activate() override;
  void Form_Unload(int16_t& Cancel) override;

 private:
  void IconizeOnPlay();
  void showStatus(const QString& text);
};

// The window's icon: a compact disc in white, yellow and cyan quarters with
// the letters CD and red musical notes, 32 x 32.
QIcon cdIcon();

}  // namespace plimra::cd

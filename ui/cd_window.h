// The audio-CD player window: disc length, play state and position, twenty
// clickable track labels, the transport bar, a small title list, and the
// way back to the MIDI window. Everything it learns about the disc comes
// from a twice-a-second poll (onPoll).
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "ui/kit/controls.h"
#include "ui/kit/form.h"
#include "ui/kit/menu.h"
#include "ui/player.h"

namespace plimra::control {
class MMControl;
}

namespace plimra::ui {

// Track-label colours.
constexpr uint32_t kPlainColor = 0x80000005u;      // window background (system colour 5)
constexpr uint32_t kHighlightColor = 0x00C0FFFFu;  // light yellow
constexpr int kTrackLabels = 20;

// playState values.
constexpr int16_t kDiscNotRead = 0;
constexpr int16_t kDiscStopped = 1;
constexpr int16_t kDiscPlaying = 2;

// The first entry of the title list; double-clicking it opens the entry box.
inline const QString kNewCd = QStringLiteral("新しいＣＤ");

// The reply rule of the command layer: the reply is the text of `buffer`
// before its first NUL, looked for among the first 20 characters only;
// without one there, `reply` keeps the value it had.
void takeReply(const std::string& buffer, QString& reply);

class CdWindow : public plimra::kit::Form, public Player {
  Q_OBJECT

 public:
  CdWindow();
  ~CdWindow() override;

  // Controls, under their layout names: the time labels, the track labels,
  // the transport bar, the title entry and list, the song name.
  plimra::kit::Label *totalTimeCaption, *discLength, *elapsedCaption, *status;
  plimra::kit::LabelArray trackLabels;
  plimra::control::MMControl* transport;
  plimra::kit::Timer pollTimer;
  plimra::kit::Label* titleCaption;
  plimra::kit::TextBox* titleEntry;
  plimra::kit::ListBox* titleList;
  plimra::kit::Label* songNameCaption;
  plimra::kit::TextBox* songName;

  // The menus, a line each.
  plimra::kit::MenuItem *midiMenu, *midiPlayerItem, *exitItem;
  plimra::kit::MenuItem *optionsMenu, *iconizeItem, *stopOnSwitchItem, *saveItem;

  // 0 disc not read, 1 disc present and not playing, 2 playing.
  int16_t playState = kDiscNotRead;
  // The track at the current position, counting from 1 (0: unknown).
  int16_t currentTrack = 0;

  // Sends a command string to the device table; see takeReply for how the
  // reply is read. Returns the device's error code.
  int32_t sendCommandString(const QString& command, QString& reply);

 public slots:
  void onPoll();
  void onTrackClicked(int Index);
  void onPlayClicked(int& Cancel);
  void onPauseClicked(int& Cancel);
  void onTitleActivated();
  void onTitleKeyDown(int& KeyCode, int Shift);
  void onMidiPlayer();
  void onExit();
  void onStopOnSwitchToggled();
  void onIconizeToggled();
  void onSave();

  // The track that plays ("Track N"), its position and length, for the
  // desktop.
  PlayerState playerState() const override;
  // Within the track that plays.
  bool seek(int64_t positionMs) override;

 signals:
  // The user switches to the MIDI player, which takes the window's place.
  void midiPlayerRequested(int left, int top);

 protected:
  control::MMControl& playerTransport() const override { return *transport; }
  void onLoad() override;
  void onActivate() override;
  void onUnload(int16_t& Cancel) override;

 private:
  void iconizeOnPlay();
  void showStatus(const QString& text);
};

// The window's icon: a compact disc in white, yellow and cyan quarters with
// the letters CD and red musical notes, 32 x 32.
QIcon cdIcon();

}  // namespace plimra::ui

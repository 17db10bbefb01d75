// MMControl: the transport control. A bar of nine buttons (Prev, Next, Play,
// Pause, Back, Step, Stop, Record, Eject) that drives one device of the
// device table, with the properties and events the windows use.
//
//   auto* c = new MMControl(window);
//   c->setNotify(true);                 // raise Done for every command
//   c->setDeviceType("Sequencer");      // or "CDAudio" (no FileName)
//   c->setFileName("/music/song.mid");
//   c->setCommand("OPEN");              // then "PLAY", "PAUSE", "STOP", "CLOSE"...
//   connect(c, &MMControl::Done, ...);  // queued: never inside setCommand
//
// Commands (case-insensitive): "OPEN" opens a device of DeviceType with
// FileName (an open device of another type or file is closed first; the same
// one stays open and playing), "CLOSE" closes it (harmless with nothing
// open), "PLAY" plays from the current position, "PAUSE" pauses a play and
// a second "PAUSE" resumes it, "STOP", "PREV", "NEXT", "SEEK" (to the
// start), "EJECT"; "BACK", "STEP", "RECORD" and "SAVE" are refused by
// every device. With Notify true every command raises Done once: 1
// (successful) or 8 (failure) for commands that complete at once; a play
// raises 1 when it reaches its end and 4 (aborted) when stop, close or
// another play cuts it short. Pause keeps the play pending. Done is raised on
// the GUI thread, after the command that caused it has returned. Every
// command returns at once; whoever needs a play's end waits for its Done.
//
// A button click first raises its ...Click(Cancel) event (direct, Cancel
// starts at 0); unless a handler sets Cancel, the control then carries out
// the button's command. Buttons enable with the device's mode; hidden buttons
// leave the bar and the others close up from the left.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QToolButton;
class QTimer;

namespace plimra::mci {
class Device;
}

namespace plimra::control {

class MMControl : public QWidget {
  Q_OBJECT

 public:
  enum Button { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject, ButtonCount };

  explicit MMControl(QWidget* parent = nullptr);
  ~MMControl() override;

  void setNotify(bool on) { notify_ = on; }

  void setDeviceType(const QString& type) { deviceType_ = type; }
  // The file's path as the file system has it: bytes, which need not be
  // UTF-8. A text name is taken as UTF-8.
  void setFileName(const QByteArray& path) { fileName_ = path; }
  void setFileName(const QString& name) { fileName_ = name.toUtf8(); }
  void setFileName(const char* path) { fileName_ = path; }

  // Carries out a command (see above). Returns the device's error code; an
  // unknown command gives err::UnrecognizedCommand and raises no Done.
  uint32_t setCommand(const QString& command);

  // The device's mode (525 stopped, 526 playing, 529 paused ...); 0 with
  // nothing open.
  int32_t Mode() const;
  // 0 = milliseconds, 10 = tmsf, ... (the device's time formats). Applied to
  // the open device at once and to every device opened later.
  int32_t TimeFormat() const { return timeFormat_; }
  void setTimeFormat(int32_t format);
  // In the device's current time format; 0 with nothing open.
  uint32_t Position() const;
  uint32_t Length() const;
  // The open device's id; 0 with nothing open.
  uint16_t DeviceID() const;

  void setButtonVisible(Button b, bool on);
  bool buttonEnabled(Button b) const;
  void setBackVisible(bool on) { setButtonVisible(Back, on); }
  void setStepVisible(bool on) { setButtonVisible(Step, on); }
  void setRecordVisible(bool on) { setButtonVisible(Record, on); }
  void setEjectVisible(bool on) { setButtonVisible(Eject, on); }

  // Presses a button as a click would: nothing when it is hidden or
  // disabled, else its event first, then its command.
  void click(Button b);

  // Moves the open device to `position` (in its current time format). A
  // play under way goes on from there (on a device that cannot move while
  // it plays, it ends as aborted and a new one starts, with its own Done); a
  // paused one stays paused there. Returns the device's error code.
  uint32_t seekTo(uint32_t position);

  // Re-reads the device mode and enables the buttons to match. The control
  // also does this after every command, on every Done, and twice a second
  // while a device is open.
  void refreshButtons();

  QSize sizeHint() const override;

 signals:
  void Done(int NotifyCode);
  void PrevClick(int& Cancel);
  void NextClick(int& Cancel);
  void PlayClick(int& Cancel);
  void PauseClick(int& Cancel);
  void BackClick(int& Cancel);
  void StepClick(int& Cancel);
  void StopClick(int& Cancel);
  void RecordClick(int& Cancel);
  void EjectClick(int& Cancel);
  // Left (-1) or Right (+1) pressed on a button of the bar. Only when
  // something listens; otherwise the arrows move between the buttons.
  void ArrowKey(int direction);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  mci::Device* device() const;
  void pressed(Button b);
  uint32_t openDevice();
  uint32_t closeDevice();
  uint32_t startPlay(mci::Device& dev);
  uint32_t pauseOrResume(mci::Device& dev, bool& playStarted);
  void postDone(int code);
  void layoutButtons();

  // Lets queued Done deliveries find out whether the control still exists.
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
  std::array<QToolButton*, ButtonCount> buttons_{};
  std::array<bool, ButtonCount> visible_{};
  QTimer* poll_ = nullptr;
  bool notify_ = false;
  QString deviceType_;
  QByteArray fileName_;
  int32_t timeFormat_ = 0;
  uint16_t deviceId_ = 0;
  std::string openType_;  // what the open device was opened as
  std::string openElement_;
  // The play was paused by stopping it (a device that pauses that way, or a
  // PauseClick handler that stopped it): the next PAUSE resumes it.
  bool heldByStop_ = false;
};

}  // namespace plimra::control

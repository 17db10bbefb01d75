// MMControl: the transport control. A bar of nine buttons (Prev, Next, Play,
// Pause, Back, Step, Stop, Record, Eject) that drives one device of the
// device table, with the properties and events the windows use.
//
// Writing Command carries out a command on the device: "OPEN" opens a device
// of DeviceType with FileName, "CLOSE" closes it (harmless with nothing
// open), "PLAY", "PAUSE", "STOP", "PREV", "NEXT", "SEEK", "EJECT" act on the
// open device. Command names compare without regard to case. With Notify
// true every command raises Done when it completes; a play raises it when it
// reaches its end (Successful) or is cut short (Aborted). Done is always
// raised on the GUI thread, after the command that caused it has returned.
//
// A button click first raises its ...Click(Cancel) event; unless a handler
// sets Cancel, the control then carries out the button's command.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

class QToolButton;

namespace plimra::media {

class MMControl : public QWidget {
  Q_OBJECT

 public:
  enum Button { Prev, Next, Play, Pause, Back, Step, Stop, Record, Eject, ButtonCount };

  explicit MMControl(QWidget* parent = nullptr);
  ~MMControl() override;

  bool Notify() const { return notify_; }
  void setNotify(bool on) { notify_ = on; }
  bool Wait() const { return wait_; }
  void setWait(bool on) { wait_ = on; }

  QString DeviceType() const { return deviceType_; }
  void setDeviceType(const QString& type) { deviceType_ = type; }
  QString FileName() const { return fileName_; }
  void setFileName(const QString& name) { fileName_ = name; }

  // Carries out a command (see above). Returns the device's error code,
  // which is also kept in Error().
  uint32_t setCommand(const QString& command);
  uint32_t Error() const { return error_; }

  // The device's mode; 0 with nothing open (neither stopped nor playing).
  int32_t Mode() const;
  // 0 = milliseconds, 10 = tmsf, ... (the device's time formats).
  int32_t TimeFormat() const { return timeFormat_; }
  void setTimeFormat(int32_t format);
  uint32_t Position() const;
  uint32_t Length() const;
  // The open device's id; 0 with nothing open.
  uint16_t DeviceID() const { return deviceId_; }

  bool buttonVisible(Button b) const { return visible_[b]; }
  void setButtonVisible(Button b, bool on);
  bool buttonEnabled(Button b) const;
  void setPrevVisible(bool on) { setButtonVisible(Prev, on); }
  void setNextVisible(bool on) { setButtonVisible(Next, on); }
  void setPlayVisible(bool on) { setButtonVisible(Play, on); }
  void setPauseVisible(bool on) { setButtonVisible(Pause, on); }
  void setBackVisible(bool on) { setButtonVisible(Back, on); }
  void setStepVisible(bool on) { setButtonVisible(Step, on); }
  void setStopVisible(bool on) { setButtonVisible(Stop, on); }
  void setRecordVisible(bool on) { setButtonVisible(Record, on); }
  void setEjectVisible(bool on) { setButtonVisible(Eject, on); }

  // Presses a button as a click would (events first, then the command).
  void click(Button b);
  QToolButton* button(Button b) const { return buttons_[b]; }

  // Re-reads the device mode and enables the buttons to match. The control
  // also does this on a slow timer of its own while a device is open.
  void refreshButtons();

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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::array<QToolButton*, ButtonCount> buttons_{};
  std::array<bool, ButtonCount> visible_{};
  bool notify_ = false;
  bool wait_ = false;
  QString deviceType_;
  QString fileName_;
  int32_t timeFormat_ = 0;
  uint16_t deviceId_ = 0;
  uint32_t error_ = 0;
};

}  // namespace plimra::media

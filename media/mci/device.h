// The interface every device behind the device table implements: the
// sequencer, the CD audio device, and the fakes that tests register.
//
// Time values passed in and out are in the device's current time format,
// packed the classic way for msf and tmsf (see mci.h). Every call returns an
// error code (err::None on success) and is made on the GUI thread; a device
// may run threads of its own, but it reports completions only through the
// NotifyFn it was given, which the device table delivers on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "media/mci/mci.h"

namespace plimra::mci {

// Called once with the outcome of a command that asked to be notified.
// Devices may call it from any thread; see DeviceTable::wrapNotify.
using NotifyFn = std::function<void(NotifyCode)>;

struct PlayParams {
  std::optional<uint32_t> from;  // current time format; absent: current position
  std::optional<uint32_t> to;    // absent: end of the media
};

struct SeekParams {
  enum class Where { Start, End, To } where = Where::Start;
  uint32_t to = 0;  // with Where::To, in the current time format
};

enum class StatusItem {
  Length,          // of the media, or of `track` when given
  Position,        // current position, or start of `track` when given
  NumberOfTracks,
  Mode,
  MediaPresent,
  CurrentTrack,
  TimeFormat,
  Ready,
  StartPosition,
};

struct StatusParams {
  StatusItem item = StatusItem::Mode;
  std::optional<uint32_t> track;  // "status x length track n"
};

// How a status value is written as text by the command-string layer.
struct StatusValue {
  enum class Kind { Integer, Time, Mode, Boolean, TimeFormatName };
  Kind kind = Kind::Integer;
  uint32_t value = 0;
  // For Kind::Time: the format the value is packed in (a CD reports its
  // length as msf even in tmsf).
  TimeFormat format = TimeFormat::Milliseconds;
};

class Device {
 public:
  virtual ~Device() = default;

  // element: the file to open (sequencer); empty for devices without one.
  virtual uint32_t open(const std::string& element) = 0;
  // Stops whatever plays (aborting a pending play notification) and releases
  // the media. Closing twice is harmless.
  virtual uint32_t close() = 0;

  // Starts playing and returns at once. `notify`, when set, is called once:
  // Successful when the play reaches its end, Aborted when stop, close, seek
  // or another play cuts it short. Pause keeps it pending; resume goes on.
  virtual uint32_t play(const PlayParams& params, NotifyFn notify) = 0;
  virtual uint32_t stop() = 0;    // the position stays where it stopped
  virtual uint32_t pause() = 0;
  virtual uint32_t resume() = 0;
  virtual uint32_t seek(const SeekParams& params) = 0;  // leaves the device stopped

  // Previous/next track (the transport bar's Prev and Next buttons). Devices
  // without tracks go to the start and to the end.
  virtual uint32_t prev() { return seek({SeekParams::Where::Start, 0}); }
  virtual uint32_t next() { return seek({SeekParams::Where::End, 0}); }

  virtual uint32_t status(const StatusParams& params, StatusValue& out) = 0;
  virtual uint32_t setTimeFormat(TimeFormat format) = 0;

  // Door (eject). Devices without a door refuse.
  virtual uint32_t setDoor(bool /*open*/) { return err::UnsupportedFunction; }
  // The sequencer's output port: -1 the mapper, k output k. Others refuse.
  virtual uint32_t setPort(int32_t /*port*/) { return err::UnsupportedFunction; }
  // Whether a song with a loop goes round it (the sequencer). Others refuse.
  virtual uint32_t setLoop(bool /*on*/) { return err::UnsupportedFunction; }
  // Moves the position to `to` (current time format) and carries on: a play
  // goes on playing from there, its notification still pending; a pause or
  // a stop stays one there. Devices that cannot refuse.
  virtual uint32_t moveTo(uint32_t /*to*/) { return err::UnsupportedFunction; }

  // Convenience for callers that only need the mode (never touches media).
  int32_t mode() {
    StatusValue v;
    return status({StatusItem::Mode, std::nullopt}, v) == err::None ? static_cast<int32_t>(v.value)
                                                                      : ModeNotReady;
  }
};

}  // namespace plimra::mci

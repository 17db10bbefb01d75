// Classic multimedia-device vocabulary shared by the device table, the
// transport control and the devices: mode numbers, notification codes, time
// formats, error codes and the packed time values.
#pragma once

#include <cstdint>
#include <string>

namespace plimra::mci {

// Device modes, as the status command reports them: 524 and up, in this
// order.
enum Mode : int32_t {
  ModeNotReady = 524,
  ModeStopped,
  ModePlaying,
  ModeRecording,
  ModeSeeking,
  ModePaused,
  ModeOpen,  // door open / no medium
};

// Notification codes delivered with Done: one bit each.
enum NotifyCode : uint16_t {
  NotifySuccessful = 1,
  NotifySuperseded = 2,
  NotifyAborted = 4,
  NotifyFailure = 8,
};

// Time formats, numbered from 0 in this order.
enum class TimeFormat : uint32_t {
  Milliseconds,
  Hms,
  Msf,
  Frames,
  Smpte24,
  Smpte25,
  Smpte30,
  Smpte30Drop,
  Bytes,
  Samples,
  Tmsf,
};

// Error codes. 0 is success; the numbers are the classic ones so that text
// replies and logs read the same as on the platform this program grew up on.
namespace err {
constexpr uint32_t None = 0;
constexpr uint32_t Base = 256;
constexpr uint32_t InvalidDeviceId = Base + 1;
constexpr uint32_t UnrecognizedKeyword = Base + 3;
constexpr uint32_t UnrecognizedCommand = Base + 5;
constexpr uint32_t Hardware = Base + 6;
constexpr uint32_t InvalidDeviceName = Base + 7;
constexpr uint32_t OutOfMemory = Base + 8;
constexpr uint32_t DeviceOpen = Base + 9;
constexpr uint32_t CannotLoadDriver = Base + 10;
constexpr uint32_t MissingCommandString = Base + 11;
constexpr uint32_t ParamOverflow = Base + 12;
constexpr uint32_t MissingStringArgument = Base + 13;
constexpr uint32_t BadInteger = Base + 14;
constexpr uint32_t ParserInternal = Base + 15;
constexpr uint32_t DriverInternal = Base + 16;
constexpr uint32_t MissingParameter = Base + 17;
constexpr uint32_t UnsupportedFunction = Base + 18;
constexpr uint32_t FileNotFound = Base + 19;
constexpr uint32_t DeviceNotReady = Base + 20;
constexpr uint32_t Internal = Base + 21;
constexpr uint32_t Driver = Base + 22;
constexpr uint32_t OutOfRange = Base + 26;
constexpr uint32_t FlagsNotCompatible = Base + 28;
constexpr uint32_t BadConstant = Base + 34;
constexpr uint32_t MissingDeviceName = Base + 36;
constexpr uint32_t BadTimeFormat = Base + 37;
constexpr uint32_t NoClosingQuote = Base + 38;
constexpr uint32_t DuplicateFlags = Base + 39;
constexpr uint32_t InvalidFile = Base + 40;
constexpr uint32_t NonapplicableFunction = Base + 46;
constexpr uint32_t FilenameRequired = Base + 48;
constexpr uint32_t ExtraCharacters = Base + 49;
constexpr uint32_t DeviceNotInstalled = Base + 50;
constexpr uint32_t NoInteger = Base + 56;
constexpr uint32_t SeqPortInUse = Base + 81;
constexpr uint32_t SeqPortNonexistent = Base + 82;
constexpr uint32_t SeqPortMiscError = Base + 84;
constexpr uint32_t SeqNoMidiPresent = Base + 87;
constexpr uint32_t FileRead = Base + 92;
}  // namespace err

// A short English description of an error code, for logs and plimra-mci.
std::string errorText(uint32_t code);

// Packed time values, as the classic status replies carry them.
constexpr uint32_t makeTmsf(uint32_t t, uint32_t m, uint32_t s, uint32_t f) {
  return (t & 0xFF) | ((m & 0xFF) << 8) | ((s & 0xFF) << 16) | ((f & 0xFF) << 24);
}
constexpr uint32_t makeMsf(uint32_t m, uint32_t s, uint32_t f) {
  return (m & 0xFF) | ((s & 0xFF) << 8) | ((f & 0xFF) << 16);
}
constexpr uint32_t tmsfTrack(uint32_t v) { return v & 0xFF; }
constexpr uint32_t tmsfMinute(uint32_t v) { return (v >> 8) & 0xFF; }
constexpr uint32_t tmsfSecond(uint32_t v) { return (v >> 16) & 0xFF; }
constexpr uint32_t tmsfFrame(uint32_t v) { return (v >> 24) & 0xFF; }
constexpr uint32_t msfMinute(uint32_t v) { return v & 0xFF; }
constexpr uint32_t msfSecond(uint32_t v) { return (v >> 8) & 0xFF; }
constexpr uint32_t msfFrame(uint32_t v) { return (v >> 16) & 0xFF; }

}  // namespace plimra::mci

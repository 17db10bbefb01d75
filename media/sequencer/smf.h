// Standard MIDI File reader: formats 0, 1 and 2, RIFF RMID containers,
// running status (kept across meta and SysEx events), SysEx in F0 and F7
// forms, every meta event, metrical and SMPTE divisions.
//
// The reader is bounded: it never reads outside the input, never allocates
// more than a small multiple of the input size, and always terminates. A
// file that is damaged part-way yields the events before the damage plus a
// warning; a file with nothing usable yields an error.
//
// End of Track is kept as the last event of its track (a Meta event of type
// 0x2F); bytes after it are ignored. System common and real-time messages
// (F1-F6, F8-FE), which a file may not contain, are skipped with a warning.
// A format 0 file with several tracks is read like format 1, with a warning.
// Track chunks beyond the count in the header are ignored, with a warning;
// chunks that are not MTrk are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plimra::seq {

struct SmfEvent {
  enum class Kind : uint8_t {
    Channel,  // bytes: status + 1 or 2 data bytes (running status expanded)
    SysEx,    // bytes: the complete message as sent on the wire, F0 ... F7;
              // an F7 "escape" event carries its raw bytes as given
    Meta,     // metaType set; bytes: the meta event's data
  };
  uint64_t tick = 0;   // absolute tick within its track
  uint32_t track = 0;  // index of the MTrk chunk it came from
  Kind kind = Kind::Channel;
  uint8_t metaType = 0;
  std::vector<uint8_t> bytes;
};

struct SmfTrack {
  std::vector<SmfEvent> events;  // those a handler kept, in file order (ticks non-decreasing)
  uint64_t endTick = 0;          // tick of End of Track, or of the last event
  bool hasEndOfTrack = false;
};

struct Smf {
  uint16_t format = 0;           // 0, 1 or 2
  uint16_t division = 0;         // raw division word from the header
  bool smpte = false;            // division is SMPTE (frames per second x ticks per frame)
  uint16_t ticksPerQuarter = 0;  // when !smpte
  int framesPerSecond = 0;       // when smpte: 24, 25, 29 (29.97 drop) or 30
  int ticksPerFrame = 0;         // when smpte
  std::vector<SmfTrack> tracks;
  std::vector<std::string> warnings;  // damage that was read around
};

struct SmfResult {
  bool ok = false;
  std::string error;  // set when !ok: a clear message for the user
  Smf smf;
};

// Hard limits that keep hostile input bounded. Real songs stay far below
// 16 MiB; a file of nothing but two-byte events costs about 36 bytes of
// memory per byte read, so this cap keeps the worst case near 600 MB.
constexpr size_t kMaxSmfFileBytes = 16u * 1024u * 1024u;
constexpr size_t kMaxSmfTracks = 65535;

// Number of data bytes that follow a channel status byte: one for program
// change (Cx) and channel pressure (Dx), two for the others.
constexpr int channelDataBytes(uint8_t status) {
  const uint8_t hi = status & 0xF0;
  return (hi == 0xC0 || hi == 0xD0) ? 1 : 2;
}

// Takes the events one by one as they are read, for a reader that keeps
// them in a form of its own (a song to play) instead of as SmfEvents.
class SmfHandler {
 public:
  virtual ~SmfHandler() = default;
  // One event of track `track`: its bytes are `head` followed by `body`
  // (head holds a status byte the file left out, or the F0 of a SysEx).
  virtual void event(uint32_t track, uint64_t tick, SmfEvent::Kind kind, uint8_t metaType,
                     std::span<const uint8_t> head, std::span<const uint8_t> body) = 0;
};
// Reads a MIDI file, from memory or from a file: every event goes to
// `handler`, and the result holds the header, each track's end tick and End
// of Track flag, and the warnings, but no events.
SmfResult parseSmf(std::span<const uint8_t> data, SmfHandler& handler);
SmfResult readSmfFile(const std::string& path, SmfHandler& handler);

}  // namespace plimra::seq

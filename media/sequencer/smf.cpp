#include "media/sequencer/smf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plimra::seq {
namespace {

uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// A chunk id of four printable characters; anything else means we have lost
// our place in the file.
bool plausibleId(const uint8_t* p) {
  return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c < 0x7f; });
}

enum class Vlq { Ok, Truncated, TooLong };

// Variable-length quantity of at most four bytes (28 bits).
inline Vlq readVlq(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (p == end) return Vlq::Truncated;
    uint8_t b = *p++;
    v = (v << 7) | (b & 0x7f);
    if (!(b & 0x80)) {
      value = v;
      return Vlq::Ok;
    }
  }
  return Vlq::TooLong;
}

// Data bytes that follow a system common or real-time status. These may not
// appear in a file; skipping their data keeps the rest of the track readable.
int systemDataBytes(uint8_t status) {
  switch (status) {
    case 0xf1:
    case 0xf3:
      return 1;
    case 0xf2:
      return 2;
    default:
      return 0;
  }
}

// Reads the events of one MTrk chunk body, one event at a time, and hands
// them to the handler. Damage ends the track: what was read before it stays.
class TrackReader {
 public:
  TrackReader(const uint8_t* p, const uint8_t* end, uint32_t index, SmfTrack& track,
              SmfHandler& handler)
      : begin_(p), p_(p), end_(end), index_(index), track_(track), handler_(handler) {}

  // Reads up to End of Track, damage or the end of the body. Returns whether
  // any event was read.
  bool readAll() {
    while (p_ < end_ && readEvent()) {
    }
    // The delta time of an event that could not be read adds no silence.
    track_.endTick = damage_.empty() ? tick_ : readTick_;
    return any_;
  }

  // What went wrong, for people. `cut`: the chunk was shorter in the file
  // than its length field claimed.
  void report(bool cut, std::vector<std::string>& warnings) const {
    const std::string label = "track " + std::to_string(index_ + 1) + ": ";
    if (illegal_)
      warnings.push_back(label + std::to_string(illegal_) +
                         " system message(s) not allowed in a file were skipped");
    if (!damage_.empty())
      warnings.push_back(label + damage_ + "; the rest of the track is ignored");
    else if (cut && !track_.hasEndOfTrack)
      warnings.push_back(label + "the file ends inside this track");
    if (!track_.hasEndOfTrack && damage_.empty() && !cut)
      warnings.push_back(label + "no End of Track event");
  }

 private:
  // One event with its delta time; false when the track ends here.
  bool readEvent() {
    readTick_ = tick_;
    eventStart_ = p_;
    uint32_t delta = 0;
    if (Vlq r = readVlq(p_, end_, delta); r != Vlq::Ok)
      return vlqDamage(r, eventStart_, "a delta time");
    if (p_ == end_) return stop("cut short after a delta time", eventStart_);
    tick_ += delta;
    uint8_t status = *p_;
    if (status & 0x80)
      ++p_;
    else if (running_)
      status = running_;
    else
      return stop("data byte without a status", p_);

    if (status < 0xf0) return readChannel(status);
    if (status == 0xff) return readMeta();
    if (status == 0xf0 || status == 0xf7) return readSysEx(status);
    return skipSystem(status);
  }

  bool readChannel(uint8_t status) {
    const size_t n = size_t(channelDataBytes(status));
    if (size_t(end_ - p_) < n) return stop("cut short in a channel message", eventStart_);
    if ((p_[0] & 0x80) || (n == 2 && (p_[1] & 0x80)))
      return stop("status byte inside a channel message", eventStart_);
    running_ = status;
    handler_.event(index_, tick_, SmfEvent::Kind::Channel, 0, {&status, 1}, {p_, n});
    any_ = true;
    p_ += n;
    return true;
  }

  bool readMeta() {
    if (p_ == end_) return stop("cut short in a meta event", eventStart_);
    const uint8_t type = *p_++;
    uint32_t len = 0;
    if (!readLength(len, "a meta event length", "cut short in a meta event")) return false;
    handler_.event(index_, tick_, SmfEvent::Kind::Meta, type, {}, {p_, len});
    any_ = true;
    p_ += len;
    if (type != 0x2f) return true;
    // Whatever follows End of Track is not part of the song.
    track_.hasEndOfTrack = true;
    return false;
  }

  // F0 carries its start byte into the event; F7 (an escape) sends its body as it is.
  bool readSysEx(uint8_t status) {
    uint32_t len = 0;
    if (!readLength(len, "a SysEx length", "cut short in a SysEx message")) return false;
    static constexpr uint8_t kStart = 0xf0;
    handler_.event(
        index_, tick_, SmfEvent::Kind::SysEx, 0,
        status == 0xf0 ? std::span<const uint8_t>(&kStart, 1) : std::span<const uint8_t>(),
        {p_, len});
    any_ = true;
    p_ += len;
    return true;
  }

  // System common and real-time messages have no place in a file: skip them
  // with their data and keep the running status, so the notes still play.
  bool skipSystem(uint8_t status) {
    const size_t n = size_t(systemDataBytes(status));
    if (size_t(end_ - p_) < n) return stop("cut short in a system message", eventStart_);
    p_ += n;
    ++illegal_;
    return true;
  }

  // A length followed by that many bytes, all inside the body.
  bool readLength(uint32_t& len, const char* what, const char* shortBody) {
    const uint8_t* lenAt = p_;
    if (Vlq r = readVlq(p_, end_, len); r != Vlq::Ok) return vlqDamage(r, lenAt, what);
    if (len > size_t(end_ - p_)) return stop(shortBody, eventStart_);
    return true;
  }

  bool vlqDamage(Vlq r, const uint8_t* at, const char* what) {
    return stop(r == Vlq::TooLong ? std::string(what) + " longer than 4 bytes"
                                  : std::string("cut short in ") + what,
                at);
  }

  bool stop(const std::string& what, const uint8_t* at) {
    damage_ = what + " at byte " + std::to_string(at - begin_);
    return false;
  }

  const uint8_t* const begin_;
  const uint8_t* p_;
  const uint8_t* const end_;
  const uint32_t index_;
  SmfTrack& track_;
  SmfHandler& handler_;
  const uint8_t* eventStart_ = nullptr;
  bool any_ = false;
  uint64_t tick_ = 0;
  uint64_t readTick_ = 0;  // tick after the last event read in full
  uint8_t running_ = 0;
  size_t illegal_ = 0;
  std::string damage_;
};

// Reads one MTrk chunk body [p, end), its events to `handler` and its end
// to `track`. Returns whether any event was read.
bool parseTrack(const uint8_t* p, const uint8_t* end, uint32_t index, bool cut, SmfTrack& track,
                std::vector<std::string>& warnings, SmfHandler& handler) {
  TrackReader reader(p, end, index, track, handler);
  const bool any = reader.readAll();
  reader.report(cut, warnings);
  return any;
}

SmfResult fail(std::string message) {
  SmfResult r;
  r.error = std::move(message);
  return r;
}

// Finds the MIDI data inside a RIFF RMID container.
bool unwrapRiff(std::span<const uint8_t>& data, std::string& error) {
  if (data.size() < 12 || !isId(data.data() + 8, "RMID")) {
    error = "This RIFF file is not a RIFF MIDI (RMID) file.";
    return false;
  }
  // The RIFF size may be wrong in the wild; the bytes present are what count.
  size_t pos = 12;
  while (data.size() - pos >= 8) {
    const uint8_t* c = data.data() + pos;
    const size_t len = le32(c + 4);
    const size_t avail = data.size() - pos - 8;
    if (isId(c, "data")) {
      data = data.subspan(pos + 8, std::min(len, avail));
      return true;
    }
    if (len >= avail) break;
    pos += 8 + len + (len & 1);  // RIFF chunks are padded to even length
  }
  error = "This RIFF MIDI file holds no MIDI data.";
  return false;
}

}  // namespace

SmfResult parseSmf(std::span<const uint8_t> data, SmfHandler& handler) {
  if (data.empty()) return fail("The file is empty.");
  if (data.size() > kMaxSmfFileBytes) return fail("The file is too large to be a MIDI file.");
  if (data.size() >= 4 && isId(data.data(), "RIFF")) {
    std::string error;
    if (!unwrapRiff(data, error)) return fail(error);
  }
  if (data.size() < 4 || !isId(data.data(), "MThd")) return fail("This is not a MIDI file.");
  if (data.size() < 14) return fail("The MIDI file is cut short in its header.");

  const uint8_t* const base = data.data();
  const size_t size = data.size();
  const uint32_t headerLen = be32(base + 4);
  if (headerLen < 6) return fail("The MIDI file's header is damaged.");

  SmfResult result;
  Smf& smf = result.smf;
  bool anyEvent = false;
  smf.format = be16(base + 8);
  const uint16_t declaredTracks = be16(base + 10);
  smf.division = be16(base + 12);
  if (smf.format > 2)
    return fail("This MIDI file has format " + std::to_string(smf.format) +
                ", which is not supported (only 0, 1 and 2 are).");
  if (smf.division & 0x8000) {
    smf.smpte = true;
    smf.framesPerSecond = -int(int8_t(smf.division >> 8));
    smf.ticksPerFrame = smf.division & 0xff;
    const int fps = smf.framesPerSecond;
    if (fps != 24 && fps != 25 && fps != 29 && fps != 30)
      return fail("This MIDI file's SMPTE time base (" + std::to_string(fps) +
                  " frames per second) is not supported.");
    if (smf.ticksPerFrame == 0) return fail("This MIDI file's time base is zero.");
  } else {
    smf.ticksPerQuarter = smf.division;
    if (smf.ticksPerQuarter == 0) return fail("This MIDI file's time base is zero.");
  }

  // Each track chunk takes at least 8 bytes, which bounds the reservation
  // whatever the header claims.
  size_t pos = (headerLen > size - 8) ? size : 8 + size_t(headerLen);
  smf.tracks.reserve(std::min<size_t>(declaredTracks, (size - std::min(pos, size)) / 8));
  bool lost = false;
  while (pos < size && size - pos >= 8 && smf.tracks.size() < declaredTracks) {
    const uint8_t* c = base + pos;
    const size_t len = be32(c + 4);
    const size_t avail = size - pos - 8;
    const bool cut = len > avail;
    if (isId(c, "MTrk")) {
      const uint32_t index = uint32_t(smf.tracks.size());
      anyEvent |= parseTrack(c + 8, c + 8 + std::min(len, avail), index, cut,
                             smf.tracks.emplace_back(), smf.warnings, handler);
    } else if (!plausibleId(c)) {
      lost = true;
      break;
    }
    if (cut) {
      pos = size;
      break;
    }
    pos += 8 + len;
  }

  if (smf.tracks.empty()) {
    if (declaredTracks == 0) return fail("This MIDI file has no tracks.");
    return fail("This MIDI file holds no readable track.");
  }
  // Damage before the first event of every track leaves nothing to play.
  if (!smf.warnings.empty() && !anyEvent)
    return fail("This MIDI file is damaged (" + smf.warnings.front() + ").");
  if (lost)
    smf.warnings.push_back("unreadable data after track " + std::to_string(smf.tracks.size()) +
                           " was ignored");
  // Tracks beyond the announced count are left out, as the header says.
  if (smf.tracks.size() == declaredTracks && !lost && pos < size && size - pos >= 8 &&
      isId(base + pos, "MTrk"))
    smf.warnings.push_back("track chunks beyond the " + std::to_string(declaredTracks) +
                           " the header announces were ignored");
  if (smf.tracks.size() < declaredTracks)
    smf.warnings.push_back("the header announces " + std::to_string(declaredTracks) +
                           " tracks but the file holds " + std::to_string(smf.tracks.size()));
  if (smf.format == 0 && smf.tracks.size() > 1)
    smf.warnings.push_back("a format 0 file should hold one track; all " +
                           std::to_string(smf.tracks.size()) + " are played together");
  result.ok = true;
  return result;
}

SmfResult readSmfFile(const std::string& path, SmfHandler& handler) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("Cannot open " + path + ": " + std::strerror(errno));
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail("Cannot read " + path + ": " + std::strerror(errno));
  // Only regular files: a FIFO or a device could block or never end.
  if (!S_ISREG(st.st_mode)) return fail(path + " is not a file.");
  if (uint64_t(st.st_size) > kMaxSmfFileBytes)
    return fail("The file is too large to be a MIDI file.");
  std::vector<uint8_t> bytes(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("Cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;  // the file shrank while we read it
    got += size_t(n);
  }
  bytes.resize(got);
  return parseSmf(bytes, handler);
}

}  // namespace plimra::seq

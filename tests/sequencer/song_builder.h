// Builds small Standard MIDI files for the sequencer tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace plimra::seq::test {

class TrackBuilder {
 public:
  // Events must be added in tick order.
  TrackBuilder& at(uint32_t tick, std::vector<uint8_t> message) {
    vlq(tick - last_);
    last_ = tick;
    if (message[0] == 0xF0) {
      bytes_.push_back(0xF0);
      vlq(static_cast<uint32_t>(message.size() - 1));
      bytes_.insert(bytes_.end(), message.begin() + 1, message.end());
    } else {
      bytes_.insert(bytes_.end(), message.begin(), message.end());
    }
    return *this;
  }
  TrackBuilder& tempo(uint32_t tick, uint32_t usPerQuarter) {
    return at(tick, {0xFF, 0x51, 0x03, static_cast<uint8_t>(usPerQuarter >> 16),
                     static_cast<uint8_t>(usPerQuarter >> 8), static_cast<uint8_t>(usPerQuarter)});
  }
  std::vector<uint8_t> finish(uint32_t endTick) {
    at(endTick, {0xFF, 0x2F, 0x00});
    return bytes_;
  }

 private:
  void vlq(uint32_t x) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = x & 0x7F;
    while (x >>= 7) buf[n++] = static_cast<uint8_t>(0x80 | (x & 0x7F));
    while (n) bytes_.push_back(buf[--n]);
  }
  std::vector<uint8_t> bytes_;
  uint32_t last_ = 0;
};

inline std::vector<uint8_t> smfFile(uint16_t format, uint16_t division,
                                    const std::vector<std::vector<uint8_t>>& tracks) {
  std::vector<uint8_t> f{'M', 'T', 'h', 'd', 0, 0, 0, 6};
  auto put16 = [&](uint32_t v) {
    f.push_back(static_cast<uint8_t>(v >> 8));
    f.push_back(static_cast<uint8_t>(v));
  };
  put16(format);
  put16(static_cast<uint32_t>(tracks.size()));
  put16(division);
  for (const auto& t : tracks) {
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    put16(static_cast<uint32_t>(t.size() >> 16));
    put16(static_cast<uint32_t>(t.size() & 0xFFFF));
    f.insert(f.end(), t.begin(), t.end());
  }
  return f;
}

inline std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path;
}

// A song with two tempo changes: 480 ticks per quarter; 500000 us/quarter
// from tick 0, 250000 from tick 960, 1000000 from tick 1440. Notes on
// channel 1 at ticks 0, 480, 960, 1200, 1440, 1920; end at 2400.
// Times: 0, 500, 1000, 1125, 1250, 2250 ms; length 3250 ms.
inline std::vector<uint8_t> tempoSong() {
  TrackBuilder t;
  t.tempo(0, 500000).at(0, {0xC0, 5}).at(0, {0x90, 60, 100});
  t.at(480, {0x80, 60, 0}).at(480, {0x90, 62, 100});
  t.tempo(960, 250000).at(960, {0x80, 62, 0}).at(960, {0x90, 64, 100});
  t.at(960, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  t.at(1200, {0x80, 64, 0}).at(1200, {0xB0, 64, 127}).at(1200, {0x90, 65, 100});
  t.tempo(1440, 1000000).at(1440, {0x80, 65, 0}).at(1440, {0x90, 67, 100});
  t.at(1920, {0x80, 67, 0});
  return smfFile(0, 480, {t.finish(2400)});
}

}  // namespace plimra::seq::test

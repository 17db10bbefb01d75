// Verified audio reads through libcdio-paranoia: overlapping reads that
// correct the drive's jitter, and re-reads of sectors that do not verify.
// The re-reads are bounded, so a scratch costs a few reads and then plays
// as whatever could be read, instead of stalling the music.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

typedef struct _CdIo CdIo_t;
typedef struct cdrom_drive_s cdrom_drive_t;
typedef struct cdrom_paranoia_s cdrom_paranoia_t;

namespace plimra::cdaudio {

class ParanoiaReader {
 public:
  // How often paranoia reads again around a sector it cannot verify before
  // it gives the sector up. Paranoia looks at the bound only every fifth
  // retry, so it must be a multiple of five or it is never reached.
  static constexpr int kMaxRetries = 5;
  static_assert(kMaxRetries % 5 == 0);
  // Sectors paranoia reads at once to get past the drive's own cache. One
  // second of music: each retry costs no more than that.
  static constexpr int kCacheSectors = 75;

  // A reader on an opened source, which must outlive it (it is not
  // closed here). Null when paranoia cannot use the source.
  static std::unique_ptr<ParanoiaReader> open(CdIo_t* cdio);
  ~ParanoiaReader();
  ParanoiaReader(const ParanoiaReader&) = delete;
  ParanoiaReader& operator=(const ParanoiaReader&) = delete;

  // Reads `count` sectors from `sector` into `out` (S16 little-endian
  // stereo, 2352 bytes a sector). Stops between two sectors once `stop` is
  // set; what was not read stays zero. While `hurry` is set (the music ran
  // dry while paranoia re-read), sectors are read plainly, once each.
  // Returns how many sectors came back whole (skipped ones are not
  // counted), or -1 when `sector` lies outside every track, where paranoia
  // cannot go.
  int read(int32_t sector, int count, uint8_t* out, const std::atomic<bool>* stop = nullptr,
           const std::atomic<bool>* hurry = nullptr);

 private:
  ParanoiaReader(CdIo_t* cdio, cdrom_drive_t* drive, cdrom_paranoia_t* paranoia)
      : cdio_(cdio), drive_(drive), paranoia_(paranoia) {}

  CdIo_t* cdio_;
  cdrom_drive_t* drive_;
  cdrom_paranoia_t* paranoia_;
  int32_t next_ = -1;  // the sector paranoia reads next without a seek
};

}  // namespace plimra::cdaudio

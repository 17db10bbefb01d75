#include "media/cdaudio/paranoia_reader.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cstdio>
#include <cstring>

#include "media/cdaudio/toc.h"

namespace plimra::cdaudio {

namespace {

// Paranoia's callback carries no context; each reading thread counts its
// own skips.
thread_local int skippedInRead = 0;

void countSkips(long /*where*/, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_SKIP) ++skippedInRead;
}

}  // namespace

std::unique_ptr<ParanoiaReader> ParanoiaReader::open(CdIo_t* cdio) {
  if (!cdio) return nullptr;
  char* messages = nullptr;
  cdrom_drive_t* drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_LOGIT, &messages);
  if (messages) cdio_cddap_free_messages(messages);
  if (!drive) return nullptr;
  cdio_cddap_verbose_set(drive, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
  if (cdio_cddap_open(drive) != 0) {
    cdio_cddap_close_no_free_cdio(drive);
    return nullptr;
  }
  cdrom_paranoia_t* paranoia = cdio_paranoia_init(drive);
  if (!paranoia) {
    cdio_cddap_close_no_free_cdio(drive);
    return nullptr;
  }
  // Full checking, but a sector that will not verify is given up after the
  // bounded retries rather than read for ever.
  cdio_paranoia_modeset(paranoia, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
  cdio_paranoia_cachemodel_size(paranoia, kCacheSectors);
  return std::unique_ptr<ParanoiaReader>(new ParanoiaReader(cdio, drive, paranoia));
}

ParanoiaReader::~ParanoiaReader() {
  cdio_paranoia_free(paranoia_);
  cdio_cddap_close_no_free_cdio(drive_);
}

int ParanoiaReader::read(int32_t sector, int count, uint8_t* out, const std::atomic<bool>* stop,
                         const std::atomic<bool>* hurry) {
  if (count <= 0) return 0;
  std::memset(out, 0, static_cast<size_t>(count) * kBytesPerSector);
  int good = 0;
  for (int i = 0; i < count; ++i) {
    if (stop && stop->load(std::memory_order_relaxed)) break;
    uint8_t* p = out + static_cast<size_t>(i) * kBytesPerSector;
    if (hurry && hurry->load(std::memory_order_relaxed)) {
      // Paranoia's place is lost: it seeks again when it reads next.
      next_ = -1;
      if (cdio_read_audio_sectors(cdio_, p, sector + i, 1) == DRIVER_OP_SUCCESS)
        ++good;
      else
        std::memset(p, 0, kBytesPerSector);
      continue;
    }
    if (sector + i != next_) {
      if (cdio_paranoia_seek(paranoia_, sector + i, SEEK_SET) == -1) {
        next_ = -1;
        if (i == 0) return -1;
        break;
      }
      next_ = sector + i;
    }
    skippedInRead = 0;
    const int16_t* samples = cdio_paranoia_read_limited(paranoia_, countSkips, kMaxRetries);
    if (!samples) {
      // The medium is gone or the drive closed: nothing more to read, and
      // the next read seeks afresh.
      next_ = -1;
      break;
    }
    ++next_;
    // Paranoia hands samples in the host's order; the ring wants them
    // little-endian like every other read.
    for (int k = 0; k < kBytesPerSector / 2; ++k) {
      const auto v = static_cast<uint16_t>(samples[k]);
      p[2 * k] = static_cast<uint8_t>(v & 0xFF);
      p[2 * k + 1] = static_cast<uint8_t>(v >> 8);
    }
    if (skippedInRead == 0) ++good;
  }
  return good;
}

}  // namespace plimra::cdaudio

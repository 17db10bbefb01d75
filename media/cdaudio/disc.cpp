#include "media/cdaudio/disc.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/memory.h>
#include <cdio/mmc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <mutex>

namespace plimra::cd {

namespace {

// libcdio reports everything it finds odd on stderr; a missing disc is
// normal for us, so keep only its errors.
void quietLog(cdio_log_level_t level, const char* message) {
  if (level >= CDIO_LOG_ERROR) fprintf(stderr, "libcdio: %s\n", message);
}

void installLogHandler() {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler(quietLog); });
}

bool endsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<Toc> readToc(CdIo_t* cdio) {
  track_t first = cdio_get_first_track_num(cdio);
  track_t n = cdio_get_num_tracks(cdio);
  if (first == CDIO_INVALID_TRACK || n == CDIO_INVALID_TRACK || n == 0) return std::nullopt;
  Toc toc;
  for (int i = 0; i < n; ++i) {
    track_t t = static_cast<track_t>(first + i);
    lsn_t start = cdio_get_track_lsn(cdio, t);
    if (start == CDIO_INVALID_LSN) return std::nullopt;
    toc.tracks.push_back({t, start, cdio_get_track_format(cdio, t) == TRACK_FORMAT_AUDIO});
  }
  lsn_t leadout = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (leadout == CDIO_INVALID_LSN) return std::nullopt;
  toc.leadout = leadout;
  return Toc::validated(std::move(toc));
}

std::vector<std::string> cueDataFiles(const std::string& cuePath) {
  std::vector<std::string> files;
  std::ifstream in(cuePath);
  std::string folder;
  if (auto slash = cuePath.rfind('/'); slash != std::string::npos)
    folder = cuePath.substr(0, slash + 1);
  std::string line;
  // Cue sheets are small; anything huge is not one.
  for (int lines = 0; lines < 10000 && std::getline(in, line); ++lines) {
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line.size() - p < 5) continue;
    std::string key = line.substr(p, 5);
    std::transform(key.begin(), key.end(), key.begin(), ::toupper);
    if (key != "FILE " && key != "FILE\t") continue;
    p = line.find_first_not_of(" \t", p + 5);
    if (p == std::string::npos) continue;
    std::string name;
    if (line[p] == '"') {
      size_t q = line.find('"', p + 1);
      if (q == std::string::npos) continue;
      name = line.substr(p + 1, q - p - 1);
    } else {
      size_t q = line.find_first_of(" \t", p);
      name = line.substr(p, q == std::string::npos ? std::string::npos : q - p);
    }
    if (name.empty()) continue;
    files.push_back(name.front() == '/' ? name : folder + name);
  }
  return files;
}

DiscAccess::DiscAccess(std::string source) : source_(std::move(source)) {
  installLogHandler();
  image_ = !source_.empty() && (endsWithNoCase(source_, ".cue") || isRegularFile(source_));
}

DiscAccess::~DiscAccess() { releaseHandle(); }

void DiscAccess::releaseHandle() {
  if (cdio_) cdio_destroy(cdio_);
  cdio_ = nullptr;
}

void DiscAccess::setAbsent(Presence p, std::string why) {
  presence_ = p;
  toc_.reset();
  problem_ = std::move(why);
}

std::vector<DiscAccess::FileId> DiscAccess::imageIdentity() const {
  std::vector<FileId> ids;
  std::vector<std::string> paths{source_};
  if (endsWithNoCase(source_, ".cue")) {
    auto data = cueDataFiles(source_);
    paths.insert(paths.end(), data.begin(), data.end());
  }
  for (const auto& path : paths) {
    struct stat st {};
    FileId id{path};
    if (stat(path.c_str(), &st) == 0) {
      id.dev = st.st_dev;
      id.ino = st.st_ino;
      id.size = static_cast<uint64_t>(st.st_size);
      id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    ids.push_back(id);
  }
  return ids;
}

bool DiscAccess::loadImage() {
  releaseHandle();
  if (!isRegularFile(source_)) {
    setAbsent(Presence::NoDisc, "disc image not found: " + source_);
    return true;
  }
  cdio_ = endsWithNoCase(source_, ".cue") ? cdio_open(source_.c_str(), DRIVER_BINCUE)
                                          : cdio_open(source_.c_str(), DRIVER_UNKNOWN);
  std::optional<Toc> toc = cdio_ ? readToc(cdio_) : std::nullopt;
  if (!toc) {
    releaseHandle();
    setAbsent(Presence::NoDisc, "cannot read the disc image: " + source_);
    return true;
  }
  presence_ = Presence::Ready;
  toc_ = std::make_shared<const Toc>(std::move(*toc));
  problem_.clear();
  return true;
}

bool DiscAccess::refresh() {
  const Presence before = presence_;
  const auto beforeToc = toc_;
  if (image_) {
    auto id = imageIdentity();
    if (ejected_) {
      if (id == ejectedId_ || !isRegularFile(source_)) {
        if (id != ejectedId_) ejectedId_.clear();  // a later file counts as new
        return before != presence_;
      }
      ejected_ = false;
    }
    if (id != loadedId_ || presence_ != Presence::Ready) {
      loadedId_ = id;
      loadImage();
    }
  } else {
    refreshDrive();
  }
  bool same =
      before == presence_ && (beforeToc == toc_ || (beforeToc && toc_ && *beforeToc == *toc_));
  return !same;
}

bool DiscAccess::refreshDrive() {
  if (!cdio_) {
    std::string path = source_;
    if (path.empty()) {
      char* dflt = cdio_get_default_device(nullptr);
      if (dflt) {
        path = dflt;
        cdio_free(dflt);
      }
    }
    if (path.empty()) {
      setAbsent(Presence::NoDrive, "no CD drive found");
      return true;
    }
    cdio_ = cdio_open(path.c_str(), DRIVER_DEVICE);
    if (!cdio_) {
      setAbsent(Presence::NoDrive, "cannot open the CD drive " + path);
      return true;
    }
    drivePath_ = path;
    toc_.reset();
  }
  // Without a table, ask again each time: a failing read on an empty drive
  // is quick. With one, only a reported media change makes us read again.
  if (toc_ && cdio_get_media_changed(cdio_) == 0) return false;
  std::optional<Toc> toc = readToc(cdio_);
  if (!toc) {
    if (ejected_ || mmc_get_tray_status(cdio_) == 1)
      setAbsent(Presence::DoorOpen, "ejected");
    else
      setAbsent(Presence::NoDisc, "no audio disc in " + drivePath_);
    return true;
  }
  ejected_ = false;
  presence_ = Presence::Ready;
  toc_ = std::make_shared<const Toc>(std::move(*toc));
  problem_.clear();
  return true;
}

int DiscAccess::readAudio(int32_t sector, int count, uint8_t* out) {
  if (!cdio_ || count <= 0) {
    if (count > 0) memset(out, 0, static_cast<size_t>(count) * kBytesPerSector);
    return 0;
  }
  // An image read past its end can succeed short; what is not read stays silent.
  memset(out, 0, static_cast<size_t>(count) * kBytesPerSector);
  if (cdio_read_audio_sectors(cdio_, out, sector, static_cast<uint32_t>(count)) ==
      DRIVER_OP_SUCCESS)
    return count;
  // One bad sector should not silence the whole block: retry one by one.
  int good = 0;
  for (int i = 0; i < count; ++i) {
    uint8_t* p = out + static_cast<size_t>(i) * kBytesPerSector;
    if (cdio_read_audio_sectors(cdio_, p, sector + i, 1) == DRIVER_OP_SUCCESS)
      ++good;
    else
      memset(p, 0, kBytesPerSector);
  }
  return good;
}

bool DiscAccess::eject() {
  if (image_) {
    releaseHandle();
    ejected_ = true;
    ejectedId_ = imageIdentity();
    loadedId_.clear();
    setAbsent(Presence::DoorOpen, "ejected");
    return true;
  }
  std::string path = drivePath_.empty() ? source_ : drivePath_;
  releaseHandle();
  bool ok = !path.empty() && cdio_eject_media_drive(path.c_str()) == DRIVER_OP_SUCCESS;
  ejected_ = true;
  setAbsent(Presence::DoorOpen, "ejected");
  return ok;
}

bool DiscAccess::closeDoor() {
  if (image_) {
    ejected_ = false;
    ejectedId_.clear();
    refresh();
    return true;
  }
  std::string path = drivePath_.empty() ? source_ : drivePath_;
  bool ok = !path.empty() && cdio_close_tray(path.c_str(), nullptr) == DRIVER_OP_SUCCESS;
  ejected_ = false;
  refresh();
  return ok;
}

}  // namespace plimra::cd

#include "media/cdaudio/disc.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/memory.h>
#include <cdio/mmc.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sstream>

#include "media/cdaudio/paranoia_reader.h"
#include "media/mci/text.h"

namespace plimra::cdaudio {

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

std::optional<std::string> readCueSheet(const std::string& cuePath, std::string& why) {
  // Opened without blocking, so a FIFO in its place cannot hold the caller;
  // the checks look at what was opened, not at the name.
  const int fd = ::open(cuePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = "disc image not found: " + cuePath;
    return std::nullopt;
  }
  struct stat st {};
  std::optional<std::string> text;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "disc image is not a regular file: " + cuePath;
  } else if (static_cast<uint64_t>(st.st_size) > kMaxCueSheetBytes) {
    why = "cue sheet too large (" + std::to_string(st.st_size) + " bytes): " + cuePath;
  } else {
    std::string buf(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    // The file may have grown since fstat: read no more than the cap.
    while (got < buf.size()) {
      const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    buf.resize(got);
    text = std::move(buf);
  }
  ::close(fd);
  return text;
}

std::vector<std::string> cueDataFiles(const std::string& cuePath, const std::string& text) {
  std::vector<std::string> files;
  std::istringstream in(text);
  std::string folder;
  if (auto slash = cuePath.rfind('/'); slash != std::string::npos)
    folder = cuePath.substr(0, slash + 1);
  std::string line;
  while (std::getline(in, line)) {
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line.size() - p < 5) continue;
    const std::string key = mci::lowerCase(line.substr(p, 5));
    if (key != "file " && key != "file\t") continue;
    p = line.find_first_not_of(" \t", p + 5);
    if (p == std::string::npos) continue;
    std::string name;
    if (line[p] == '"') {
      size_t q = line.find('"', p + 1);
      if (q == std::string::npos) continue;
      name = line.substr(p + 1, q - p - 1);
    } else {
      size_t q = line.find_first_of(" \t\r", p);
      name = line.substr(p, q == std::string::npos ? std::string::npos : q - p);
    }
    if (name.empty()) continue;
    files.push_back(name.front() == '/' ? name : folder + name);
  }
  return files;
}

DiscAccess::DiscAccess(std::string source) : source_(std::move(source)) {
  installLogHandler();
  image_ = !source_.empty() && (mci::endsWithNoCase(source_, ".cue") || isRegularFile(source_));
}

DiscAccess::~DiscAccess() { releaseHandle(); }

void DiscAccess::releaseHandle() {
  paranoia_.reset();  // before the handle it reads through
  paranoiaTried_ = false;
  if (cdio_) cdio_destroy(cdio_);
  cdio_ = nullptr;
}

void DiscAccess::setAbsent(Presence p, std::string why) {
  presence_ = p;
  toc_.reset();
  problem_ = std::move(why);
}

DiscAccess::FileId DiscAccess::fileId(const std::string& path) {
  FileId id{path};
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = static_cast<uint64_t>(st.st_size);
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    id.regular = S_ISREG(st.st_mode);
  }
  return id;
}

std::vector<DiscAccess::FileId> DiscAccess::imageIdentity() {
  std::vector<FileId> ids{fileId(source_)};
  if (mci::endsWithNoCase(source_, ".cue")) {
    // Looked at twice a second: the sheet's own identity says whether its
    // FILE entries can have changed.
    if (ids.front() != sheetId_) {
      sheetId_ = ids.front();
      sheetFiles_.clear();
      std::string why;
      if (sheetId_.regular)
        if (auto text = readCueSheet(source_, why)) sheetFiles_ = cueDataFiles(source_, *text);
    }
    for (const auto& path : sheetFiles_) ids.push_back(fileId(path));
  }
  return ids;
}

bool DiscAccess::loadImage() {
  releaseHandle();
  const bool cue = mci::endsWithNoCase(source_, ".cue");
  std::string why;
  if (cue) {
    auto text = readCueSheet(source_, why);
    if (!text) {
      setAbsent(Presence::NoDisc, why);
      return true;
    }
    // libcdio opens the data files as it reads the sheet: one that is not a
    // regular file would block it.
    for (const auto& path : cueDataFiles(source_, *text)) {
      if (FileId id = fileId(path); id.ino != 0 && !id.regular) {
        setAbsent(Presence::NoDisc, "disc image data is not a regular file: " + path);
        return true;
      }
    }
  } else if (!isRegularFile(source_)) {
    setAbsent(Presence::NoDisc, "disc image not found: " + source_);
    return true;
  }
  cdio_ =
      cue ? cdio_open(source_.c_str(), DRIVER_BINCUE) : cdio_open(source_.c_str(), DRIVER_UNKNOWN);
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
  // Paranoia keeps the table it was made with: a new disc needs a new one.
  paranoia_.reset();
  paranoiaTried_ = false;
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

int DiscAccess::readAudio(int32_t sector, int count, uint8_t* out, const std::atomic<bool>* stop,
                          const std::atomic<bool>* hurry) {
  if (count <= 0) return 0;
  memset(out, 0, static_cast<size_t>(count) * kBytesPerSector);
  if (!cdio_) return 0;
  if (!image_ && !paranoiaTried_) {
    // A drive reads through paranoia when it can; plain reads otherwise.
    paranoiaTried_ = true;
    paranoia_ = ParanoiaReader::open(cdio_);
  }
  if (paranoia_) {
    const int good = paranoia_->read(sector, count, out, stop, hurry);
    if (good >= 0) return good;
  }
  if (stop && stop->load(std::memory_order_relaxed)) return 0;
  // An image read past its end can succeed short; what is not read stays silent.
  if (cdio_read_audio_sectors(cdio_, out, sector, static_cast<uint32_t>(count)) ==
      DRIVER_OP_SUCCESS)
    return count;
  // One bad sector should not silence the whole block: retry one by one,
  // unless the play this is for has ended meanwhile.
  int good = 0;
  for (int i = 0; i < count; ++i) {
    if (stop && stop->load(std::memory_order_relaxed)) break;
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

}  // namespace plimra::cdaudio

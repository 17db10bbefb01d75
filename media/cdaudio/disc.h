// Access to one disc source through libcdio: a CD drive (the system's
// default one when no source is named) or a disc image (.cue). Everything
// here may block on the drive, so only the drive's worker thread and the
// device's open call use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/cdaudio/toc.h"

typedef struct _CdIo CdIo_t;

namespace plimra::cd {

enum class Presence {
  NoDrive,   // nothing to read from (not ready)
  NoDisc,    // drive without a usable disc, or image missing or unreadable
  DoorOpen,  // ejected
  Ready,
};

class DiscAccess {
 public:
  // `source`: a device path, a .cue file, or empty for the default drive.
  explicit DiscAccess(std::string source);
  ~DiscAccess();
  DiscAccess(const DiscAccess&) = delete;
  DiscAccess& operator=(const DiscAccess&) = delete;

  // Notices a disc change (image replaced or removed, new disc in the
  // drive) and reads the table afresh. Returns true when presence or table
  // changed.
  bool refresh();

  Presence presence() const { return presence_; }
  // Valid while presence() is Ready.
  std::shared_ptr<const Toc> toc() const { return toc_; }
  // Why the disc is not ready, for people (empty when it is).
  const std::string& problem() const { return problem_; }
  bool isImage() const { return image_; }

  // Reads `count` audio sectors starting at `sector` into `out`
  // (count * 2352 bytes, S16 little-endian stereo). Unreadable sectors are
  // zeroed; returns how many were read successfully.
  int readAudio(int32_t sector, int count, uint8_t* out);

  // Door. For an image, eject makes the disc absent until the image file
  // changes or the door is closed again.
  bool eject();
  bool closeDoor();

 private:
  struct FileId {
    std::string path;
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileId&) const = default;
  };
  std::vector<FileId> imageIdentity() const;
  void releaseHandle();
  bool loadImage();
  bool refreshDrive();
  void setAbsent(Presence p, std::string why);

  std::string source_;
  bool image_ = false;
  CdIo_t* cdio_ = nullptr;
  std::string drivePath_;  // the drive actually opened
  Presence presence_ = Presence::NoDrive;
  std::shared_ptr<const Toc> toc_;
  std::string problem_;
  std::vector<FileId> loadedId_;
  bool ejected_ = false;
  std::vector<FileId> ejectedId_;
};

// Reads the table of an opened libcdio source; empty when unusable.
std::optional<Toc> readToc(CdIo_t* cdio);

// The FILE entries of a cue sheet, resolved against the sheet's folder.
std::vector<std::string> cueDataFiles(const std::string& cuePath);

}  // namespace plimra::cd

// Access to one disc source through libcdio: a CD drive (the system's
// default one when no source is named) or a disc image (.cue). Everything
// here may block on the drive, so only the drive's worker thread and the
// device's open call use it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/cdaudio/toc.h"

typedef struct _CdIo CdIo_t;

namespace plimra::cdaudio {

class ParanoiaReader;

// A cue sheet larger than this is not one: a real sheet of 99 tracks with
// titles is a few KiB.
constexpr uint64_t kMaxCueSheetBytes = 256 * 1024;

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

  // Reads `count` audio sectors starting at `sector` into `out`
  // (count * 2352 bytes, S16 little-endian stereo): verified reads on a
  // drive, plain ones from an image. Unreadable sectors are zeroed, and so
  // is what is left once `stop` is set (it is looked at between sectors).
  // While `hurry` is set, a drive too is read plainly: the music has run
  // dry and cannot wait for re-reads. Returns how many were read
  // successfully.
  int readAudio(int32_t sector, int count, uint8_t* out, const std::atomic<bool>* stop = nullptr,
                const std::atomic<bool>* hurry = nullptr);

  // Door. For an image, eject makes the disc absent until the image file
  // changes or the door is closed again.
  bool eject();
  bool closeDoor();

 private:
  struct FileId {
    std::string path;
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0, ctimeNs = 0;
    bool regular = false;
    bool operator==(const FileId&) const = default;
  };
  static FileId fileId(const std::string& path);
  // The sheet and its data files, by identity and time. The sheet is read
  // again only when its own identity changes.
  std::vector<FileId> imageIdentity();
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
  FileId sheetId_;                            // the sheet as last read
  std::vector<std::string> sheetFiles_;       // its FILE entries then
  std::unique_ptr<ParanoiaReader> paranoia_;  // a drive's reader, made on first read
  bool paranoiaTried_ = false;
};

// Reads the table of an opened libcdio source; empty when unusable.
std::optional<Toc> readToc(CdIo_t* cdio);

// The text of a cue sheet. Empty, with `why` set, when the path is not a
// regular file (a FIFO or a device would block the reader) or is larger
// than any real sheet.
std::optional<std::string> readCueSheet(const std::string& cuePath, std::string& why);

// The FILE entries of a cue sheet's text, resolved against the folder of
// `cuePath`.
std::vector<std::string> cueDataFiles(const std::string& cuePath, const std::string& text);

}  // namespace plimra::cdaudio

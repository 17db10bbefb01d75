// One CD drive or disc image as the program sees it: the cached table of
// contents, the playback head, and the digital playback that reads sectors
// ahead on a worker thread and hands them to the audio output.
//
// Every device opened on the same source shares one Drive, so a command
// string and the transport control see the same disc and the same head.
// Nothing here called from the GUI thread waits for the disc, except
// refreshNow(), which the device's open uses.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/audio/audio_output.h"
#include "media/cdaudio/disc.h"
#include "media/mci/background.h"
#include "media/mci/device.h"

namespace plimra::cdaudio {

enum class PlayState { Stopped, Playing, Paused };

struct DriveStatus {
  Presence presence = Presence::NoDrive;
  std::shared_ptr<const Toc> toc;  // set while presence is Ready
  PlayState state = PlayState::Stopped;
  int32_t head = 0;  // sector of the playback head
  std::string problem;
};

class Drive : public audio::AudioSource {
 public:
  // The drive for `source` (a device path or a .cue file; empty: the
  // system's default drive), shared while anyone holds it.
  static std::shared_ptr<Drive> acquire(const std::string& source);
  // The source named by PLIMRA_CDROM, or empty.
  static std::string configuredSource();

  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;

  // Looks for a disc change now; may block on the drive.
  void refreshNow();
  // The cached state; never touches the disc.
  DriveStatus status() const;

  // Plays sectors [from, to), skipping data tracks. `notify` receives
  // Successful at the end, Aborted when cut short, Failure when the disc
  // goes away.
  uint32_t play(int32_t from, int32_t to, mci::NotifyFn notify);
  uint32_t stop();
  uint32_t pause();
  uint32_t resume();
  // A play without a range while paused: goes on from the exact sample where
  // it paused, with `notify` taking over from the paused play's.
  uint32_t resumeAsPlay(mci::NotifyFn notify);
  uint32_t seek(int32_t sector);
  uint32_t setDoor(bool open);

  // Tests pull samples through render() themselves instead of letting the
  // audio output do it in real time.
  void setOutputAttached(bool attached);
  void render(float* out, int frames) override;
  // Sectors of the current play buffered and not yet rendered. Call it
  // from the thread that renders.
  int readySectors() const;

 private:
  // What closing the last device waits for the reader at most: a damaged
  // disc can keep one read busy for many seconds.
  static constexpr std::chrono::milliseconds kCloseWait{400};
  static constexpr int kRingSectors = 150;  // two seconds
  static constexpr int kFirstChunk = 6;     // start sounding quickly
  static constexpr int kChunk = 25;

  explicit Drive(std::string source);
  ~Drive() override;
  // Ends the drive when its last holder lets go: stops playback at once,
  // then gives the reader a short while to finish. A reader still stuck on
  // the disc after that is left to the program's end (mci/background.h);
  // it frees the drive when the read returns.
  static void retire(Drive* drive);

  // The reader thread: moves the tray, looks for disc changes, reads ahead
  // and tells the end of a play.
  void workerLoop();
  static std::chrono::steady_clock::time_point nextCheckTime();
  void moveDoor(std::unique_lock<std::mutex>& lock);
  // Reads the next chunk of the current play when the ring has room;
  // false when there was nothing to read.
  bool readAhead(std::unique_lock<std::mutex>& lock, std::vector<uint8_t>& buffer);
  // Puts `n` sectors read from `from` into the ring; returns the new write count.
  uint64_t storeSectors(const uint8_t* data, int32_t from, int n, uint32_t gen);
  // Ends the play once its last sector has been rendered.
  bool endIfPlayedOut(std::unique_lock<std::mutex>& lock);
  void checkDisc();
  // Pause and resume: `from` becomes `to`; any other state stays.
  uint32_t switchState(PlayState from, PlayState to);
  // Ends playback with the lock held; returns the notification to deliver.
  mci::NotifyFn endPlaybackLocked();
  void setHeadLocked(int32_t sector);
  int32_t headSector() const;

  const std::string source_;

  std::mutex ioMutex_;  // libcdio calls
  DiscAccess access_;

  mutable std::mutex mutex_;  // everything below that is not atomic
  std::condition_variable cv_;
  bool quit_ = false;
  bool workerDone_ = false;
  bool orphaned_ = false;  // retired while the reader was stuck: it frees the drive
  std::optional<bool> doorRequest_;
  Presence presence_ = Presence::NoDrive;
  std::shared_ptr<const Toc> toc_;
  std::string problem_;
  bool checked_ = false;  // the disc was looked at once
  uint32_t gen_ = 1;
  bool reading_ = false;
  int32_t readFrom_ = 0, readTo_ = 0;
  bool firstChunk_ = false;
  uint64_t finalSeq_ = 0;
  mci::NotifyFn pending_;
  bool attached_ = true;
  bool inOutput_ = false;

  // Shared with the audio thread.
  std::atomic<uint32_t> curGen_{1};
  // Set when the play being read for ends: the reader gives up between sectors.
  std::atomic<bool> cancelRead_{false};
  // Set by the audio thread when a play that has sounded finds the ring
  // empty: the reader skips re-reads until the ring has filled again.
  std::atomic<bool> starved_{false};
  uint32_t soundedGen_ = 0;  // audio thread only: the play that has sounded
  std::atomic<int> state_{static_cast<int>(PlayState::Stopped)};
  std::atomic<uint64_t> head_{0};  // generation << 32 | sector
  std::atomic<uint64_t> writeSeq_{0};
  std::atomic<uint64_t> readSeq_{0};
  int readOffset_ = 0;  // audio thread only
  std::vector<int16_t> samples_;
  std::vector<uint32_t> slotGen_;
  std::vector<int32_t> slotSector_;

  // Last: everything above exists before the reader starts.
  mci::BackgroundThread worker_;
};

}  // namespace plimra::cdaudio

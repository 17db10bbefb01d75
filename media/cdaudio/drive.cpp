#include "media/cdaudio/drive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

namespace plimra::cdaudio {

namespace {

// How often the worker looks for a disc change.
constexpr std::chrono::milliseconds kCheckInterval{500};

uint64_t packHead(uint32_t gen, int32_t sector) {
  return static_cast<uint64_t>(gen) << 32 | static_cast<uint32_t>(sector);
}

}  // namespace

std::shared_ptr<Drive> Drive::acquire(const std::string& source) {
  static std::mutex registryMutex;
  static std::map<std::string, std::weak_ptr<Drive>> registry;
  std::lock_guard lock(registryMutex);
  if (auto drive = registry[source].lock()) return drive;
  std::shared_ptr<Drive> drive(new Drive(source), &Drive::retire);
  registry[source] = drive;
  return drive;
}

std::string Drive::configuredSource() {
  const char* env = std::getenv("PLIMRA_CDROM");
  return env ? env : "";
}

Drive::Drive(std::string source)
    : source_(std::move(source)),
      access_(source_),
      samples_(static_cast<size_t>(kRingSectors) * kFramesPerSector * 2),
      slotGen_(kRingSectors, 0),
      slotSector_(kRingSectors, 0),
      worker_("reading the disc", [this] {
        workerLoop();
        bool orphaned;
        {
          std::lock_guard lock(mutex_);
          workerDone_ = true;
          orphaned = orphaned_;
        }
        cv_.notify_all();
        if (orphaned) delete this;  // nobody else holds the drive any more
      }) {}

// Joins the reader (worker_), which has ended or is about to.
Drive::~Drive() = default;

void Drive::retire(Drive* drive) {
  mci::NotifyFn aborted;
  bool remove;
  {
    std::lock_guard lock(drive->mutex_);
    drive->quit_ = true;
    aborted = drive->endPlaybackLocked();
    remove = std::exchange(drive->inOutput_, false);
  }
  drive->cv_.notify_all();
  if (remove) audio::AudioOutput::instance().removeSource(drive);
  if (aborted) aborted(mci::NotifyAborted);
  std::optional<mci::BackgroundThread> stuck;
  {
    std::unique_lock lock(drive->mutex_);
    if (!drive->cv_.wait_for(lock, kCloseWait, [drive] { return drive->workerDone_; })) {
      // Taken out of the drive before the reader can see it is on its own
      // and delete the drive with it.
      stuck.emplace(std::move(drive->worker_));
      drive->orphaned_ = true;
    }
  }
  // Outside the drive's lock: the reader needs it to finish, and the
  // program's end may wait for the reader right here.
  if (stuck) {
    stuck->leave();
    return;
  }
  delete drive;
}

void Drive::refreshNow() { checkDisc(); }

void Drive::checkDisc() {
  Presence presence;
  std::shared_ptr<const Toc> toc;
  std::string problem;
  bool changed;
  {
    std::lock_guard io(ioMutex_);
    changed = access_.refresh();
    presence = access_.presence();
    toc = access_.toc();
    problem = access_.problem();
  }
  mci::NotifyFn failed;
  bool tell = false;
  {
    std::lock_guard lock(mutex_);
    if (!changed && presence == presence_ && checked_) return;
    checked_ = true;
    // A different disc: whatever played from the old one is over.
    failed = endPlaybackLocked();
    presence_ = presence;
    toc_ = toc;
    tell = !problem.empty() && problem != problem_;
    problem_ = problem;
    const Track* first = toc ? toc->firstAudio() : nullptr;
    setHeadLocked(first ? first->start : (toc ? toc->tracks.front().start : 0));
  }
  // The device answers only "not ready"; say once, for people, why.
  if (tell) std::fprintf(stderr, "plimra: %s\n", problem.c_str());
  if (failed) failed(mci::NotifyFailure);
}

DriveStatus Drive::status() const {
  std::lock_guard lock(mutex_);
  DriveStatus s;
  s.presence = presence_;
  s.toc = toc_;
  s.state = static_cast<PlayState>(state_.load());
  s.head = headSector();
  s.problem = problem_;
  return s;
}

int32_t Drive::headSector() const { return static_cast<int32_t>(head_.load() & 0xFFFFFFFFu); }

void Drive::setHeadLocked(int32_t sector) { head_.store(packHead(gen_, sector)); }

mci::NotifyFn Drive::endPlaybackLocked() {
  // A new generation makes the audio thread drop what is buffered and stop
  // moving the head.
  ++gen_;
  curGen_.store(gen_, std::memory_order_release);
  cancelRead_.store(true, std::memory_order_relaxed);
  starved_.store(false, std::memory_order_relaxed);
  head_.store(packHead(gen_, headSector()));
  state_.store(static_cast<int>(PlayState::Stopped));
  reading_ = false;
  return std::exchange(pending_, nullptr);
}

uint32_t Drive::play(int32_t from, int32_t to, mci::NotifyFn notify) {
  mci::NotifyFn aborted;
  bool attach = false, restart = false;
  {
    std::lock_guard lock(mutex_);
    if (presence_ != Presence::Ready || !toc_) return mci::err::DeviceNotReady;
    to = std::min(to, toc_->leadout);
    int32_t start = toc_->nextAudioSector(std::max(from, 0), to);
    if (start >= to) return mci::err::OutOfRange;  // nothing audible in the range
    aborted = endPlaybackLocked();
    reading_ = true;
    readFrom_ = start;
    readTo_ = to;
    firstChunk_ = true;
    finalSeq_ = UINT64_MAX;
    pending_ = std::move(notify);
    setHeadLocked(start);
    state_.store(static_cast<int>(PlayState::Playing));
    attach = attached_ && !inOutput_;
    restart = attached_ && inOutput_;
    if (attach) inOutput_ = true;
  }
  cv_.notify_all();
  if (aborted) aborted(mci::NotifyAborted);
  if (attach)
    audio::AudioOutput::instance().addSource(this);
  else if (restart)
    audio::AudioOutput::instance().start();  // in case someone stopped it
  return mci::err::None;
}

uint32_t Drive::stop() {
  mci::NotifyFn aborted;
  {
    std::lock_guard lock(mutex_);
    if (presence_ != Presence::Ready) return mci::err::DeviceNotReady;
    aborted = endPlaybackLocked();
  }
  if (aborted) aborted(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t Drive::pause() { return switchState(PlayState::Playing, PlayState::Paused); }

uint32_t Drive::resume() { return switchState(PlayState::Paused, PlayState::Playing); }

uint32_t Drive::switchState(PlayState from, PlayState to) {
  std::lock_guard lock(mutex_);
  if (presence_ != Presence::Ready) return mci::err::DeviceNotReady;
  if (state_.load() == static_cast<int>(from)) state_.store(static_cast<int>(to));
  return mci::err::None;
}

uint32_t Drive::resumeAsPlay(mci::NotifyFn notify) {
  mci::NotifyFn old;
  {
    std::lock_guard lock(mutex_);
    if (presence_ != Presence::Ready) return mci::err::DeviceNotReady;
    if (state_.load() != static_cast<int>(PlayState::Paused))
      return mci::err::NonapplicableFunction;
    old = std::exchange(pending_, std::move(notify));
    state_.store(static_cast<int>(PlayState::Playing));
  }
  if (old) old(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t Drive::seek(int32_t sector) {
  mci::NotifyFn aborted;
  {
    std::lock_guard lock(mutex_);
    if (presence_ != Presence::Ready || !toc_) return mci::err::DeviceNotReady;
    if (sector < 0 || sector > toc_->leadout) return mci::err::OutOfRange;
    aborted = endPlaybackLocked();
    setHeadLocked(sector);
  }
  if (aborted) aborted(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t Drive::setDoor(bool open) {
  mci::NotifyFn aborted;
  {
    std::lock_guard lock(mutex_);
    if (presence_ == Presence::NoDrive) return mci::err::DeviceNotReady;
    // The drive may take seconds to move its tray: the worker does it.
    doorRequest_ = open;
    if (open) {
      aborted = endPlaybackLocked();
      presence_ = Presence::DoorOpen;
      toc_.reset();
    }
  }
  cv_.notify_all();
  if (aborted) aborted(mci::NotifyAborted);
  return mci::err::None;
}

void Drive::setOutputAttached(bool attached) {
  bool remove = false;
  {
    std::lock_guard lock(mutex_);
    attached_ = attached;
    if (!attached && inOutput_) {
      inOutput_ = false;
      remove = true;
    }
  }
  if (remove) audio::AudioOutput::instance().removeSource(this);
}

void Drive::render(float* out, int frames) {
  constexpr float kScale = 1.0f / 32768.0f;  // exact: CD samples survive the mix
  const uint32_t gen = curGen_.load(std::memory_order_acquire);
  const bool playing =
      state_.load(std::memory_order_acquire) == static_cast<int>(PlayState::Playing);
  uint64_t r = readSeq_.load(std::memory_order_relaxed);
  const uint64_t w = writeSeq_.load(std::memory_order_acquire);
  int32_t played = -1;
  while (r < w) {
    const size_t slot = r % kRingSectors;
    if (slotGen_[slot] != gen) {  // left over from a stopped play
      ++r;
      readOffset_ = 0;
      continue;
    }
    if (!playing || frames <= 0) break;
    const int n = std::min(frames, kFramesPerSector - readOffset_);
    const int16_t* src =
        &samples_[(slot * kFramesPerSector + static_cast<size_t>(readOffset_)) * 2];
    for (int i = 0; i < n * 2; ++i) out[i] += static_cast<float>(src[i]) * kScale;
    out += n * 2;
    frames -= n;
    readOffset_ += n;
    played = slotSector_[slot];
    if (readOffset_ == kFramesPerSector) {
      ++played;
      ++r;
      readOffset_ = 0;
    }
  }
  readSeq_.store(r, std::memory_order_release);
  if (played >= 0) soundedGen_ = gen;
  // Ran dry in the middle of a play: the reader is behind the music.
  if (playing && frames > 0 && soundedGen_ == gen) starved_.store(true, std::memory_order_relaxed);
  if (played >= 0) {
    // Only while this play is still the current one.
    uint64_t cur = head_.load();
    if (cur >> 32 == gen) head_.compare_exchange_strong(cur, packHead(gen, played));
  }
}

int Drive::readySectors() const {
  const uint32_t gen = curGen_.load(std::memory_order_acquire);
  const uint64_t w = writeSeq_.load(std::memory_order_acquire);
  int n = 0;
  for (uint64_t r = readSeq_.load(); r < w; ++r)
    if (slotGen_[r % kRingSectors] == gen) ++n;
  return n;
}

std::chrono::steady_clock::time_point Drive::nextCheckTime() {
  return std::chrono::steady_clock::now() + kCheckInterval;
}

void Drive::workerLoop() {
  std::vector<uint8_t> buffer(static_cast<size_t>(kChunk) * kBytesPerSector);
  auto nextCheck = nextCheckTime();
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (doorRequest_) {
      moveDoor(lock);
    } else if (std::chrono::steady_clock::now() >= nextCheck) {
      lock.unlock();
      checkDisc();
      lock.lock();
      nextCheck = nextCheckTime();
    } else if (!readAhead(lock, buffer) && !endIfPlayedOut(lock)) {
      if (reading_)
        // Draining the last sectors: look often so the end is told promptly.
        // Otherwise the ring holds two seconds and a refill needs a third of one.
        cv_.wait_for(lock, std::chrono::milliseconds(readFrom_ >= readTo_ ? 10 : 50));
      else
        cv_.wait_until(lock, nextCheck);
    }
  }
}

void Drive::moveDoor(std::unique_lock<std::mutex>& lock) {
  const bool open = *doorRequest_;
  doorRequest_.reset();
  lock.unlock();
  {
    std::lock_guard io(ioMutex_);
    if (open)
      access_.eject();
    else
      access_.closeDoor();
  }
  checkDisc();
  lock.lock();
}

bool Drive::readAhead(std::unique_lock<std::mutex>& lock, std::vector<uint8_t>& buffer) {
  if (!reading_ || readFrom_ >= readTo_) return false;
  const uint64_t used = writeSeq_.load() - readSeq_.load(std::memory_order_acquire);
  const int space = kRingSectors - static_cast<int>(used);
  const int want = firstChunk_ ? kFirstChunk : kChunk;
  if (space < std::min(want, readTo_ - readFrom_)) return false;

  const uint32_t gen = gen_;
  const int32_t from = readFrom_;
  const int32_t runEnd = std::min(readTo_, toc_->audioRunEnd(from));
  const int n = std::max(1, std::min({want, space, runEnd - from}));
  auto toc = toc_;
  cancelRead_.store(false, std::memory_order_relaxed);
  lock.unlock();
  {
    std::lock_guard io(ioMutex_);
    // Bad sectors come back as silence; a stop ends the read early.
    access_.readAudio(from, n, buffer.data(), &cancelRead_, &starved_);
  }
  lock.lock();
  if (gen != gen_ || !reading_) return true;  // stopped or replaced meanwhile

  const uint64_t seq = storeSectors(buffer.data(), from, n, gen);
  // A chunk's worth ahead of the music again: re-reads can be afforded.
  if (seq - readSeq_.load(std::memory_order_acquire) >= static_cast<uint64_t>(kChunk))
    starved_.store(false, std::memory_order_relaxed);
  firstChunk_ = false;
  readFrom_ = toc->nextAudioSector(from + n, readTo_);
  if (readFrom_ >= readTo_) finalSeq_ = seq;
  return true;
}

uint64_t Drive::storeSectors(const uint8_t* data, int32_t from, int n, uint32_t gen) {
  uint64_t seq = writeSeq_.load();
  for (int i = 0; i < n; ++i, ++seq) {
    const size_t slot = seq % kRingSectors;
    const uint8_t* p = data + static_cast<size_t>(i) * kBytesPerSector;
    int16_t* dst = &samples_[slot * kFramesPerSector * 2];
    // Disc samples are little-endian 16-bit.
    for (int k = 0; k < kFramesPerSector * 2; ++k)
      dst[k] = static_cast<int16_t>(p[2 * k] | (p[2 * k + 1] << 8));
    slotGen_[slot] = gen;
    slotSector_[slot] = from + i;
  }
  writeSeq_.store(seq, std::memory_order_release);
  return seq;
}

bool Drive::endIfPlayedOut(std::unique_lock<std::mutex>& lock) {
  if (!reading_ || readFrom_ < readTo_ || readSeq_.load(std::memory_order_acquire) < finalSeq_)
    return false;
  const int32_t end = readTo_;
  mci::NotifyFn done = endPlaybackLocked();
  setHeadLocked(end);
  lock.unlock();
  if (done) done(mci::NotifySuccessful);
  lock.lock();
  return true;
}

}  // namespace plimra::cdaudio

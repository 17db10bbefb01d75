#include "media/mci/midiout.h"

#include <algorithm>
#include <mutex>

#include "media/mci/background.h"
#include "media/mci/dispatch.h"
#include "media/mci/mci.h"

namespace plimra::mci {
namespace {

std::mutex catalogMutex;
std::shared_ptr<MidiOutCatalog> catalog;
std::vector<std::string> snapshot;
std::string mapper = "MIDI Mapper";
// Looks run one after another, each with a snapshot of its own.
std::mutex oneLookAtATime;

}  // namespace

void setMidiOutCatalog(std::shared_ptr<MidiOutCatalog> c) {
  std::lock_guard lock(catalogMutex);
  catalog = std::move(c);
  snapshot.clear();
}

std::shared_ptr<MidiOutCatalog> midiOutCatalog() {
  std::lock_guard lock(catalogMutex);
  return catalog;
}

uint32_t midiOutGetNumDevs() {
  std::shared_ptr<MidiOutCatalog> c = midiOutCatalog();
  std::vector<std::string> names;
  std::string mapperName = "MIDI Mapper";
  if (c) {
    names = c->outputNames();
    mapperName = c->mapperName();
  }
  std::lock_guard lock(catalogMutex);
  snapshot = std::move(names);
  mapper = std::move(mapperName);
  return static_cast<uint32_t>(snapshot.size());
}

uint32_t midiOutGetDevCaps(int32_t deviceId, MidiOutCaps& caps) {
  std::lock_guard lock(catalogMutex);
  if (deviceId == -1) {
    caps.name = mapper;
    return err::None;
  }
  if (deviceId < 0 || static_cast<size_t>(deviceId) >= snapshot.size()) return err::InvalidDeviceId;
  caps.name = snapshot[static_cast<size_t>(deviceId)];
  return err::None;
}

std::shared_ptr<MidiOutListing> MidiOutListing::start() {
  std::shared_ptr<MidiOutListing> self(new MidiOutListing());
  self->catalog_ = midiOutCatalog();
  // Nobody waits for the look: one that never returns must hold up neither
  // the window nor the program's end, which waits for it within a bound.
  runInBackground("the look at the MIDI-OUT ports", [self] {
    std::lock_guard one(oneLookAtATime);
    const uint32_t n = midiOutGetNumDevs();
    // Entries are 16-bit list positions: the mapper and 32766 devices at most.
    const int32_t last = static_cast<int32_t>(std::min<uint32_t>(n, 32766)) - 1;
    // One record for every query: one that fails leaves the previous name.
    MidiOutCaps caps;
    std::vector<std::string> names;
    for (int32_t d = -1; d <= last; ++d) {
      midiOutGetDevCaps(d, caps);
      names.push_back(caps.name);
    }
    self->finish(std::move(names));
  });
  return self;
}

void MidiOutListing::finish(std::vector<std::string> names) {
  std::function<void()> task;
  {
    std::lock_guard lock(mutex_);
    names_ = std::move(names);
    done_ = true;
    task = std::move(task_);
  }
  cv_.notify_all();
  if (task) postToGui(std::move(task));
}

bool MidiOutListing::waitFor(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [this] { return done_; });
}

bool MidiOutListing::done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

std::vector<std::string> MidiOutListing::names() const {
  std::lock_guard lock(mutex_);
  return names_;
}

std::string MidiOutListing::waitingOn() const {
  return catalog_ ? catalog_->waitingOn() : std::string();
}

void MidiOutListing::whenDone(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (!done_) {
      task_ = std::move(task);
      return;
    }
  }
  postToGui(std::move(task));
}

}  // namespace plimra::mci

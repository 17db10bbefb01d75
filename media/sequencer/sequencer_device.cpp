#include "media/sequencer/sequencer_device.h"

#include <algorithm>
#include <map>
#include <utility>

#include "media/mci/device_table.h"
#include "media/sequencer/builtin_synth.h"
#include "media/sequencer/port_output.h"

namespace plimra::seq {

namespace mci = plimra::mci;

const char* const kBuiltinSynthName = "Plimra Built-in Synth";

namespace {

constexpr uint64_t kNsPerMs = 1'000'000;

// Positions past 49 days (hostile files only) show as the largest value.
uint32_t toMs(uint64_t ns) {
  return static_cast<uint32_t>(std::min<uint64_t>(ns / kNsPerMs, UINT32_MAX));
}

std::string noSuchOutput(int32_t port) {
  return "There is no MIDI output " + std::to_string(port) + ".";
}

class SystemOutputs : public OutputProvider {
 public:
  std::vector<std::string> outputNames() override {
    std::vector<std::string> names{kBuiltinSynthName};
    for (auto& n : systemPortNames()) names.push_back(std::move(n));
    return names;
  }

  std::shared_ptr<Output> open(int32_t port, std::string& error) override {
    if (port == -1 || port == 0) return BuiltinSynth::shared();
    return openListed(port, outputNames(), error);
  }

  std::shared_ptr<Output> openListed(int32_t port, const std::vector<std::string>& names,
                                     std::string& error) override {
    if (port == -1 || port == 0) return BuiltinSynth::shared();
    if (port < 0 || static_cast<size_t>(port) >= names.size()) {
      error = noSuchOutput(port);
      return nullptr;
    }
    const std::string& name = names[static_cast<size_t>(port)];
    std::lock_guard lk(mutex_);
    if (auto it = ports_.find(name); it != ports_.end()) {
      if (!it->second->failed()) return it->second;
      ports_.erase(it);  // it failed for good last time: try it afresh
    }
    auto raw = openSystemPort(name, error);
    if (!raw) return nullptr;
    auto out = std::make_shared<PortOutput>(
        std::move(raw), [name](std::string& e) { return openSystemPort(name, e); });
    ports_[name] = out;
    return out;
  }

  void drain(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::lock_guard lk(mutex_);
    for (auto& [name, port] : ports_) port->drain(until);
  }

 private:
  std::mutex mutex_;
  // Ports stay open once used: closing one right after the silence that a
  // close sends would drop messages still queued for the wire (JACK sends
  // them on its next period), and each song would open the port anew.
  std::map<std::string, std::shared_ptr<PortOutput>> ports_;
};

}  // namespace

namespace {
std::shared_ptr<SystemOutputs> theSystemOutputs() {
  static auto provider = std::make_shared<SystemOutputs>();
  return provider;
}
}  // namespace

std::shared_ptr<OutputProvider> systemOutputs() { return theSystemOutputs(); }

void drainSystemPorts(std::chrono::milliseconds limit) { theSystemOutputs()->drain(limit); }

SequencerDevice::SequencerDevice(std::shared_ptr<OutputProvider> outputs)
    : outputs_(std::move(outputs)) {}

SequencerDevice::~SequencerDevice() { close(); }

uint32_t SequencerDevice::open(const std::string& element) {
  {
    std::lock_guard lk(mutex_);
    if (open_) return mci::err::DeviceOpen;
  }
  SongLoad load = loadSong(element);
  if (!load.song) {
    std::lock_guard lk(mutex_);
    error_ = load.error;
    return load.code;
  }
  bool loop = false;
  {
    std::lock_guard lk(mutex_);
    loop = loop_;
  }
  auto loopPlan = loop ? loopOf(load.song) : nullptr;
  std::string error;
  auto out = outputs_->open(-1, error);
  if (!out) {
    std::lock_guard lk(mutex_);
    error_ = error;
    return mci::err::SeqNoMidiPresent;
  }
  {
    std::lock_guard lk(mutex_);
    player_.setSong(load.song);
    Output::NowSink sink(*out);
    player_.setLoop(std::move(loopPlan), out->now(), sink);
    output_ = out;
    port_ = -1;
    open_ = true;
    paused_ = false;
    error_.clear();
    publishLocked();
  }
  out->attach(this);
  return mci::err::None;
}

void SequencerDevice::silenceLocked(Output& out) {
  Output::NowSink sink(out);
  player_.silence(sink, out.now(), out.ports());
}

void SequencerDevice::startLocked(Output& out, uint64_t end) {
  if (player_.song()) out.startsSong(*player_.song());
  Output::NowSink sink(out);
  player_.setOutputPorts(out.ports());
  player_.restore(sink, out.now());
  player_.start(std::nullopt, end);
}

mci::NotifyFn SequencerDevice::haltLocked() {
  // Also after a song has ended: a note without its note-off or a held
  // pedal at the end would otherwise ring on.
  if (output_) silenceLocked(*output_);
  paused_ = false;
  publishLocked();
  return std::exchange(notify_, {});
}

void SequencerDevice::publishLocked() {
  Snapshot s;
  s.open = open_;
  s.paused = paused_;
  s.clock = player_.clock();
  s.length = player_.length();
  s.tracks = player_.song() ? player_.song()->trackCount : 0;
  s.output = output_;
  std::lock_guard lk(statusMutex_);
  snapshot_ = std::move(s);
}

Located SequencerDevice::locate(uint64_t target) const {
  std::shared_ptr<const Song> song;
  {
    std::lock_guard lk(mutex_);
    song = player_.song();
  }
  return locateIn(std::move(song), target);
}

uint32_t SequencerDevice::close() {
  mci::NotifyFn notify;
  std::shared_ptr<Output> out;
  {
    std::lock_guard lk(mutex_);
    notify = haltLocked();
    out = std::move(output_);
    output_.reset();
    open_ = false;
    player_.setSong(nullptr);
    publishLocked();
  }
  if (out) out->detach(this);
  if (notify) notify(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t SequencerDevice::play(const mci::PlayParams& params, mci::NotifyFn notify) {
  mci::NotifyFn old;
  std::shared_ptr<Output> out;
  // A jump walks the song up to its target before taking the lock.
  Located at = params.from ? locate(uint64_t{*params.from} * kNsPerMs) : Located{};
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    const uint64_t length = player_.length();
    const uint64_t from = params.from ? *params.from * kNsPerMs : player_.position(output_->now());
    const uint64_t to = params.to ? *params.to * kNsPerMs : length;
    if (from > length || to > length || (params.to && to < from)) return mci::err::OutOfRange;

    old = std::exchange(notify_, mci::DeviceTable::wrapNotify(std::move(notify)));
    out = output_;
    if (params.from) {
      // A jump: what sounded at the old place must not hang on.
      silenceLocked(*out);
      player_.locate(std::move(at));
    }
    paused_ = false;
    if (player_.running()) {
      // Playing on from where it is: only the end may change.
      player_.setEnd(to);
    } else {
      // Bring the output to the song's state: after a pause the sustain
      // pedal was released, after a jump nothing was set yet.
      startLocked(*out, to);
    }
    publishLocked();
  }
  if (old) old(mci::NotifyAborted);
  out->wake();
  return mci::err::None;
}

uint32_t SequencerDevice::stop() {
  mci::NotifyFn notify;
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    notify = haltLocked();
  }
  if (notify) notify(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t SequencerDevice::pause() {
  std::lock_guard lk(mutex_);
  if (!open_) return mci::err::DeviceNotReady;
  if (player_.running()) {
    silenceLocked(*output_);
    paused_ = true;
    publishLocked();
  }
  return mci::err::None;
}

uint32_t SequencerDevice::resume() {
  std::shared_ptr<Output> out;
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    if (!paused_) return mci::err::None;
    out = output_;
    paused_ = false;
    startLocked(*out, player_.endPosition());
    publishLocked();
  }
  out->wake();
  return mci::err::None;
}

uint32_t SequencerDevice::seek(const mci::SeekParams& params) {
  mci::NotifyFn notify;
  uint64_t target = 0;
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    switch (params.where) {
      case mci::SeekParams::Where::Start:
        target = 0;
        break;
      case mci::SeekParams::Where::End:
        target = player_.length();
        break;
      case mci::SeekParams::Where::To:
        target = uint64_t{params.to} * kNsPerMs;
        if (target > player_.length()) return mci::err::OutOfRange;
        break;
    }
  }
  Located at = locate(target);
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    notify = haltLocked();
    player_.locate(std::move(at));
    publishLocked();
  }
  if (notify) notify(mci::NotifyAborted);
  return mci::err::None;
}

uint32_t SequencerDevice::moveTo(uint32_t positionMs) {
  const uint64_t target = uint64_t{positionMs} * kNsPerMs;
  Located at = locate(target);
  std::shared_ptr<Output> out;
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    if (target > player_.length()) return mci::err::OutOfRange;
    out = output_;
    const bool wasRunning = player_.running();
    const uint64_t end = player_.endPosition();
    // What sounded at the old place must not hang on; a pause stays silent
    // until it resumes.
    silenceLocked(*out);
    player_.locate(std::move(at));
    if (wasRunning) startLocked(*out, end);
    publishLocked();
  }
  out->wake();
  return mci::err::None;
}

uint32_t SequencerDevice::setLoop(bool on) {
  std::shared_ptr<const Song> song;
  {
    std::lock_guard lk(mutex_);
    loop_ = on;
    if (!open_) return mci::err::None;
    song = player_.song();
  }
  // The walk to the loop start is done without the lock.
  auto plan = on ? loopOf(song) : nullptr;
  std::shared_ptr<Output> out;
  {
    std::lock_guard lk(mutex_);
    // Another song or another change came meanwhile: it has done this.
    if (!open_ || player_.song() != song || loop_ != on) return mci::err::None;
    out = output_;
    Output::NowSink sink(*out);
    player_.setLoop(std::move(plan), out->now(), sink);
  }
  out->wake();
  return mci::err::None;
}

uint32_t SequencerDevice::status(const mci::StatusParams& params, mci::StatusValue& out) {
  using K = mci::StatusValue::Kind;
  Snapshot snap;
  {
    std::lock_guard lk(statusMutex_);
    snap = snapshot_;
  }
  out = {};
  if (params.item == mci::StatusItem::Mode) {
    out.kind = K::Mode;
    out.value = !snap.open           ? mci::ModeNotReady
                : snap.paused        ? mci::ModePaused
                : snap.clock.running ? mci::ModePlaying
                                     : mci::ModeStopped;
    return mci::err::None;
  }
  if (!snap.open) return mci::err::DeviceNotReady;
  switch (params.item) {
    case mci::StatusItem::Length:
      out.kind = K::Time;
      out.value = toMs(snap.length);
      break;
    case mci::StatusItem::Position:
      out.kind = K::Time;
      out.value = toMs(snap.clock.position(snap.output ? snap.output->now() : 0));
      break;
    case mci::StatusItem::StartPosition:
      out.kind = K::Time;
      break;
    case mci::StatusItem::NumberOfTracks:
      out.value = snap.tracks;
      break;
    case mci::StatusItem::CurrentTrack:
      out.value = 1;
      break;
    case mci::StatusItem::MediaPresent:
    case mci::StatusItem::Ready:
      out.kind = K::Boolean;
      out.value = 1;
      break;
    case mci::StatusItem::TimeFormat:
      out.kind = K::TimeFormatName;
      out.value = static_cast<uint32_t>(mci::TimeFormat::Milliseconds);
      break;
    case mci::StatusItem::Mode:
      break;
  }
  return mci::err::None;
}

uint32_t SequencerDevice::setTimeFormat(mci::TimeFormat format) {
  return format == mci::TimeFormat::Milliseconds ? mci::err::None : mci::err::BadTimeFormat;
}

uint32_t SequencerDevice::setPort(int32_t port) {
  {
    std::lock_guard lk(mutex_);
    if (!open_) return mci::err::DeviceNotReady;
    if (port == port_) return mci::err::None;
    // No port at all (a list without a selection): refused without asking
    // the port systems, which may be slow to answer.
    if (port < -1) {
      error_ = noSuchOutput(port);
      return mci::err::SeqPortNonexistent;
    }
  }
  // Listed once: the same list answers whether the port exists and which
  // output it names.
  const auto names = outputs_->outputNames();
  if (port != -1 && (port < 0 || static_cast<size_t>(port) >= names.size())) {
    std::lock_guard lk(mutex_);
    error_ = noSuchOutput(port);
    return mci::err::SeqPortNonexistent;
  }
  std::string error;
  auto out = outputs_->openListed(port, names, error);
  std::shared_ptr<Output> old;
  {
    std::lock_guard lk(mutex_);
    if (!out) {
      error_ = error;
      return mci::err::SeqPortMiscError;
    }
    if (!open_) return mci::err::DeviceNotReady;
    port_ = port;
    if (out == output_) return mci::err::None;  // the mapper is the synthesizer
    old = output_;
    const bool wasRunning = player_.running();
    silenceLocked(*old);
    output_ = out;
    if (wasRunning) startLocked(*out, player_.endPosition());
    publishLocked();
  }
  old->detach(this);
  out->attach(this);
  out->wake();
  return mci::err::None;
}

std::string SequencerDevice::lastError() const {
  std::lock_guard lk(mutex_);
  return error_;
}

std::shared_ptr<const Song> SequencerDevice::song() const {
  std::lock_guard lk(mutex_);
  return player_.song();
}

std::optional<uint64_t> SequencerDevice::runDue(const Output* from, uint64_t now,
                                                uint64_t lookahead, MidiSink& sink,
                                                size_t& budget) {
  mci::NotifyFn notify;
  std::optional<uint64_t> next;
  {
    std::lock_guard lk(mutex_);
    if (from != output_.get()) return std::nullopt;
    const PlayClock before = player_.clock();
    while (budget > 0) {
      const auto step = player_.step(now, sink, lookahead);
      if (step == Player::Step::Idle) break;
      if (step == Player::Step::Finished) {
        notify = std::exchange(notify_, {});
        break;
      }
      --budget;
    }
    // A play that began, ended or went back round changes what status
    // reports.
    const PlayClock after = player_.clock();
    if (after.running != before.running || after.unanchored != before.unanchored ||
        after.pos != before.pos || after.anchor != before.anchor)
      publishLocked();
    next = player_.nextDeadline();
  }
  if (notify) notify(mci::NotifySuccessful);
  return next;
}

}  // namespace plimra::seq

#include "media/sequencer/port_output.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>
#include <rtmidi/RtMidi.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace plimra::seq {

namespace {

constexpr const char* kClientName = "Plimra";

void quietErrors(RtMidiError::Type, const std::string&, void*) {}
void quietJack(const char*) {}
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Looking for ports where there is no ALSA sequencer or no JACK server is
// normal; the libraries would print about it on every look.
void quietLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(&quietJack);
    jack_set_info_function(&quietJack);
    snd_lib_error_set_handler(&quietAlsa);
  });
}

// The API whose ports we list and open: ALSA while it has ports, else JACK.
std::unique_ptr<RtMidiOut> makeOut(RtMidi::Api api) {
  quietLibraries();
  std::error_code ec;
  if (api == RtMidi::LINUX_ALSA && !std::filesystem::exists("/dev/snd/seq", ec)) return nullptr;
  if (api == RtMidi::UNIX_JACK) {
    // RtMidi reports a missing JACK server on the terminal; look first.
    jack_client_t* probe = jack_client_open("Plimra probe", JackNoStartServer, nullptr);
    if (!probe) return nullptr;
    jack_client_close(probe);
  }
  try {
    auto out = std::make_unique<RtMidiOut>(api, kClientName);
    out->setErrorCallback(&quietErrors, nullptr);
    return out;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

std::vector<std::string> namesOf(RtMidiOut& out) {
  std::vector<std::string> names;
  try {
    const unsigned n = out.getPortCount();
    for (unsigned i = 0; i < n; ++i) names.push_back(out.getPortName(i));
  } catch (const RtMidiError&) {
  }
  return names;
}

class RtMidiPort : public RawPort {
 public:
  explicit RtMidiPort(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {
    // The library reports a failed send only through this callback.
    out_->setErrorCallback(&RtMidiPort::onError, this);
  }
  ~RtMidiPort() override {
    try {
      out_->closePort();
    } catch (const RtMidiError&) {
    }
  }
  bool send(std::span<const uint8_t> m) override {
    try {
      out_->sendMessage(m.data(), m.size());
    } catch (const RtMidiError&) {
      failed_ = true;
    }
    return !failed_;
  }

 private:
  static void onError(RtMidiError::Type type, const std::string& message, void* self) {
    // A message the library could not parse is only a warning; one the
    // port would not take is a warning too, told apart by its text.
    const bool warning = type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING;
    if (!warning || message.find("error sending") != std::string::npos)
      static_cast<RtMidiPort*>(self)->failed_ = true;
  }
  std::unique_ptr<RtMidiOut> out_;
  bool failed_ = false;
};

// Messages from one writer to one reader (the JACK process callback), each
// behind its size. Lock-free, and ordered by our own atomics rather than by
// the barriers inside JACK's ring buffer, so the order of its copies is
// plain to the compiler and to ThreadSanitizer alike.
class MessageQueue {
 public:
  explicit MessageQueue(size_t bytes) : data_(bytes) {}

  // Writer: false when the message does not fit now.
  bool push(std::span<const uint8_t> m) {
    const uint64_t w = written_.load(std::memory_order_relaxed);
    const uint64_t used = w - read_.load(std::memory_order_acquire);
    const uint32_t size = static_cast<uint32_t>(m.size());
    if (data_.size() - used < sizeof size + size) return false;
    copyIn(w, reinterpret_cast<const uint8_t*>(&size), sizeof size);
    copyIn(w + sizeof size, m.data(), size);
    written_.store(w + sizeof size + size, std::memory_order_release);
    return true;
  }
  bool empty() const {
    return read_.load(std::memory_order_acquire) == written_.load(std::memory_order_acquire);
  }
  // Reader: the size of the next message, when there is one.
  std::optional<uint32_t> nextSize() const {
    const uint64_t r = read_.load(std::memory_order_relaxed);
    if (written_.load(std::memory_order_acquire) == r) return std::nullopt;
    uint32_t size = 0;
    copyOut(r, reinterpret_cast<uint8_t*>(&size), sizeof size);
    return size;
  }
  // Reader: takes the next message, of `size` bytes, into `dst`; drops it
  // when `dst` is null.
  void pop(uint32_t size, uint8_t* dst) {
    const uint64_t r = read_.load(std::memory_order_relaxed);
    if (dst) copyOut(r + sizeof size, dst, size);
    read_.store(r + sizeof size + size, std::memory_order_release);
  }

 private:
  void copyIn(uint64_t at, const uint8_t* src, size_t n) {
    const size_t from = static_cast<size_t>(at % data_.size());
    const size_t first = std::min(n, data_.size() - from);
    std::memcpy(&data_[from], src, first);
    std::memcpy(data_.data(), src + first, n - first);
  }
  void copyOut(uint64_t at, uint8_t* dst, size_t n) const {
    const size_t from = static_cast<size_t>(at % data_.size());
    const size_t first = std::min(n, data_.size() - from);
    std::memcpy(dst, &data_[from], first);
    std::memcpy(dst + first, data_.data(), n - first);
  }

  std::vector<uint8_t> data_;
  std::atomic<uint64_t> written_{0};  // bytes ever written
  std::atomic<uint64_t> read_{0};     // bytes ever taken
};

// A JACK MIDI output of our own. The library's JACK output hands a period
// only what fits in the port's buffer and throws the rest away; a burst
// (a chord on every channel, the state replayed after a port change) lost
// messages that way. Here what does not fit waits in the queue for the next
// period, and the queue tells when it has drained.
class JackPort : public RawPort {
 public:
  static std::unique_ptr<JackPort> open(const std::string& target, std::string& error) {
    quietLibraries();
    auto port = std::unique_ptr<JackPort>(new JackPort);
    port->client_ = jack_client_open(kClientName, JackNoStartServer, nullptr);
    if (!port->client_) {
      error = "The JACK server does not answer.";
      return nullptr;
    }
    port->port_ =
        jack_port_register(port->client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!port->port_) {
      error = "No JACK MIDI port could be made.";
      return nullptr;
    }
    jack_set_process_callback(port->client_, &JackPort::process, port.get());
    jack_on_shutdown(port->client_, &JackPort::shutdown, port.get());
    if (jack_activate(port->client_) != 0 ||
        jack_connect(port->client_, jack_port_name(port->port_), target.c_str()) != 0) {
      error = "JACK did not connect to \"" + target + "\".";
      return nullptr;
    }
    port->active_ = true;
    // The connection carries messages from the next periods on; what was
    // queued before would be handed to no one.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    const uint64_t seen = port->cycles_.load();
    while (port->cycles_.load() < seen + 2 && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
  }

  ~JackPort() override {
    if (active_) drain(std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    if (client_) jack_client_close(client_);
  }

  bool send(std::span<const uint8_t> m) override {
    const uint32_t size = static_cast<uint32_t>(m.size());
    if (m.empty() || size > kQueueBytes / 2) return !dead_;  // JACK could never carry it
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!queue_.push(m)) {
      // The queue drains once a period; a server that stopped is a failure.
      // One that stalls costs one wait: until it drains again, what does not
      // fit is dropped at once.
      if (dead_) return false;
      if (stalled_ || std::chrono::steady_clock::now() > limit) {
        stalled_ = true;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stalled_ = false;
    return !dead_;
  }

  void drain(std::chrono::steady_clock::time_point limit) override {
    // Empty queue, then one more whole period: the last messages have then
    // been handed to the ports we are connected to.
    while (!dead_ && !queue_.empty() && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t seen = cycles_.load();
    while (!dead_ && cycles_.load() < seen + 2 && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  static constexpr size_t kQueueBytes = 1 << 20;

  JackPort() = default;

  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackPort*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);
    bool first = true;
    while (const std::optional<uint32_t> size = self->queue_.nextSize()) {
      // Asking for more room than is left would count as a lost event.
      const bool fits = jack_midi_max_event_size(buffer) >= *size;
      if (!fits && !first) break;  // full for this period: the rest waits
      // Dropped when larger than a whole period holds.
      self->queue_.pop(*size, fits ? jack_midi_event_reserve(buffer, 0, *size) : nullptr);
      first = false;
    }
    self->cycles_.fetch_add(1);
    return 0;
  }
  static void shutdown(void* arg) { static_cast<JackPort*>(arg)->dead_ = true; }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  MessageQueue queue_{kQueueBytes};
  bool active_ = false;
  bool stalled_ = false;
  std::atomic<bool> dead_{false};
  std::atomic<uint64_t> cycles_{0};
};

class PortSink : public MidiSink {
 public:
  PortSink(PortOutput& out, const std::function<void(int64_t)>& observer)
      : out_(out), observer_(observer) {}
  void send(std::span<const uint8_t> m, uint8_t port, uint64_t deadline) override {
    out_.sendNow(m, port);
    if (observer_) observer_(static_cast<int64_t>(out_.now() - deadline));
  }

 private:
  PortOutput& out_;
  const std::function<void(int64_t)>& observer_;
};

std::atomic<const char*> systemAsked{nullptr};

}  // namespace

std::string portSystemBeingAsked() {
  const char* name = systemAsked.load();
  return name ? name : "";
}

std::vector<std::string> systemPortNames() {
  struct Asking {
    ~Asking() { systemAsked = nullptr; }
  } asking;
  for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
    systemAsked = api == RtMidi::LINUX_ALSA ? "ALSA" : "JACK";
    auto out = makeOut(api);
    if (!out) continue;
    auto names = namesOf(*out);
    if (!names.empty()) return names;
  }
  return {};
}

std::unique_ptr<RawPort> openSystemPort(const std::string& name, std::string& error) {
  for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
    auto out = makeOut(api);
    if (!out) continue;
    const auto names = namesOf(*out);
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) {
      if (!names.empty()) break;  // the list came from this API
      continue;
    }
    if (api == RtMidi::UNIX_JACK) {
      auto port = JackPort::open(name, error);
      if (port) return port;
      error = "The MIDI-OUT port \"" + name + "\" could not be opened: " + error;
      return nullptr;
    }
    try {
      out->openPort(static_cast<unsigned>(it - names.begin()), "out");
      if (out->isPortOpen()) return std::make_unique<RtMidiPort>(std::move(out));
    } catch (const RtMidiError& e) {
      error = "The MIDI-OUT port \"" + name + "\" could not be opened: " + e.getMessage();
      return nullptr;
    }
    break;
  }
  error = "The MIDI-OUT port \"" + name + "\" could not be opened.";
  return nullptr;
}

PortOutput::PortOutput(std::unique_ptr<RawPort> port, Reopen reopen)
    : port_(std::move(port)), reopen_(std::move(reopen)) {
  thread_ = std::thread([this] { loop(); });
}

PortOutput::~PortOutput() {
  {
    std::lock_guard lk(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

uint64_t PortOutput::now() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void PortOutput::sendNow(std::span<const uint8_t> m, uint8_t /*port*/) {
  std::lock_guard lk(sendMutex_);
  if (failed_) return;
  if (port_ && port_->send(m)) return;
  // The port went away (a restarted JACK server, a device plugged out and
  // in again): open it once more before giving up on it.
  std::string error;
  port_.reset();
  if (reopen_) port_ = reopen_(error);
  if (port_ && port_->send(m)) return;
  port_.reset();
  failed_ = true;
  problem_ = "The MIDI-OUT port stopped working and could not be opened again" +
             (error.empty() ? std::string(".") : ": " + error);
  std::fprintf(stderr, "plimra: %s\n", problem_.c_str());
}

std::string PortOutput::problem() const {
  std::lock_guard lk(sendMutex_);
  return problem_;
}

void PortOutput::drain(std::chrono::steady_clock::time_point limit) {
  std::lock_guard lk(sendMutex_);
  if (port_) port_->drain(limit);
}

namespace {
// Takes the output's lock ahead of its scheduling thread, which lets it go
// between wake-ups whenever someone waits.
class Ahead {
 public:
  Ahead(std::atomic<int>& waiting, std::mutex& m, std::condition_variable& cv)
      : waiting_(waiting), cv_(cv) {
    waiting_.fetch_add(1);
    lock_ = std::unique_lock(m);
  }
  ~Ahead() {
    // Counted down under the lock: the scheduling thread looks at the count
    // under it before it sleeps, so it cannot miss the wake-up below.
    waiting_.fetch_sub(1);
    lock_.unlock();
    cv_.notify_all();
  }

 private:
  std::atomic<int>& waiting_;
  std::condition_variable& cv_;
  std::unique_lock<std::mutex> lock_;
};
}  // namespace

void PortOutput::attach(OutputClient* client) {
  Ahead lk(waiting_, mutex_, cv_);
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
  dirty_ = true;
}

void PortOutput::detach(OutputClient* client) {
  Ahead lk(waiting_, mutex_, cv_);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void PortOutput::wake() {
  Ahead lk(waiting_, mutex_, cv_);
  dirty_ = true;
}

uint64_t PortOutput::threadCpuNanos() const {
  clockid_t cid;
  if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &cid) != 0) return 0;
  timespec ts{};
  clock_gettime(cid, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

namespace {
constexpr uint64_t kLongestWaitNs = 3600ull * 1'000'000'000;
}

void PortOutput::loop() {
  // Deadlines matter more here than anywhere else in the program: take
  // real-time scheduling where the system grants it (members of the audio
  // group usually may), and ask the kernel not to defer our wake-ups.
  rlimit limit{};
  getrlimit(RLIMIT_RTPRIO, &limit);
  sched_param param{};
  param.sched_priority = static_cast<int>(limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur == 0
                                              ? 40
                                              : std::min<rlim_t>(limit.rlim_cur, 40));
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  PortSink sink(*this, observer_);
  std::unique_lock lk(mutex_);
  while (!quit_) {
    // Attach, detach and wake go first: a burst never shuts them out.
    cv_.wait(lk, [&] { return waiting_.load() == 0 || quit_; });
    if (quit_) break;
    dirty_ = false;
    const uint64_t t = now();
    size_t budget = kEventsPerWakeUp;
    std::optional<uint64_t> next;
    for (OutputClient* c : clients_) {
      if (auto d = c->runDue(this, t, kGatherNs, sink, budget))
        next = next ? std::min(*next, *d) : *d;
    }
    if (dirty_ || quit_) continue;
    const auto woken = [&] { return dirty_ || quit_ || waiting_.load() > 0; };
    if (!next) {
      cv_.wait(lk, woken);
    } else if (const uint64_t at = now(); *next > at) {
      // However far the deadline (a hostile file's may be centuries away),
      // wait for a time the clock can hold, and look again then.
      const uint64_t capped = std::min(
          {*next, addSaturated(at, kLongestWaitNs), uint64_t{std::numeric_limits<int64_t>::max()}});
      const auto when = std::chrono::steady_clock::time_point(
          std::chrono::nanoseconds(static_cast<int64_t>(capped)));
      cv_.wait_until(lk, when, woken);
    }
  }
}

}  // namespace plimra::seq

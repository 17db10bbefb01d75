#include "media/sequencer/port_output.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <pthread.h>
#include <rtmidi/RtMidi.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>

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
  explicit RtMidiPort(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {}
  ~RtMidiPort() override {
    // JACK hands queued messages on at its next period; let the silence
    // sent on close leave before the port goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    try {
      out_->closePort();
    } catch (const RtMidiError&) {
    }
  }
  void send(std::span<const uint8_t> m) override {
    try {
      out_->sendMessage(m.data(), m.size());
    } catch (const RtMidiError&) {
      // A port that went away mid-song: the song keeps time silently.
    }
  }

 private:
  std::unique_ptr<RtMidiOut> out_;
};

class PortSink : public MidiSink {
 public:
  PortSink(PortOutput& out, const std::function<void(int64_t)>& observer)
      : out_(out), observer_(observer) {}
  void send(std::span<const uint8_t> m, uint64_t deadline) override {
    out_.sendNow(m);
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

PortOutput::PortOutput(std::unique_ptr<RawPort> port) : port_(std::move(port)) {
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

void PortOutput::sendNow(std::span<const uint8_t> m) {
  std::lock_guard lk(sendMutex_);
  port_->send(m);
}

void PortOutput::attach(OutputClient* client) {
  {
    std::lock_guard lk(mutex_);
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
      clients_.push_back(client);
    dirty_ = true;
  }
  cv_.notify_all();
}

void PortOutput::detach(OutputClient* client) {
  std::lock_guard lk(mutex_);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void PortOutput::wake() {
  {
    std::lock_guard lk(mutex_);
    dirty_ = true;
  }
  cv_.notify_all();
}

uint64_t PortOutput::threadCpuNanos() const {
  clockid_t cid;
  if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &cid) != 0) return 0;
  timespec ts{};
  clock_gettime(cid, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
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
    dirty_ = false;
    const uint64_t t = now();
    std::optional<uint64_t> next;
    for (OutputClient* c : clients_) {
      if (auto d = c->runDue(this, t, 0, sink)) next = next ? std::min(*next, *d) : *d;
    }
    if (dirty_ || quit_) continue;
    if (!next) {
      cv_.wait(lk, [&] { return dirty_ || quit_; });
    } else if (*next > now()) {
      const auto when = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(*next));
      cv_.wait_until(lk, when, [&] { return dirty_ || quit_; });
    }
  }
}

}  // namespace plimra::seq

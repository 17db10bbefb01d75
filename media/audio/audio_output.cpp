#include "media/audio/audio_output.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace plimra::audio {

AudioOutput& AudioOutput::instance() {
  // Never destroyed: sources owned by other statics may still remove
  // themselves during exit. The device is stopped at exit instead.
  static AudioOutput* output = [] {
    auto* o = new AudioOutput;
    std::atexit([] { AudioOutput::instance().stop(); });
    return o;
  }();
  return *output;
}

AudioOutput::~AudioOutput() { stop(); }

bool AudioOutput::start() {
  std::lock_guard state(stateMutex_);
  if (running_) return hasDevice_;

  // SDL would otherwise take over SIGINT and SIGTERM and turn them into quit
  // events nobody reads, so the program could not be ended with kill.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(bufferFrames_);
    want.callback = &AudioOutput::sdlCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts if the hardware wants something else,
    // so the callback always sees 44.1 kHz stereo 16-bit.
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id != 0) {
      deviceId_ = id;
      bufferFrames_ = have.samples;
      {
        std::lock_guard lock(sourcesMutex_);
        mixBuffer_.assign(static_cast<size_t>(bufferFrames_) * kChannels * 2, 0.0f);
      }
      const char* driver = SDL_GetCurrentAudioDriver();
      driver_ = driver ? driver : "unknown";
      error_.clear();
      hasDevice_ = true;
      running_ = true;
      SDL_PauseAudioDevice(id, 0);
      return true;
    }
    error_ = std::string("No audio device could be opened (") + SDL_GetError() +
             "); playback keeps time without sound.";
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  } else {
    error_ = std::string("No audio system is available (") + SDL_GetError() +
             "); playback keeps time without sound.";
  }

  // The silent clock: sources are pulled at real-time pace so positions,
  // ends of songs and notifications still happen.
  driver_ = "none";
  hasDevice_ = false;
  running_ = true;
  {
    std::lock_guard lock(sourcesMutex_);
    mixBuffer_.assign(static_cast<size_t>(bufferFrames_) * kChannels * 2, 0.0f);
  }
  {
    std::lock_guard lock(clockMutex_);
    clockStop_ = false;
  }
  clock_ = std::thread([this] { clockLoop(); });
  return false;
}

void AudioOutput::stop() {
  std::lock_guard state(stateMutex_);
  if (!running_) return;
  if (hasDevice_) {
    SDL_CloseAudioDevice(deviceId_);
    deviceId_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  } else {
    {
      std::lock_guard lock(clockMutex_);
      clockStop_ = true;
    }
    clockCv_.notify_all();
    if (clock_.joinable()) clock_.join();
  }
  hasDevice_ = false;
  running_ = false;
}

void AudioOutput::addSource(AudioSource* source) {
  {
    std::lock_guard lock(sourcesMutex_);
    if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
      sources_.push_back(source);
  }
  start();
}

void AudioOutput::removeSource(AudioSource* source) {
  // The audio thread holds this lock while it mixes, so once we have it the
  // source is not in use and never will be again.
  std::lock_guard lock(sourcesMutex_);
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

std::string AudioOutput::lastError() const {
  std::lock_guard state(stateMutex_);
  return error_;
}

std::string AudioOutput::driverName() const {
  std::lock_guard state(stateMutex_);
  return driver_;
}

void AudioOutput::mix(float* out, int frames) {
  std::memset(out, 0, sizeof(float) * static_cast<size_t>(frames) * kChannels);
  std::lock_guard lock(sourcesMutex_);
  for (AudioSource* s : sources_) s->render(out, frames);
}

void AudioOutput::sdlCallback(void* userdata, uint8_t* stream, int len) {
  auto* self = static_cast<AudioOutput*>(userdata);
  auto* samples = reinterpret_cast<int16_t*>(stream);
  int frames = len / static_cast<int>(sizeof(int16_t) * kChannels);
  while (frames > 0) {
    int chunk = std::min(frames, self->bufferFrames_ * 2);
    float* mixed = self->mixBuffer_.data();
    self->mix(mixed, chunk);
    // x/32768 and back is exact for 16-bit input, so CD samples pass
    // through the float mix unchanged.
    for (int i = 0; i < chunk * kChannels; ++i) {
      float v = std::nearbyint(mixed[i] * 32768.0f);
      samples[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    samples += chunk * kChannels;
    frames -= chunk;
  }
}

namespace {
// A tenth of a second: more than a late wake-up of the clock ever is.
constexpr uint64_t kMostCatchUpFrames = kSampleRate / 10;
}  // namespace

void AudioOutput::clockLoop() {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  uint64_t done = 0;
  std::unique_lock lock(clockMutex_);
  while (!clockStop_) {
    clockCv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return clockStop_; });
    if (clockStop_) break;
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start);
    uint64_t due = static_cast<uint64_t>(elapsed.count()) * kSampleRate / 1000000;
    // After a stall (a stopped process, a suspended machine) the lost time
    // is skipped: songs go on from where they were instead of rushing
    // through everything they missed in one burst.
    if (due > done + kMostCatchUpFrames) done = due - kMostCatchUpFrames;
    lock.unlock();
    while (done < due) {
      int chunk = static_cast<int>(std::min<uint64_t>(due - done, bufferFrames_ * 2));
      mix(mixBuffer_.data(), chunk);
      done += static_cast<uint64_t>(chunk);
    }
    lock.lock();
  }
}

}  // namespace plimra::audio

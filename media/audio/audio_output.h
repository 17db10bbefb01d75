// The program's one audio output: an SDL2 device, 44.1 kHz, stereo, into
// which every source (the built-in synthesizer, the CD player) mixes.
//
// Sources render on the audio thread. When no audio device can be opened the
// output runs a silent clock instead: sources are still pulled at real-time
// pace, so songs and discs keep time without sound, and lastError() says why
// there is no sound.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plimra::audio {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Adds `frames` stereo frames (interleaved floats, full scale +-1.0) into
  // `out`, which already holds what other sources mixed. Runs on the audio
  // thread: no blocking, no allocation in steady state.
  virtual void render(float* out, int frames) = 0;
};

class AudioOutput {
 public:
  static AudioOutput& instance();

  // Starts the output if it is not running: opens the SDL device, or the
  // silent clock when that fails. Safe to call again. Returns true when a
  // real device (including SDL's dummy and disk drivers) is open.
  bool start();
  // Stops the device or clock; sources stay registered.
  void stop();

  // Adding starts the output. Removing waits until the audio thread no
  // longer uses the source, so the caller may destroy it afterwards.
  void addSource(AudioSource* source);
  void removeSource(AudioSource* source);

  bool hasDevice() const { return hasDevice_.load(); }
  bool running() const { return running_.load(); }
  // Why there is no sound (empty while a device is open).
  std::string lastError() const;
  // The SDL driver in use ("pulseaudio", "disk", "dummy"...) or "none".
  std::string driverName() const;

  ~AudioOutput();

 private:
  AudioOutput() = default;
  void mix(float* out, int frames);
  static void sdlCallback(void* self, uint8_t* stream, int len);
  void clockLoop();

  mutable std::mutex sourcesMutex_;  // held by the audio thread while mixing
  std::vector<AudioSource*> sources_;
  std::vector<float> mixBuffer_;

  mutable std::mutex stateMutex_;
  std::atomic<bool> running_{false};
  std::atomic<bool> hasDevice_{false};
  uint32_t deviceId_ = 0;
  int bufferFrames_ = 512;
  std::string error_;
  std::string driver_ = "none";

  std::thread clock_;
  std::mutex clockMutex_;
  std::condition_variable clockCv_;
  bool clockStop_ = false;
};

}  // namespace plimra::audio

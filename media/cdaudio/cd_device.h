// The "CDAudio" device: the classic CD audio commands on top of a shared
// Drive. Status answers come from the drive's cache and never touch the disc.
#pragma once

#include <memory>

#include "media/cdaudio/drive.h"
#include "media/mci/device.h"

namespace plimra::cdaudio {

class CdAudioDevice : public mci::Device {
 public:
  // The disc. element: a drive or .cue image to use instead of the
  // configured one.
  uint32_t open(const std::string& element) override;
  uint32_t close() override;
  uint32_t setDoor(bool open) override;
  // The transport; previous and next go by tracks.
  uint32_t play(const mci::PlayParams& params, mci::NotifyFn notify) override;
  uint32_t stop() override;
  uint32_t pause() override;
  uint32_t resume() override;
  uint32_t seek(const mci::SeekParams& params) override;
  uint32_t prev() override;
  uint32_t next() override;
  // Status answers, in the chosen time format.
  uint32_t status(const mci::StatusParams& params, mci::StatusValue& out) override;
  uint32_t setTimeFormat(mci::TimeFormat format) override;

 private:
  // Moves to `sector` and keeps playing when the disc was playing.
  uint32_t jump(int32_t sector);

  std::shared_ptr<Drive> drive_;
  mci::TimeFormat format_ = mci::TimeFormat::Msf;
};

}  // namespace plimra::cdaudio

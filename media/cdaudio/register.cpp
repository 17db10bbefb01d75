#include "media/cdaudio/register.h"

#include "media/cdaudio/cd_device.h"
#include "media/mci/device_table.h"

namespace plimra::cdaudio {

std::unique_ptr<mci::Device> makeCdAudio() { return std::make_unique<CdAudioDevice>(); }

void registerCdAudio() { mci::DeviceTable::instance().registerType("CDAudio", makeCdAudio); }

}  // namespace plimra::cdaudio

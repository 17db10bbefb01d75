#include "media/cdaudio/register.h"

#include "media/cdaudio/cd_device.h"
#include "media/mci/device_table.h"

namespace plimra::cdaudio {

void registerCdAudio() {
  mci::DeviceTable::instance().registerType("CDAudio",
                                            [] { return std::make_unique<CdAudioDevice>(); });
}

}  // namespace plimra::cdaudio

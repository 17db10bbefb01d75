#pragma once

#include <memory>

namespace plimra::mci {
class Device;
}  // namespace plimra::mci

namespace plimra::cdaudio {

// A new "CDAudio" device.
std::unique_ptr<mci::Device> makeCdAudio();
// Registers the "CDAudio" device type in the device table.
void registerCdAudio();

}  // namespace plimra::cdaudio

#pragma once

namespace plimra::cdaudio {

// Registers the "CDAudio" device type in the device table.
void registerCdAudio();

}  // namespace plimra::cdaudio

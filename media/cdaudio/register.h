#pragma once

namespace plimra::cd {

// Registers the "CDAudio" device type in the device table.
void registerCdAudio();

}  // namespace plimra::cd

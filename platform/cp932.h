// Shift-JIS as Japanese Windows writes it (code page 932), decoded with
// glibc's iconv. Plain C++, so that the MIDI file reader can use it as well
// as the file names and the settings file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plimra::platform {

// The UTF-8 text of CP932 bytes; nullopt when they are not valid CP932.
std::optional<std::string> cp932ToUtf8(std::string_view bytes);
// The same, except that each byte that does not decode becomes U+FFFD and
// decoding goes on.
std::string cp932ToUtf8Lenient(std::string_view bytes);
// Latin-1 bytes as UTF-8: every byte is a character.
std::string latin1ToUtf8(std::string_view bytes);

}  // namespace plimra::platform

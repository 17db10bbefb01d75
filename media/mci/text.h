// Case rules for device names, type names, command words and file
// extensions: ASCII only, whatever the locale, so that a name compares the
// same on every system.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace plimra::mci {

constexpr char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string lowerCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
  return out;
}

inline bool endsWithNoCase(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() &&
         std::equal(tail.begin(), tail.end(), s.end() - static_cast<std::ptrdiff_t>(tail.size()),
                    [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

}  // namespace plimra::mci

#include "platform/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace plimra::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// What iconv_open gives when it cannot convert.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One converter for each thread that decodes; opening one per text would
// cost more than the conversion.
struct Converter {
  iconv_t cd = open();
  ~Converter() {
    if (cd != kNoConverter) iconv_close(cd);
  }
  static iconv_t open() {
    iconv_t c = iconv_open("UTF-8", "CP932");
    return c != kNoConverter ? c : iconv_open("UTF-8", "SHIFT_JIS");
  }
};

std::optional<std::string> decode(std::string_view bytes, bool lenient) {
  thread_local Converter conv;
  if (conv.cd == kNoConverter) return std::nullopt;
  iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  out.reserve(bytes.size() * 3 / 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    const size_t r = iconv(conv.cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ, or EINVAL for a character cut short at the end.
    if (!lenient) return std::nullopt;
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace

std::optional<std::string> cp932ToUtf8(std::string_view bytes) { return decode(bytes, false); }

std::string cp932ToUtf8Lenient(std::string_view bytes) {
  // Without a converter at all, a byte is at least not lost.
  if (auto text = decode(bytes, true)) return *std::move(text);
  return latin1ToUtf8(bytes);
}

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace plimra::platform

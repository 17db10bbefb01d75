// plimra-mkdisc: writes a test disc image (.cue and .bin).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/mkdisc/disc_image.h"

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: plimra-mkdisc [--sine] [--pregap SECTORS] OUT.cue TRACK...\n"
      "Writes OUT.cue and OUT.bin, a disc image with one track per TRACK.\n"
      "  TRACK    length of an audio track in seconds (2.5), or in sectors with\n"
      "           a trailing s (150s); a leading d makes it a data track (d1)\n"
      "  --sine   track k is a sine of 220*k Hz (default: every sample tells\n"
      "           its track and frame: left = track*1024 + frame%1024,\n"
      "           right = frame/1024 + 1)\n"
      "  --pregap N  N silent sectors (INDEX 00) before every track but the first\n",
      to);
}

bool parseTrack(std::string text, plimra::mkdisc::TrackSpec& t) {
  if (!text.empty() && text[0] == 'd') {
    t.data = true;
    text.erase(0, 1);
  }
  bool sectors = !text.empty() && text.back() == 's';
  if (sectors) text.pop_back();
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0) || v > 80 * 60 * 75) return false;
  t.sectors = sectors ? static_cast<int>(v) : static_cast<int>(v * 75 + 0.5);
  return t.sectors >= 4 && t.sectors <= 80 * 60 * 75;
}

}  // namespace

int main(int argc, char** argv) {
  plimra::mkdisc::DiscSpec layout;
  std::string out;
  int pregap = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    } else if (a == "--sine") {
      layout.pattern = plimra::mkdisc::Pattern::Sine;
    } else if (a == "--pregap" && i + 1 < argc) {
      pregap = std::atoi(argv[++i]);
      if (pregap < 0 || pregap > 75 * 60) {
        std::fprintf(stderr, "plimra-mkdisc: bad pregap %s\n", argv[i]);
        return 2;
      }
    } else if (out.empty()) {
      out = a;
    } else {
      plimra::mkdisc::TrackSpec t;
      if (!parseTrack(a, t)) {
        std::fprintf(stderr, "plimra-mkdisc: bad track length '%s'\n", a.c_str());
        return 2;
      }
      t.pregap = layout.tracks.empty() ? 0 : pregap;
      layout.tracks.push_back(t);
    }
  }
  if (out.empty() || layout.tracks.empty()) {
    usage(stderr);
    return 2;
  }
  std::string error = plimra::mkdisc::writeDisc(out, layout);
  if (!error.empty()) {
    std::fprintf(stderr, "plimra-mkdisc: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

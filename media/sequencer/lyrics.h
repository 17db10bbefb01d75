// The words of a song as a karaoke display shows them: lyric events (FF 05),
// or the text events (FF 01) of a karaoke file that carries "@" tags,
// broken into lines of syllables, each syllable with the time it is sung.
//
// Conventions: a text event that starts with "@" is a tag (title, info),
// never a word; "/" and CR or LF break the line, "\" starts a new paragraph
// (karaoke files clear the screen there); "^" stands for a blank. The song's
// text is decoded once for the whole song: UTF-8 when every text is valid
// UTF-8, else Shift-JIS (CP932) when every text is valid CP932, else
// Latin-1. Deciding text by text would let a short syllable pass for the
// wrong encoding.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plimra::seq {

enum class TextEncoding : uint8_t { Utf8, Cp932, Latin1 };

struct LyricSyllable {
  std::string text;  // UTF-8
  uint64_t startMs = 0;
};

struct LyricLine {
  std::vector<LyricSyllable> syllables;  // at least one
  bool paragraphStart = false;           // a new paragraph begins here
  uint64_t startMs() const { return syllables.front().startMs; }
  std::string text() const;
};

struct Lyrics {
  TextEncoding encoding = TextEncoding::Utf8;
  // The first track's name (FF 03), decoded; empty when it has none.
  std::string title;
  std::vector<LyricLine> lines;  // in the order they are sung

  // The whole text: a line a line, a blank line between paragraphs.
  std::string text() const;
  // The line sung at `positionMs`: the last one begun by then; -1 before
  // the first.
  int lineAt(uint64_t positionMs) const;
};

// Reads the words of a MIDI file, from memory or from a file. A file that
// cannot be read, or has no words, gives no lines; of a file with more than
// 65536 text events, the first are read.
Lyrics lyricsOf(std::span<const uint8_t> data);
Lyrics readLyrics(const std::string& path);

}  // namespace plimra::seq

// The options both windows show and plimra.ini keeps: iconize on play, stop
// on switching windows, the time in the caption, the three play modes, the
// lyrics window, the
// reset before each song, and the MIDI-OUT port chosen. One model for the
// whole program; every menu check mark binds to it, so both windows' marks
// follow a change made in either.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace plimra::kit {
class MenuItem;
}

namespace plimra::ui {

class Options : public QObject {
  Q_OBJECT

 public:
  enum class Flag {
    Iconize,       // iconize the playing window when playing starts
    StopOnSwitch,  // stop what plays when switching windows
    ShowTime,      // position and length in the caption while playing
    Single,        // play one song only
    InOrder,       // play the list in order
    Random,        // play the list in random order
    Loop,          // a song with a loop goes round it, then fades out
    Lyrics,        // the lyrics window shown
    Count,
  };

  // The chosen entry of the port list (-1: none) and its whole name. While
  // the list has not come yet, what plimra.ini said.
  struct Port {
    int16_t index = -1;
    QString name;
    bool operator==(const Port&) const = default;
  };

  bool flag(Flag f) const { return flags_[static_cast<int>(f)]; }
  void setFlag(Flag f, bool on);
  void toggle(Flag f) { setFlag(f, !flag(f)); }
  // The three play modes, set together as their menu items do.
  void setPlayMode(bool single, bool inOrder, bool random);

  // "GS", "GM", "XG" or "NON" as chosen; a file may hold any text, kept as
  // it is. Only the exact "GS", "GM" and "XG" send a reset.
  const QString& reset() const { return reset_; }
  void setReset(const QString& kind);
  // Whether a reset item is marked: "NON" in the first three letters, else
  // its kind in the first two (a value from a file is matched by prefix).
  bool resetMarked(const QString& kind) const;

  // The built-in synthesizer's SoundFont once it plays (the lossless text
  // form of its path); empty for the system's.
  const QString& soundFont() const { return soundFont_; }
  void setSoundFont(const QString& path);

  const Port& port() const { return port_; }
  void setPort(const Port& port);

  // The defaults the MIDI window's start-up sets before it reads plimra.ini.
  void setDefaults();

  // Keeps the item's check mark on the flag, or on the reset kind, from now on.
  void bind(kit::MenuItem* item, Flag f);
  void bindReset(kit::MenuItem* item, const QString& kind);

 signals:
  void changed();

 private:
  bool flags_[static_cast<int>(Flag::Count)] = {};
  QString reset_;
  QString soundFont_;
  Port port_;
};

// The program's options.
Options& options();

}  // namespace plimra::ui

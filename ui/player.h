// A player window as the desktop's media controls see it: a typed state to
// read and typed requests to send. Both player windows are players; the
// one shown is the one the controls act on.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "media/sequencer/lyrics.h"

namespace plimra::control {
class MMControl;
}

namespace plimra::ui {

struct PlayerState {
  enum class Status { Stopped, Playing, Paused };
  Status status = Status::Stopped;
  // Empty while nothing is open; changes when another song or track plays.
  QString key;
  QString title;  // the song's name (its first track's), its file's, or "Track N"
  QString file;   // the song's file (lossless text form), when it has one
  int64_t positionMs = 0;
  int64_t lengthMs = 0;  // 0: not known
  // The song's words, read once as it starts; null for a CD track.
  std::shared_ptr<const seq::Lyrics> lyrics;
};

enum class PlayerRequest { Play, Pause, PlayPause, Stop, Next, Previous };

class Player {
 public:
  virtual ~Player() = default;
  virtual PlayerState playerState() const = 0;
  // As the transport bar's buttons act: Play resumes a pause, and where
  // there is nothing to play yet, starts what the window would start.
  void request(PlayerRequest request);
  // Moves the song or track that plays to `positionMs` from its start (a
  // play goes on from there, a pause stays paused). False when nothing is
  // open or the place is beyond its end.
  virtual bool seek(int64_t positionMs) = 0;

 protected:
  virtual control::MMControl& playerTransport() const = 0;
  // Play with the bar's Play button disabled (nothing open): starts what
  // the window offers, if anything.
  virtual void playFromIdle() {}
  static PlayerState::Status statusOf(int32_t mode);
};

}  // namespace plimra::ui

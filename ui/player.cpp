#include "ui/player.h"

#include "media/control/mmcontrol.h"
#include "media/mci/mci.h"

namespace plimra::ui {

using control::MMControl;

PlayerState::Status Player::statusOf(int32_t mode) {
  switch (mode) {
    case mci::ModePlaying:
      return PlayerState::Status::Playing;
    case mci::ModePaused:
      return PlayerState::Status::Paused;
    default:
      return PlayerState::Status::Stopped;
  }
}

void Player::request(PlayerRequest request) {
  MMControl& bar = playerTransport();
  const bool playing = bar.Mode() == mci::ModePlaying;
  auto play = [&] {
    if (bar.Mode() == mci::ModePaused) {
      bar.click(MMControl::Pause);
    } else if (!playing) {
      if (bar.buttonEnabled(MMControl::Play))
        bar.click(MMControl::Play);
      else
        playFromIdle();
    }
  };
  switch (request) {
    case PlayerRequest::Play:
      play();
      break;
    case PlayerRequest::Pause:
      if (playing) bar.click(MMControl::Pause);
      break;
    case PlayerRequest::PlayPause:
      if (playing)
        bar.click(MMControl::Pause);
      else
        play();
      break;
    case PlayerRequest::Stop:
      bar.click(MMControl::Stop);
      break;
    case PlayerRequest::Next:
      bar.click(MMControl::Next);
      break;
    case PlayerRequest::Previous:
      bar.click(MMControl::Prev);
      break;
  }
}

}  // namespace plimra::ui

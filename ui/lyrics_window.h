// The lyrics window: the line being sung, its sung part highlighted as the
// song reaches each syllable, and the line that follows. It follows the
// song that plays (a new song shows its words, a song without words shows
// nothing) and its position, seeks included. Shown and hidden with the
// "歌詞を表示(&L)" option; it looks at the player while it is shown and a
// song plays, and when told the player has changed.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "ui/kit/controls.h"
#include "ui/kit/form.h"
#include "ui/player.h"

namespace plimra::ui {

class LyricsWindow : public plimra::kit::Form {
  Q_OBJECT

 public:
  // `source` gives the state of the player whose song it shows.
  explicit LyricsWindow(std::function<PlayerState()> source);

  // The line being sung, as its sung and its coming part, and the next line.
  plimra::kit::Label *sungText, *comingText, *nextLine;

 public slots:
  // Shows the words at the player's position now.
  void onTick();

 protected:
  void onUnload(int16_t& Cancel) override;
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void show(int line, uint64_t positionMs);

  std::function<PlayerState()> source_;
  QTimer tick_{this};
  std::shared_ptr<const seq::Lyrics> lyrics_;  // the words shown
};

}  // namespace plimra::ui

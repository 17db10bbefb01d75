#include "ui/lyrics_window.h"

#include <QHBoxLayout>
#include <QMenuBar>
#include <algorithm>

#include "ui/kit/appearance.h"
#include "ui/kit/twips.h"
#include "ui/options.h"

namespace plimra::ui {

namespace kit = plimra::kit;

namespace {

constexpr uint32_t kSungColor = kit::RGB(0, 0, 255);
// A syllable lasts a tenth of a second or more: a look every 40 ms while
// the song plays highlights it in time. Otherwise the player's changes are
// told to the window.
constexpr int kPlayingLookMs = 40;

kit::Label* makeLine(QWidget* parent, const char* name, uint32_t color) {
  auto* l = new kit::Label(parent);
  l->setObjectName(QLatin1String(name));
  l->setFont(kit::layoutFont(kit::kGothic, 14));
  l->setWordWrap(false);
  l->setBackColor(kit::COLOR_WINDOW);
  l->setForeColor(color);
  return l;
}

}  // namespace

LyricsWindow::LyricsWindow(std::function<PlayerState()> source)
    : kit::Form(QStringLiteral("lyricsWindow"), 7200, 1200), source_(std::move(source)) {
  setCaption(QStringLiteral("歌詞"));
  menuBar()->setVisible(false);
  QWidget* c = client();
  kit::setBackColor(c, kit::COLOR_WINDOW);

  // The line being sung: its sung part and what is still to come, side by
  // side; the next line below it.
  auto* current = new QWidget(c);
  auto* row = new QHBoxLayout(current);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  sungText = makeLine(current, "sungText", kSungColor);
  comingText = makeLine(current, "comingText", kit::COLOR_WINDOWTEXT);
  row->addWidget(sungText);
  row->addWidget(comingText);
  row->addStretch();
  kit::place(current, 120, 120, 6960, 480);
  nextLine = makeLine(c, "nextLine", kit::COLOR_WINDOWTEXT);
  kit::place(nextLine, 480, 600, 6600, 480);

  connect(&tick_, &QTimer::timeout, this, &LyricsWindow::onTick);
}

void LyricsWindow::showEvent(QShowEvent* e) {
  kit::Form::showEvent(e);
  onTick();
}

void LyricsWindow::hideEvent(QHideEvent* e) {
  tick_.stop();
  kit::Form::hideEvent(e);
}

void LyricsWindow::onUnload(int16_t& /*Cancel*/) {
  // The close box turns the option off, as the menu item would.
  options().setFlag(Options::Flag::Lyrics, false);
}

void LyricsWindow::onTick() {
  // The state carries the words of the song it names: another song, or
  // none, brings its own.
  const PlayerState state = source_();
  lyrics_ = state.lyrics;
  if (state.status != PlayerState::Status::Playing)
    tick_.stop();
  else if (!tick_.isActive())
    tick_.start(kPlayingLookMs);
  const uint64_t positionMs = static_cast<uint64_t>(std::max<int64_t>(0, state.positionMs));
  // Before the first line begins it shows, nothing of it sung yet.
  show(lyrics_ ? std::max(0, lyrics_->lineAt(positionMs)) : -1, positionMs);
}

void LyricsWindow::show(int line, uint64_t positionMs) {
  QString sung, coming, next;
  if (lyrics_ && line >= 0 && static_cast<size_t>(line) < lyrics_->lines.size()) {
    for (const seq::LyricSyllable& s : lyrics_->lines[static_cast<size_t>(line)].syllables)
      (s.startMs <= positionMs ? sung : coming) += QString::fromStdString(s.text);
    if (static_cast<size_t>(line) + 1 < lyrics_->lines.size())
      next = QString::fromStdString(lyrics_->lines[static_cast<size_t>(line) + 1].text());
  }
  // Written only when it changes: a label repaints on every new text.
  if (sungText->text() != sung) sungText->setCaption(sung);
  if (comingText->text() != coming) comingText->setCaption(coming);
  if (nextLine->text() != next) nextLine->setCaption(next);
}

}  // namespace plimra::ui

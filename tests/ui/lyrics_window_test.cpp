// The lyrics window against the recording sequencer, whose position the test
// sets: the option and its mark, the lines of the four songs with words as
// the user reads them, seeks and song changes, a song without words, and
// what the desktop is told of the song.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QStringList>
#include <QTimer>

#include "tests/support/midi_file.h"
#include "tests/support/window_test.h"
#include "ui/lyrics_window.h"

namespace {

using plimra::ui::LyricsWindow;
using plimra::ui::lyricsWindow;

class LyricsWindowTest : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    // Karaoke files are often named .MID: the list shows only those.
    for (const auto& song : plimra::test::lyricSongs()) {
      const std::string name = std::string(song.name).substr(0, std::string(song.name).find('.'));
      ASSERT_TRUE(plimra::test::writeFile((music + "/" + name.c_str() + ".mid").toStdString(),
                                          song.bytes));
    }
    ASSERT_TRUE(plimra::test::writeFile((music + "/plain.mid").toStdString(),
                                        plimra::test::noteSong(60, 100)));
    sequencer->answer(mci::StatusItem::Length, 2000);
  }

  // The three lines as the window shows them once it has looked at
  // `positionMs`: the sung part, the part to come, the next line.
  QStringList shownAt(uint32_t positionMs) {
    sequencer->answer(mci::StatusItem::Position, positionMs);
    LyricsWindow* l = lyricsWindow();
    l->onTick();
    return {l->sungText->text(), l->comingText->text(), l->nextLine->text()};
  }

  // How often the window looks at the player; 0 when it does not.
  static int tickEvery() {
    const auto* t = lyricsWindow()->findChild<QTimer*>();
    return t && t->isActive() ? t->interval() : 0;
  }
};

}  // namespace

// Files in list order: birthday (karaoke), cafe (Latin-1), gruesse (UTF-8),
// plain (no words), sakura (Shift-JIS).
TEST_F(LyricsWindowTest, ShowsTheLineSungAndTheNextFollowingSeeksAndSongs) {
  writeIni("[Option]\nLyrics=True\n");
  MidiWindow& w = startPlayer();
  // Saved as shown: the window is up at start, its item marked.
  ASSERT_TRUE(lyricsWindow()->isVisible());
  EXPECT_TRUE(checked(w.lyricsItem));
  EXPECT_TRUE(QFontInfo(lyricsWindow()->sungText->font()).family().startsWith("IPA"));

  play(4);
  EXPECT_EQ(shownAt(0), (QStringList{"さくら", "", "表ソラ"}));
  EXPECT_EQ(shownAt(700), (QStringList{"表", "ソラ", "はな"}));
  EXPECT_EQ(shownAt(1500), (QStringList{"はな", "", ""}));
  EXPECT_EQ(shownAt(100), (QStringList{"さくら", "", "表ソラ"}));  // sought back
  EXPECT_EQ(tickEvery(), 40);
  // Paused, it looks only when told: a seek shows at once, a resume ticks.
  w.transport->click(MMControl::Pause);
  pump();
  EXPECT_EQ(tickEvery(), 0);
  sequencer->answer(mci::StatusItem::Position, 1500);
  ASSERT_TRUE(w.seek(1500));
  EXPECT_EQ(lyricsWindow()->sungText->text(), "はな");
  w.transport->click(MMControl::Pause);
  pump();
  EXPECT_EQ(tickEvery(), 40);
  // The desktop reads the title from the first track and the whole text.
  auto state = w.playerState();
  EXPECT_EQ(state.title, "春の歌");
  ASSERT_TRUE(state.lyrics);
  EXPECT_EQ(state.lyrics->text(), "さくら\n表ソラ\nはな");

  play(0);
  EXPECT_EQ(shownAt(600), (QStringList{"Happy ", "", "birthday"}));
  EXPECT_EQ(w.playerState().title, "birthday.mid");
  play(1);
  EXPECT_EQ(shownAt(0), (QStringList{"Café", " au lait", ""}));
  play(2);
  EXPECT_EQ(shownAt(1050), (QStringList{"Grüße an dich", "", "ÄÖ"}));
  play(3);
  EXPECT_EQ(shownAt(50), (QStringList{"", "", ""}));
  EXPECT_EQ(w.playerState().lyrics->text(), "");

  // Closed by its item, it looks at nothing; its close box turns the option
  // off as the item does.
  choose(w.lyricsItem);
  EXPECT_FALSE(lyricsWindow()->isVisible() || checked(w.lyricsItem));
  EXPECT_EQ(tickEvery(), 0);
  choose(w.lyricsItem);
  EXPECT_TRUE(lyricsWindow()->isVisible());
  lyricsWindow()->close();
  EXPECT_FALSE(options().flag(Flag::Lyrics) || checked(w.lyricsItem));
  EXPECT_EQ(tickEvery(), 0);
}

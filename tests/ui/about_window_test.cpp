// The About window of the MIDI window's help menu: its text, where it
// stands, and its one button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPointer>
#include <QTest>

#include "tests/support/window_test.h"
#include "ui/about_window.h"

namespace {
using AboutWindowTest = plimra::test::WindowTest;
}  // namespace

TEST_F(AboutWindowTest, ShowsItsSixLinesWholeBesideTheMidiWindowAndIsBuiltAnewEachTime) {
  MidiWindow& w = startMidiWindow();
  w.Move(1000, 500);
  QPointer<plimra::ui::AboutWindow> first;
  for (int round = 0; round < 2; ++round) {
    w.onAbout();
    auto* about = plimra::ui::aboutWindow();
    // Modal: the MIDI window takes no input while it is shown.
    EXPECT_EQ(QApplication::activeModalWidget(), about);
    // Within the rounding to whole pixels (15 twips).
    EXPECT_NEAR(about->Left(), w.Left() + 200, 8);
    EXPECT_NEAR(about->Top(), w.Top() + 200, 8);
    // Escape leaves it open; Enter on its one button closes it.
    QTest::keyClick(about, Qt::Key_Escape);
    EXPECT_TRUE(about->isVisible());
    const QStringList lines = about->aboutText->text().split(u'\n');
    EXPECT_EQ(lines, (QStringList{"Midi Player Version 5.95", "    for Linux (X11 / Wayland)",
                                  "    C++20 / Qt " + QString::fromLatin1(qVersion()),
                                  "Copyright (C) Plimra developers",
                                  "             Plimra: see its README", "October 13, 1997"}));
    EXPECT_EQ(about->nameLabel->text(), "Ｐｌｉｍｒａ");
    EXPECT_EQ(about->okButton->text(), "了解");
    // Every line shows whole, whatever the installed font's metrics.
    const QFontMetrics m(about->aboutText->font());
    EXPECT_LE(m.lineSpacing() * 6, about->aboutText->height());
    if (round == 0) first = about;
    QTest::keyClick(about->okButton, Qt::Key_Return);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull()) << "a closed About window is destroyed";
}

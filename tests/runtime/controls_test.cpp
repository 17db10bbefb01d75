#include "runtime/controls.h"

#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace plimra::rt;

TEST(Controls, LabelCaptionBreaksLinesAtCarriageReturns) {
  Label l;
  l.setCaption("Track\r\n01");
  EXPECT_EQ(l.text(), "Track\n01");
  l.setCaption("a\rb");
  EXPECT_EQ(l.text(), "a\nb");
  EXPECT_EQ(l.Caption(), "a\rb");
  l.setBackColor(0x80000005u);
  EXPECT_EQ(l.palette().color(QPalette::Window), QApplication::palette().color(QPalette::Base));
}

TEST(Controls, LabelArrayReportsTheClickedIndex) {
  QWidget w;
  LabelArray arr;
  for (int i = 0; i < 3; ++i) {
    auto* l = new Label(&w);
    l->setGeometry(0, i * 20, 50, 20);
    arr.add(i, l);
  }
  std::vector<int> clicked;
  QObject::connect(&arr, &LabelArray::Click, [&](int i) { clicked.push_back(i); });
  w.show();
  QTest::mouseClick(arr[2], Qt::LeftButton);
  QTest::mouseClick(arr[0], Qt::LeftButton);
  QTest::mouseClick(arr[1], Qt::RightButton);
  EXPECT_EQ(clicked, (std::vector<int>{2, 0}));
  EXPECT_EQ(arr[3], nullptr);
  EXPECT_EQ(arr[-1], nullptr);
  EXPECT_EQ(arr.Count(), 3);
}

TEST(Controls, ListBoxKeepsOrderAndRefusesIndexesOutsideTheList) {
  ListBox l;
  EXPECT_EQ(l.ListIndex(), -1);
  for (const char* t : {"MIDI Mapper", "Synth", "Another"}) l.AddItem(t);
  EXPECT_EQ(l.List(1), "Synth");
  EXPECT_EQ(l.List(2), "Another");  // unsorted
  EXPECT_TRUE(l.setListIndex(2));
  EXPECT_EQ(l.ListIndex(), 2);
  EXPECT_FALSE(l.setListIndex(3));
  EXPECT_FALSE(l.setListIndex(-2));
  EXPECT_EQ(l.ListIndex(), 2);
  EXPECT_TRUE(l.setListIndex(-1));
  EXPECT_EQ(l.ListIndex(), -1);
}

TEST(Controls, TextBoxKeyDownGivesClassicKeyCodesAndCanSwallowKeys) {
  TextBox t;
  std::vector<std::pair<int, int>> keys;
  QObject::connect(&t, &TextBox::KeyDown, [&](int& code, int shift) {
    keys.emplace_back(code, shift);
    if (code == 13) code = 0;
  });
  int returns = 0;
  QObject::connect(&t, &QLineEdit::returnPressed, [&] { ++returns; });
  t.show();
  QTest::keyClick(&t, Qt::Key_A, Qt::ShiftModifier);
  QTest::keyClick(&t, Qt::Key_Return);
  QTest::keyClick(&t, Qt::Key_Enter, Qt::ControlModifier);
  QTest::keyClick(&t, Qt::Key_Escape);
  // The modifier keys report themselves too (16 Shift, 17 Ctrl).
  EXPECT_EQ(keys, (std::vector<std::pair<int, int>>{
                      {16, 1}, {65, 1}, {13, 0}, {17, 2}, {13, 2}, {27, 0}}));
  EXPECT_EQ(returns, 0);  // both Enters were swallowed
  EXPECT_EQ(t.Text().toUpper(), "A");
}

TEST(Controls, TimerWithIntervalZeroNeverTicks) {
  Timer timer;
  int ticks = 0;
  QObject::connect(&timer, &Timer::Tick, [&] { ++ticks; });
  EXPECT_TRUE(timer.Enabled());
  EXPECT_FALSE(timer.ticking());
  QTest::qWait(60);
  EXPECT_EQ(ticks, 0);
  timer.setInterval(10);
  QElapsedTimer clock;
  clock.start();
  while (ticks < 3 && clock.elapsed() < 5000) QTest::qWait(5);
  EXPECT_GE(ticks, 3);
  timer.setInterval(0);
  const int before = ticks;
  QTest::qWait(60);
  EXPECT_EQ(ticks, before);
  timer.setInterval(10);
  timer.setEnabled(false);
  EXPECT_FALSE(timer.ticking());
}

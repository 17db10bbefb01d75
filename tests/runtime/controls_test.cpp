// Forms, menus and the controls the windows are made of.
#include "runtime/controls.h"

#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QApplication>
#include <QMenuBar>
#include <QTest>

#include "runtime/form.h"
#include "runtime/menu.h"

using namespace plimra::rt;

namespace {

class TestForm : public Form {
 public:
  TestForm() : Form("frmTest", 4155, 2655) {}
  int loads = 0, activates = 0, unloads = 0;
  bool cancel = false;

 protected:
  void Form_Load() override { ++loads; }
  void Form_Activate() override { ++activates; }
  void Form_Unload(int16_t& Cancel) override {
    ++unloads;
    if (cancel) Cancel = -1;
  }
};

}  // namespace

TEST(Form, FixedClientSizeBelowTheMenuAndPlacementInTwips) {
  TestForm f;
  MenuItem menu(f.menuBar(), "mnuFile", "ＣＤ(&F)");
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
  f.Show();
  QApplication::processEvents();
  EXPECT_EQ(f.minimumSize(), f.maximumSize());
  EXPECT_EQ(f.client()->size(), QSize(277, 177));
  EXPECT_GT(f.client()->y(), 0);
  f.Move(1500, 3000);
  EXPECT_EQ(f.Left(), 1500);
  EXPECT_EQ(f.Top(), 3000);
  f.setWindowState(1);
  EXPECT_EQ(f.WindowState(), 1);
  f.setWindowState(0);
  EXPECT_EQ(f.WindowState(), 0);
}

TEST(Form, LoadsOnceActivatesOnShowAndUnloadCanBeCancelled) {
  TestForm f;
  f.Load();
  f.Show();
  f.Show();  // already the active form: no second activation
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(f.activates, 1);
  f.Hide();
  f.Show();
  EXPECT_EQ(f.activates, 2);
  EXPECT_EQ(Form::activeForm(), &f);
  f.cancel = true;
  f.Unload();
  EXPECT_TRUE(f.isVisible());
  f.cancel = false;
  f.Unload();
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.unloads, 2);
}

TEST(Menu, CheckMarksBelongToTheHandlerNotToTheClick) {
  QMenuBar bar;
  MenuItem top(&bar, "mnuOpt", "動作環境(&O)");
  auto* mode = new MenuItem(&top, "mnuMode", "再生モード");
  auto* single = new MenuItem(mode, "mnuSingle", "１曲のみ再生");
  auto* random = new MenuItem(mode, "mnuRandom", "連続再生(ランダム)");
  int singleClicks = 0, modeClicks = 0;
  QObject::connect(single, &MenuItem::Click, [&] { ++singleClicks; });
  QObject::connect(mode, &MenuItem::Click, [&] { ++modeClicks; });
  EXPECT_EQ(top.menu()->actions()[0]->menu(), mode->menu());

  random->setChecked(true);
  single->action()->trigger();  // unchecked item: clicking draws no mark
  EXPECT_FALSE(single->Checked());
  EXPECT_FALSE(single->action()->isChecked());
  random->action()->trigger();  // checked item: the mark stays
  EXPECT_TRUE(random->action()->isChecked());
  random->setChecked(false);
  EXPECT_FALSE(random->action()->isChecked());
  EXPECT_EQ(singleClicks, 1);
  mode->trigger();  // a submenu is no command
  EXPECT_EQ(modeClicks, 0);
}

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
}

TEST(Controls, ListBoxKeepsOrderAndRefusesIndexesOutsideTheList) {
  ListBox l;
  for (const char* t : {"MIDI Mapper", "Synth", "Another"}) l.AddItem(t);
  EXPECT_EQ(l.List(2), "Another");  // unsorted
  EXPECT_TRUE(l.setListIndex(2));
  EXPECT_FALSE(l.setListIndex(3));
  EXPECT_FALSE(l.setListIndex(-2));
  EXPECT_EQ(l.ListIndex(), 2);
  EXPECT_TRUE(l.setListIndex(-1));
  EXPECT_EQ(l.ListIndex(), -1);
}

TEST(Controls, TimerTicksOnlyWhileEnabledWithAnInterval) {
  Timer timer;
  int ticks = 0;
  QObject::connect(&timer, &Timer::Tick, [&] { ++ticks; });
  EXPECT_TRUE(timer.Enabled());
  EXPECT_FALSE(timer.ticking());  // interval 0: a timer of 0 ms would spin
  timer.setInterval(10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  timer.setInterval(0);
  EXPECT_FALSE(timer.ticking());
  timer.setInterval(10);
  timer.setEnabled(false);
  EXPECT_FALSE(timer.ticking());
}

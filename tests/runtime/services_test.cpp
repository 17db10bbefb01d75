#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QTimer>
#include <chrono>
#include <set>
#include <thread>

#include "runtime/appearance.h"
#include "runtime/form.h"
#include "runtime/menu.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "tests/support/scripted_msgbox.h"

using namespace plimra::rt;
using plimra::test::ScriptedMsgBox;

TEST(MsgBox, EscapeAnswersFollowTheButtons) {
  EXPECT_EQ(escapeAnswer(vbOKOnly), vbOK);
  EXPECT_EQ(escapeAnswer(vbYesNo + vbExclamation), vbNo);
  EXPECT_EQ(escapeAnswer(vbRetryCancel), vbCancel);
  EXPECT_EQ(escapeAnswer(vbYesNoCancel), vbCancel);
  // A box without a title shows the application's name.
  ScriptedMsgBox boxes;
  EXPECT_EQ(MsgBox("disc?", vbRetryCancel), vbCancel);
  EXPECT_EQ(boxes.asked().at(0).title, "Plimra");
}

TEST(Program, AppPathHasNoTrailingSlashExceptAtTheRoot) {
  setAppPath("/tmp/prog/");
  EXPECT_EQ(AppPath(), "/tmp/prog");
  setAppPath("/");
  EXPECT_EQ(AppPath(), "/");
  setAppPath({});
  EXPECT_EQ(AppPath(), QCoreApplication::applicationDirPath());
}

TEST(Program, EndRunsTheReplacementAndReturns) {
  int ended = 0;
  setEndHandler([&] { ++ended; });
  End();
  setEndHandler({});
  EXPECT_EQ(ended, 1);
}

TEST(Program, DoEventsRunsPendingEventsReentrantly) {
  int ran = 0;
  QTimer::singleShot(0, [&] {
    ++ran;
    // A handler that yields itself (a nested wait) still returns.
    QTimer::singleShot(0, [&] { ++ran; });
    DoEvents();
  });
  DoEvents();
  DoEvents();
  EXPECT_EQ(ran, 2);
}

TEST(Program, RandomNumbersLieInTheUnitIntervalAndReseedFromTheClock) {
  Randomize();
  float lo = 1, hi = 0;
  std::set<float> seen;
  for (int i = 0; i < 20000; ++i) {
    const float r = Rnd();
    ASSERT_GE(r, 0.0f);
    ASSERT_LT(r, 1.0f);
    lo = std::min(lo, r);
    hi = std::max(hi, r);
    seen.insert(r);
  }
  EXPECT_LT(lo, 0.01f);
  EXPECT_GT(hi, 0.99f);
  EXPECT_GT(seen.size(), 19000u);
  // Seeds a moment apart give different first draws (each draw picks a
  // file, so equal seeds would replay the same choice).
  std::set<float> firsts;
  for (int i = 0; i < 5; ++i) {
    Randomize();
    firsts.insert(Rnd());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GE(firsts.size(), 4u);
}

TEST(Appearance, ColoursFromRgbAndSystemIndexes) {
  EXPECT_EQ(toQColor(RGB(255, 255, 128)), QColor(255, 255, 128));
  EXPECT_EQ(toQColor(0x00FF0000u), QColor(0, 0, 255));  // BGR order
  EXPECT_EQ(toQColor(0x80000005u), QApplication::palette().color(QPalette::Base));
  EXPECT_EQ(toQColor(0x80000008u), QApplication::palette().color(QPalette::Text));
  EXPECT_EQ(toQColor(0x8000000Fu), QApplication::palette().color(QPalette::Button));
}

TEST(Appearance, JapaneseFaceNamesResolveToInstalledJapaneseFonts) {
  installJapaneseFontSubstitutes();
  for (const QString& face : {kGothic, kPGothic, kMincho}) {
    const QFont f = layoutFont(face, 10.5);
    EXPECT_DOUBLE_EQ(f.pointSizeF(), 10.5);
    const QFontInfo info(f);
    EXPECT_TRUE(info.family().startsWith("IPA") || info.family().contains("CJK"))
        << face.toStdString() << " -> " << info.family().toStdString();
    const QFontMetrics m(f);
    EXPECT_TRUE(m.inFont(QChar(0x66F2)));  // 曲
  }
}

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

TEST(Form, FixedClientSizeInTwipsWithoutMaximiseButton) {
  TestForm f;
  MenuItem menu(f.menuBar(), "mnuFile", "ＣＤ(&F)");
  EXPECT_EQ(f.client()->size(), QSize(277, 177));
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
  f.Show();
  QApplication::processEvents();
  EXPECT_EQ(f.minimumSize(), f.maximumSize());
  EXPECT_EQ(f.client()->size(), QSize(277, 177));
  EXPECT_GT(f.client()->y(), 0);  // below the menu bar
}

TEST(Form, LoadRunsOnceAndShowActivates) {
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
}

TEST(Form, MoveAndWindowStateInTwips) {
  TestForm f;
  f.Show();
  f.Move(1500, 3000);
  EXPECT_EQ(f.Left(), 1500);
  EXPECT_EQ(f.Top(), 3000);
  f.setWindowState(1);
  EXPECT_EQ(f.WindowState(), 1);
  f.setWindowState(0);
  EXPECT_EQ(f.WindowState(), 0);
}

TEST(Form, UnloadCanBeCancelled) {
  TestForm f;
  f.Show();
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
  auto* time = new MenuItem(&top, "mnuTime", "再生中、時間を表示");
  int singleClicks = 0, modeClicks = 0;
  QObject::connect(single, &MenuItem::Click, [&] { ++singleClicks; });
  QObject::connect(mode, &MenuItem::Click, [&] { ++modeClicks; });

  // The tree: the submenu sits where its item was created, in order.
  ASSERT_EQ(top.menu()->actions().size(), 2);
  EXPECT_EQ(top.menu()->actions()[0], mode->action());
  EXPECT_EQ(top.menu()->actions()[0]->menu(), mode->menu());
  EXPECT_EQ(top.menu()->actions()[1]->text(), "再生中、時間を表示");
  ASSERT_EQ(mode->menu()->actions().size(), 2);
  EXPECT_EQ(mode->menu()->actions()[1]->text(), "連続再生(ランダム)");
  EXPECT_EQ(bar.actions()[0]->text(), "動作環境(&O)");

  random->setChecked(true);
  single->action()->trigger();  // unchecked item: clicking draws no mark
  EXPECT_FALSE(single->Checked());
  EXPECT_FALSE(single->action()->isChecked());
  random->action()->trigger();  // checked item: the mark stays
  EXPECT_TRUE(random->action()->isChecked());
  random->setChecked(false);
  EXPECT_FALSE(random->action()->isChecked());
  EXPECT_EQ(singleClicks, 1);
  mode->trigger();
  EXPECT_EQ(modeClicks, 0);
  EXPECT_FALSE(time->Checked());
}

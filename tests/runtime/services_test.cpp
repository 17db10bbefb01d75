// Conversions, message boxes, random numbers, colours, fonts, forms and
// labels.
#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMenuBar>
#include <QPalette>
#include <chrono>
#include <cmath>
#include <set>
#include <thread>

#include "runtime/appearance.h"
#include "runtime/controls.h"
#include "runtime/conversions.h"
#include "runtime/form.h"
#include "runtime/menu.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "tests/support/scripted_msgbox.h"

using namespace plimra::rt;
using plimra::test::ScriptedMsgBox;

TEST(Conversions, ValTakesTheLeadingNumberWithBlanksAnywhere) {
  const std::pair<const char*, double> cases[] = {
      {" 2160", 2160}, {"- 1", -1},    {"1 2 3", 123}, {"\t42\n", 42},     {"12abc", 12},
      {".5x", 0.5},    {"1e3", 1000},  {"1e", 1},      {"1.5.5", 1.5},     {"+7", 7},
      {"", 0},         {"abc", 0},     {"-", 0},       {"e5", 0},          {"&H", 0},
      {"&HFF", 255},   {"&hffff", -1}, {"&O17", 15},   {"&H10000", 65536},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(Val(text), value) << text;
  EXPECT_EQ(Val(QStringLiteral("１２")), 0);  // full-width digits are no number
  EXPECT_TRUE(std::isfinite(Val("1e999")));
}

TEST(Conversions, BooleansFromWordsOrNumbersOnly) {
  for (const char* t : {"True", " tRuE ", "-1", "2.5", "&H1"})
    EXPECT_EQ(CBool(t), std::optional<bool>(true)) << t;
  for (const char* t : {"FALSE", " 0 ", "0.0"})
    EXPECT_EQ(CBool(t), std::optional<bool>(false)) << t;
  for (const char* t : {"", "yes", "1x", "Truex", "- 1"}) EXPECT_EQ(CBool(t), std::nullopt) << t;
}

TEST(Conversions, RoundingHalvesGoToTheEvenNeighbourWithinRange) {
  const std::pair<double, std::optional<int16_t>> cases[] = {
      {0.5, 0},      {1.5, 2},     {2.5, 2},           {-2.5, -2}, {2.5001, 3},    {32767.4, 32767},
      {32767.5, {}}, {-32769, {}}, {-32768.5, -32768}, {NAN, {}},  {INFINITY, {}},
  };
  for (const auto& [value, rounded] : cases) EXPECT_EQ(CInt(value), rounded) << value;
  EXPECT_EQ(CLng(2147483647.4), int32_t{2147483647});
  EXPECT_EQ(CLng(2147483648.0), std::nullopt);
}

TEST(MsgBox, EscapeGivesTheCancellingAnswerAndTheTitleIsTheProgramsName) {
  EXPECT_EQ(escapeAnswer(vbOKOnly), vbOK);
  EXPECT_EQ(escapeAnswer(vbYesNo + vbExclamation), vbNo);
  ScriptedMsgBox boxes;
  EXPECT_EQ(MsgBox("disc?", vbRetryCancel), vbCancel);
  EXPECT_EQ(boxes.asked().at(0).title, "Plimra");
}

TEST(Program, RandomNumbersSpreadOverTheUnitIntervalAndReseedFromTheClock) {
  // A draw of 1 would pick a song past the end of the list.
  Randomize();
  std::set<float> seen;
  for (int i = 0; i < 20000; ++i) seen.insert(Rnd());
  EXPECT_GE(*seen.begin(), 0.0f);
  EXPECT_LT(*seen.begin(), 0.01f);
  EXPECT_GT(*seen.rbegin(), 0.99f);
  EXPECT_LT(*seen.rbegin(), 1.0f);
  EXPECT_GT(seen.size(), 19000u);
  // Each start reseeds; equal seeds would replay the same choice of songs.
  std::set<float> firsts;
  for (int i = 0; i < 5; ++i) {
    Randomize();
    firsts.insert(Rnd());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the clock moves on
  }
  EXPECT_GE(firsts.size(), 4u);
}

TEST(Appearance, ColoursInBgrOrderOrFromTheSystemPalette) {
  EXPECT_EQ(toQColor(RGB(255, 255, 128)), QColor(255, 255, 128));
  EXPECT_EQ(toQColor(0x00FF0000u), QColor(0, 0, 255));
  EXPECT_EQ(toQColor(0x80000005u), QApplication::palette().color(QPalette::Base));
  EXPECT_EQ(toQColor(0x8000000Fu), QApplication::palette().color(QPalette::Button));
}

TEST(Appearance, JapaneseFaceNamesResolveToInstalledJapaneseFonts) {
  for (const QString& face : {kGothic, kPGothic, kMincho}) {
    const QFont f = layoutFont(face, 10.5);
    EXPECT_DOUBLE_EQ(f.pointSizeF(), 10.5);
    const QFontInfo info(f);
    EXPECT_TRUE(info.family().startsWith("IPA") || info.family().contains("CJK"))
        << face.toStdString() << " -> " << info.family().toStdString();
    EXPECT_TRUE(QFontMetrics(f).inFont(QChar(0x66F2)));  // 曲
  }
}

namespace {

class TestForm : public Form {
 public:
  TestForm() : Form("frmTest", 4155, 2655) {}
  int loads = 0, activates = 0;

 protected:
  void Form_Load() override { ++loads; }
  void Form_Activate() override { ++activates; }
};

}  // namespace

TEST(Form, FixedBelowItsMenuLoadedOnceAndActivatedOnlyWhenShownAnew) {
  TestForm f;
  MenuItem menu(f.menuBar(), "mnuFile", "ＣＤ(&F)");
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  f.Load();
  f.Show();
  f.Show();  // already the active form
  QApplication::processEvents();
  EXPECT_EQ(f.client()->size(), QSize(277, 177));
  EXPECT_GT(f.client()->y(), 0);
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(f.activates, 1);
  f.Hide();
  f.Show();
  EXPECT_EQ(f.activates, 2);
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

#include "midi/frmplimra.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "runtime/appearance.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "runtime/twips.h"
#include "tests/runtime/print.h"

using plimra::control::MMControl;
using plimra::midi::FrmPlimra;
namespace mci = plimra::mci;
namespace rt = plimra::rt;
namespace Module1 = plimra::Module1;

namespace {

class FakeCatalog : public mci::MidiOutCatalog {
 public:
  explicit FakeCatalog(std::vector<std::string> names) : names_(std::move(names)) {}
  std::vector<std::string> outputNames() override { return names_; }

 private:
  std::vector<std::string> names_;
};

// A sequencer that records what reaches it.
struct Record {
  std::vector<std::string> calls;
  int32_t mode = mci::ModeNotReady;
};

class RecordingSequencer : public mci::Device {
 public:
  explicit RecordingSequencer(std::shared_ptr<Record> r) : r_(std::move(r)) {}
  uint32_t open(const std::string& element) override {
    r_->calls.push_back("open " + element);
    r_->mode = mci::ModeStopped;
    return mci::err::None;
  }
  uint32_t close() override {
    r_->calls.push_back("close");
    r_->mode = mci::ModeNotReady;
    return mci::err::None;
  }
  uint32_t play(const mci::PlayParams&, mci::NotifyFn) override {
    r_->calls.push_back("play");
    r_->mode = mci::ModePlaying;
    return mci::err::None;
  }
  uint32_t stop() override {
    r_->mode = mci::ModeStopped;
    return mci::err::None;
  }
  uint32_t pause() override { return mci::err::None; }
  uint32_t resume() override { return mci::err::None; }
  uint32_t seek(const mci::SeekParams&) override { return mci::err::None; }
  uint32_t status(const mci::StatusParams& p, mci::StatusValue& out) override {
    out.kind = p.item == mci::StatusItem::Mode ? mci::StatusValue::Kind::Mode
                                               : mci::StatusValue::Kind::Integer;
    out.value = p.item == mci::StatusItem::Mode ? static_cast<uint32_t>(r_->mode) : 0;
    return mci::err::None;
  }
  uint32_t setTimeFormat(mci::TimeFormat) override { return mci::err::None; }

 private:
  std::shared_ptr<Record> r_;
};

void touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QStringList entries(const QListWidget* l) {
  QStringList out;
  for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
  return out;
}

// Each test starts the program in a folder of its own, with two drives (one
// without its medium), a chosen set of MIDI outputs, a recording sequencer
// and an end of program that only counts.
class MidiWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    music = QDir::cleanPath(root.filePath("music"));
    ASSERT_TRUE(QDir().mkpath(music + "/classics"));
    for (const char* n : {"song.mid", "ZZ.MID", "readme.txt"}) touch(music + "/" + n);
    touch(music + "/classics/bach.Mid");
    missing = root.path() + "-cd";
    rt::setDriveProvider([this] {
      return std::vector<rt::DriveInfo>{{root.path(), "DISK"}, {missing, "AUDIO_CD"}};
    });
    oldCwd = QDir::currentPath();
    QDir::setCurrent(music);
    rt::setAppPathForTests(root.path());
    setOutputs({"Built-in synthesizer", "USB MIDI 1"});
    mci::DeviceTable::instance().registerType(
        "Sequencer", [r = record] { return std::make_unique<RecordingSequencer>(r); });
    rt::setEndHandler([this] { ++ends; });
  }

  void TearDown() override {
    window.reset();
    plimra::app::destroyFormsForTests();
    mci::DeviceTable::instance().resetForTests();
    mci::setMidiOutCatalog(nullptr);
    rt::setEndHandler({});
    rt::setAppPathForTests({});
    rt::setDriveProvider({});
    QDir::setCurrent(oldCwd);
  }

  void setOutputs(std::vector<std::string> names) {
    mci::setMidiOutCatalog(std::make_shared<FakeCatalog>(std::move(names)));
  }

  FrmPlimra& start(plimra::midi::Links links = {}) {
    window = std::make_unique<FrmPlimra>(std::move(links));
    window->Load();
    window->Show();
    return *window;
  }

  QTemporaryDir root;
  QString music, missing, oldCwd;
  std::shared_ptr<Record> record = std::make_shared<Record>();
  std::unique_ptr<FrmPlimra> window;
  int ends = 0;
};

struct Place {
  const char* name;
  int left, top, width, height;
  bool visible;
};

}  // namespace

TEST_F(MidiWindow, LayoutAfterStartUp) {
  FrmPlimra& w = start();
  EXPECT_EQ(w.Caption(), "Midi Player");
  EXPECT_EQ(w.client()->size(), QSize(277, 177));  // 4155 x 2655 twips
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_EQ(w.client()->palette().color(QPalette::Window), QColor(255, 255, 128));
  EXPECT_EQ(w.windowIcon().pixmap(32, 32).size(), QSize(32, 32));

  // Positions in twips, whole pixels of 15 twips each.
  auto px = [](int twips) { return rt::PixelsToTwips(rt::TwipsToPixels(twips)); };
  const Place places[] = {
      {"Dir1", 2160, 480, 1932, 1452, true},    {"File1", 120, 120, 1932, 1710, true},
      {"Drive1", 2160, 120, 1935, 390, true},   {"lstPort", 120, 120, 3972, 1824, false},
      {"cmdOK", 120, 2160, 975, 375, false},    {"cmdCancel", 1560, 2160, 975, 375, false},
      {"cmdSave", 3000, 2160, 975, 375, false}, {"MMControl1", 120, 2160, 2832, 372, true},
  };
  for (const Place& p : places) {
    auto* c = w.client()->findChild<QWidget*>(p.name, Qt::FindDirectChildrenOnly);
    ASSERT_NE(c, nullptr) << p.name;
    EXPECT_EQ(rt::Left(c), px(p.left)) << p.name;
    EXPECT_EQ(rt::Top(c), px(p.top)) << p.name;
    EXPECT_EQ(rt::Width(c), px(p.width)) << p.name;
    EXPECT_EQ(rt::Height(c), px(p.height)) << p.name;
    EXPECT_EQ(c->isVisible(), p.visible) << p.name;
  }
  EXPECT_EQ(w.cmdOK->text(), "ＯＫ");
  EXPECT_EQ(w.cmdCancel->text(), "CANCEL");
  EXPECT_EQ(w.cmdSave->text(), "保存");

  // Fonts: the layout's faces, shown in Japanese fonts.
  EXPECT_EQ(w.File1->font().family(), rt::kMincho);
  EXPECT_DOUBLE_EQ(w.File1->font().pointSizeF(), 10.5);
  EXPECT_EQ(w.Dir1->font().family(), rt::kPGothic);
  EXPECT_DOUBLE_EQ(w.Drive1->font().pointSizeF(), 9);
  EXPECT_TRUE(QFontInfo(w.File1->font()).family().startsWith("IPA"));

  // Tab order over the visible controls, starting with the folder list.
  QWidget* f = w.Dir1;
  QStringList order;
  for (int i = 0; i < 200 && order.size() < 8; ++i, f = f->nextInFocusChain())
    if (f->parentWidget() == w.client() && !order.contains(f->objectName()))
      order << f->objectName();
  EXPECT_EQ(order, (QStringList{"Dir1", "File1", "Drive1", "lstPort", "cmdOK", "cmdCancel",
                                "cmdSave", "MMControl1"}));
  QWidget* visibleNext = w.Drive1->nextInFocusChain();
  while (!visibleNext->isVisible()) visibleNext = visibleNext->nextInFocusChain();
  EXPECT_EQ(visibleNext->objectName(), "MMControl1");
  EXPECT_EQ(w.focusWidget(), w.Dir1);

  // The transport bar: the sequencer, nothing open, four buttons hidden.
  MMControl& mm = *w.MMControl1;
  EXPECT_EQ(mm.DeviceType(), "Sequencer");
  EXPECT_TRUE(mm.Notify());
  EXPECT_FALSE(mm.Wait());
  EXPECT_EQ(mm.DeviceID(), 0);
  for (auto b : {MMControl::Step, MMControl::Back, MMControl::Record, MMControl::Eject})
    EXPECT_FALSE(mm.buttonVisible(b)) << b;
  for (auto b :
       {MMControl::Prev, MMControl::Next, MMControl::Play, MMControl::Pause, MMControl::Stop})
    EXPECT_TRUE(mm.buttonVisible(b)) << b;
  EXPECT_TRUE(record->calls.empty());
}

TEST_F(MidiWindow, StartsCentredOnTheScreen) {
  FrmPlimra& w = start();
  // Centred by the size known before the first show, which has no frame.
  const int frameW = rt::PixelsToTwips(w.frameGeometry().width() - w.width());
  const int frameH = rt::PixelsToTwips(w.frameGeometry().height() - w.height());
  EXPECT_NEAR(w.Left(), (rt::ScreenWidth() - w.Width()) / 2, frameW + 15);
  EXPECT_NEAR(w.Top(), (rt::ScreenHeight() - w.Height()) / 2, frameH + 15);
  EXPECT_GT(w.Left(), 15 * 100);  // moved from where it was created
}

TEST_F(MidiWindow, MenuTreeCaptionsInOrder) {
  FrmPlimra& w = start();
  // Walks the menus as the user sees them: "caption" per item, nested
  // items indented.
  QStringList tree;
  std::function<void(const QList<QAction*>&, int)> walk = [&](const QList<QAction*>& as, int d) {
    for (QAction* a : as) {
      EXPECT_TRUE(a->isVisible() && a->isEnabled()) << a->text().toStdString();
      EXPECT_FALSE(a->isSeparator());
      tree << QString(d * 2, u' ') + a->text();
      if (a->menu()) walk(a->menu()->actions(), d + 1);
    }
  };
  walk(w.menuBar()->actions(), 0);
  const QStringList expected = {
      "ＣＤ(&F)",
      "  CD Player(&C)",
      "  終了(&X)",
      "動作環境(&O)",
      "  再生時アイコン化(&I)",
      "  再生モード",
      "    １曲のみ再生",
      "    連続再生",
      "    連続再生(ランダム)",
      "  音源初期化",
      "    なし",
      "    ＧＳリセット",
      "    ＧＭリセット",
      "  CDへの切替時に曲を止める",
      "  再生中、時間を表示",
      "  MIDI-OUTポートの指定(&P)",
      "  動作環境の保存(&S)",
      "ヘルプ(&H)",
      "  PLIMRAについて(&A)",
  };
  EXPECT_EQ(tree, expected);
  EXPECT_EQ(w.mnuRandom->action()->text(), "連続再生(ランダム)");
  EXPECT_EQ(w.mnuInit->menu()->actions()[2], w.mnuGM->action());
}

TEST_F(MidiWindow, DefaultOptionsMarkRandomStopOnSwitchAndGmReset) {
  std::vector<std::pair<bool, bool>> cdMarks;
  FrmPlimra& w = start({[&](bool m, bool c) { cdMarks.emplace_back(m, c); }, {}});
  QStringList checked;
  for (rt::MenuItem* m : w.findChildren<rt::MenuItem*>())
    if (m->Checked()) checked << m->action()->text();
  checked.sort();
  QStringList expected = {"連続再生(ランダム)", "CDへの切替時に曲を止める", "ＧＭリセット"};
  expected.sort();
  EXPECT_EQ(checked, expected);
  EXPECT_EQ(cdMarks, (std::vector<std::pair<bool, bool>>{{false, true}}));
  EXPECT_EQ(w.Timer1.Interval(), 0);
  EXPECT_FALSE(w.Timer1.ticking());
  EXPECT_EQ(Module1::OptReset, "GM");
  EXPECT_TRUE(Module1::OptChange && Module1::OptRandom);
  EXPECT_FALSE(Module1::OptMin || Module1::OptTime || Module1::OptSingle || Module1::OptContinue);
}

TEST_F(MidiWindow, SavedOptionsDecideTheMarksAndTheTimer) {
  struct Case {
    const char* reset;
    const char* marked;  // nullptr: no reset item
  };
  const Case cases[] = {{"NONE", "なし"},       {"NON", "なし"}, {"GSX", "ＧＳリセット"},
                        {"GM", "ＧＭリセット"}, {"gs", nullptr}, {"", nullptr},
                        {"NO", nullptr}};
  for (const Case& c : cases) {
    QFile ini(root.filePath("plimra.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(QByteArray("[Option]\nTime=True\nRandom=False\nSingle=True\nMIDIOUT=2\nReset=") +
              c.reset + "\n");
    ini.close();
    FrmPlimra& w = start();
    // Read after the port list was filled.
    EXPECT_EQ(w.lstPort->ListIndex(), 2);
    EXPECT_EQ(w.mnuNon->Checked(), c.marked && QString(c.marked) == "なし") << c.reset;
    EXPECT_EQ(w.mnuGS->Checked(), c.marked && QString(c.marked) == "ＧＳリセット") << c.reset;
    EXPECT_EQ(w.mnuGM->Checked(), c.marked && QString(c.marked) == "ＧＭリセット") << c.reset;
    EXPECT_TRUE(w.mnuTime->Checked());
    EXPECT_EQ(w.Timer1.Interval(), 100);
    EXPECT_TRUE(w.Timer1.ticking());
    EXPECT_FALSE(w.mnuRandom->Checked());
    EXPECT_TRUE(w.mnuSingle->Checked());
    window.reset();
  }
}

TEST_F(MidiWindow, PortListHoldsTheMapperThenEveryOutput) {
  setOutputs({});
  EXPECT_EQ(entries(start().lstPort), QStringList{"MIDI Mapper"});
  window.reset();

  setOutputs({"Built-in synthesizer", "USB MIDI 1", "ポート 2"});
  FrmPlimra& w = start();
  EXPECT_EQ(entries(w.lstPort),
            (QStringList{"MIDI Mapper", "Built-in synthesizer", "USB MIDI 1", "ポート 2"}));
  EXPECT_EQ(w.lstPort->ListIndex(), -1);
}

TEST_F(MidiWindow, BrowsingShowsMidiFilesOfAnyCaseAndFollowsTheFolder) {
  FrmPlimra& w = start();
  EXPECT_EQ(w.Dir1->Path(), music);
  EXPECT_EQ(w.Drive1->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(entries(w.File1), (QStringList{"song.mid", "ZZ.MID"}));
  ASSERT_TRUE(w.Dir1->setPath(music + "/classics"));
  EXPECT_EQ(w.File1->Path(), music + "/classics");
  EXPECT_EQ(entries(w.File1), QStringList{"bach.Mid"});
}

TEST_F(MidiWindow, ADriveWithoutMediumLeavesEverythingAsItWas) {
  FrmPlimra& w = start();
  rt::ScriptedMsgBox boxes;
  emit w.Drive1->activated(1);  // the user picks the empty CD drive
  EXPECT_EQ(w.Drive1->Drive(), root.path() + " [DISK]");
  EXPECT_EQ(w.Dir1->Path(), music);
  EXPECT_EQ(entries(w.File1), (QStringList{"song.mid", "ZZ.MID"}));
  EXPECT_EQ(boxes.asked().size(), 1u);
  // Set by code, as a saved drive at start-up would be: refused quietly.
  EXPECT_FALSE(w.Drive1->setDrive(missing));
  EXPECT_EQ(w.Dir1->Path(), music);
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(ends, 0);
}

TEST_F(MidiWindow, ExitClosesTheSequencerAndEndsTheProgram) {
  FrmPlimra& w = start();
  w.MMControl1->setFileName(music + "/song.mid");
  w.MMControl1->setCommand("OPEN");
  w.MMControl1->setCommand("PLAY");
  ASSERT_EQ(record->mode, mci::ModePlaying);
  w.mnuExit->trigger();
  EXPECT_EQ(record->calls.back(), "close");
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(w.MMControl1->DeviceID(), 0);
}

TEST_F(MidiWindow, ClosingTheWindowClosesTheSequencerAndEndsTheProgram) {
  FrmPlimra& w = start();
  w.MMControl1->setFileName(music + "/song.mid");
  w.MMControl1->setCommand("OPEN");
  w.close();
  EXPECT_EQ(record->calls,
            (std::vector<std::string>{"open " + (music + "/song.mid").toStdString(), "close"}));
  EXPECT_EQ(ends, 1);
  // With nothing open the program still ends.
  window.reset();
  FrmPlimra& again = start();
  again.mnuExit->trigger();
  EXPECT_EQ(ends, 2);
}

TEST_F(MidiWindow, ProgramWideInstancesShareOptionsWithTheCdWindow) {
  FrmPlimra* w = plimra::app::frmPlimra();
  EXPECT_EQ(plimra::app::frmPlimra(), w);
  plimra::cd::FrmCDp* cd = plimra::app::frmCDp();
  EXPECT_FALSE(cd->isVisible());
  EXPECT_FALSE(cd->mnuMin->Checked());
  EXPECT_TRUE(cd->mnuChange->Checked());
  EXPECT_TRUE(w->loaded());
}

// plimra.ini as the two windows use it: start-up reads it (or writes it on
// the first run), the option menus change what a save writes, and a save
// asks first and says when it failed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/mci/midiout.h"
#include "midi/frmplimra.h"
#include "runtime/filelists.h"
#include "runtime/msgbox.h"
#include "runtime/program.h"
#include "tests/support/scripted_msgbox.h"

namespace {

namespace rt = plimra::rt;
namespace mci = plimra::mci;
namespace Module1 = plimra::Module1;
using plimra::app::frmCDp;
using plimra::app::frmPlimra;

class ThreeOutputs : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override { return {"Synth", "USB 1", "USB 2"}; }
};

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

QStringList checkedIn(const plimra::midi::FrmPlimra* w) {
  QStringList out;
  for (auto* m : {w->mnuSingle, w->mnuContinue, w->mnuRandom, w->mnuNon, w->mnuGS, w->mnuGM,
                  w->mnuMin, w->mnuChange})
    if (m->Checked()) out << m->Name();
  return out;
}

// The program in a folder of its own, started in a music folder on the one
// drive there is, with four entries in the port list.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir().mkpath(prog) && QDir().mkpath(music));
    rt::setDriveProvider([this] { return std::vector<rt::DriveInfo>{{root.path(), "DISK"}}; });
    oldCwd = QDir::currentPath();
    QDir::setCurrent(music);
    rt::setAppPath(prog);
    mci::setMidiOutCatalog(std::make_shared<ThreeOutputs>());
    rt::setEndHandler([this] { ++ends; });
  }
  void TearDown() override {
    plimra::app::destroyForms();
    mci::setMidiOutCatalog(nullptr);
    rt::setEndHandler({});
    rt::setAppPath({});
    rt::setDriveProvider({});
    QDir::setCurrent(oldCwd);
  }
  void write(const QByteArray& text) {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }
  plimra::midi::FrmPlimra* restart() {
    plimra::app::destroyForms();
    return frmPlimra();
  }

  QTemporaryDir root;
  const QString prog = root.filePath("prog"), music = root.filePath("music");
  const QString ini = prog + "/plimra.ini";
  QString oldCwd;
  int ends = 0;
};

}  // namespace

TEST_F(Settings, FirstRunWritesTheStartUpStateAndTheNextRunReadsIt) {
  auto* w = frmPlimra();
  EXPECT_TRUE(frmCDp()->loaded() && !frmCDp()->isVisible());
  const QString expected = QString(
                               "[MID]\nDir=%1\nDrive=%2 [DISK]\n"
                               "[Option]\nMin=False\nChange=True\nTime=False\nSingle=False\n"
                               "Continue=False\nRandom=True\nMIDIOUT=-1\nMIDIOUTName=\nReset=GM\n"
                               "[Plimra]\nTop= %3\nLeft= %4\n[CDp]\nTop= %5\nLeft= %6\n")
                               .arg(music, root.path())
                               .arg(w->Top())
                               .arg(w->Left())
                               .arg(frmCDp()->Top())
                               .arg(frmCDp()->Left());
  EXPECT_EQ(QString::fromUtf8(bytesOf(ini)), expected);
  EXPECT_GT(w->Left(), 0);  // centred, not placed from the file

  w = restart();
  EXPECT_EQ(w->lstPort->ListIndex(), -1);
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuGM", "mnuChange"}));
}

TEST_F(Settings, ValuesFollowTheRuntimesTextRules) {
  struct Case {
    QByteArray file;
    QStringList checked;
    int port;
    QPoint place;  // left, top
  };
  // Four ports; MIDIOUT rounds halves to even. A missing key leaves the
  // default, but an empty reset and a window at 0, 0.
  const Case cases[] = {
      {"", {"mnuRandom", "mnuChange"}, 0, {0, 0}},
      {"[option]\nMIN=true\nMIDIOUT=2.5\nreset=GS\n[Plimra]\nTop=1500\nLeft=300",
       {"mnuRandom", "mnuGS", "mnuMin", "mnuChange"},
       2,
       {300, 1500}},
      {"[Option]\nMin=1\nRandom=0\nMIDIOUT=99\nReset=NONE",
       {"mnuNon", "mnuMin", "mnuChange"},
       -1,
       {0, 0}},
      {"[Option]\nMin=yes\nMIDIOUT=1.5\nReset=XG", {"mnuRandom", "mnuChange"}, 2, {0, 0}},
  };
  for (const Case& c : cases) {
    write(c.file);
    auto* w = restart();
    EXPECT_EQ(checkedIn(w), c.checked) << c.file.constData();
    EXPECT_EQ(w->lstPort->ListIndex(), c.port) << c.file.constData();
    EXPECT_EQ(QPoint(w->Left(), w->Top()), c.place) << c.file.constData();
  }
  EXPECT_EQ(Module1::OptReset, "XG");  // kept as written, and no reset sent
  EXPECT_EQ(bytesOf(ini), "[Option]\nMin=yes\nMIDIOUT=1.5\nReset=XG");  // read, not written
}

TEST_F(Settings, AFolderPathOf200BytesAndTheCdWindowsPlaceComeBack) {
  QString deep = music + "/General MIDI collection/";
  deep += QString(200 - deep.toUtf8().size(), u'x');
  ASSERT_TRUE(QDir().mkpath(deep));
  write(("[MID]\nDir=" + deep + "\n[CDp]\nTop=1200\nLeft=1800\n").toUtf8());
  auto* w = frmPlimra();
  EXPECT_EQ(w->File1->Path(), deep);
  EXPECT_EQ(QPoint(frmCDp()->Left(), frmCDp()->Top()), QPoint(1800, 1200));
  EXPECT_FALSE(frmCDp()->isVisible());
}

TEST_F(Settings, AFileThatCannotBeReadEndsTheProgramWithItsNumber) {
  ASSERT_TRUE(QDir().mkdir(ini));
  plimra::test::ScriptedMsgBox boxes;
  auto* w = frmPlimra();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.startsWith("予期せぬエラー: 75\n"));
  EXPECT_EQ(boxes.asked()[0].style, rt::vbOKOnly);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(checkedIn(w).isEmpty());  // start-up went no further
}

TEST_F(Settings, OptionMenusSetTheirOptionsAndMarks) {
  write("[Option]\nSingle=True\nRandom=True\nReset=XG\n");
  auto* w = frmPlimra();
  auto* cd = frmCDp();
  w->mnuRandom->trigger();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuChange"}));
  w->mnuContinue->trigger();
  w->mnuGS->trigger();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuContinue", "mnuGS", "mnuChange"}));
  w->mnuSingle->trigger();
  w->mnuNon->trigger();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuSingle", "mnuNon", "mnuChange"}));
  w->mnuGM->trigger();
  EXPECT_TRUE(Module1::OptSingle && !Module1::OptContinue && !Module1::OptRandom);
  EXPECT_EQ(Module1::OptReset, "GM");

  // The two shared options show in both windows, whichever is clicked.
  w->mnuMin->trigger();
  cd->mnuChange->trigger();
  EXPECT_TRUE(Module1::OptMin && w->mnuMin->Checked() && cd->mnuMin->Checked());
  EXPECT_FALSE(Module1::OptChange || w->mnuChange->Checked() || cd->mnuChange->Checked());
  cd->mnuMin->trigger();
  w->mnuChange->trigger();
  EXPECT_FALSE(Module1::OptMin || w->mnuMin->Checked() || cd->mnuMin->Checked());
  EXPECT_TRUE(Module1::OptChange && w->mnuChange->Checked() && cd->mnuChange->Checked());
}

TEST_F(Settings, SaveAsksFirstAndKeepsWhatTheUserWrote) {
  const QByteArray mine = "; kept by hand\n[Option]\nReset=GM\nColor=blue\n";
  write(mine);
  auto* w = frmPlimra();
  w->mnuContinue->trigger();
  w->mnuGS->trigger();

  plimra::test::ScriptedMsgBox boxes({rt::vbNo, rt::vbYes});
  w->mnuSave->trigger();
  EXPECT_EQ(bytesOf(ini), mine);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "保存してよろしいですか？");
  EXPECT_EQ(boxes.asked()[0].title, "PLIMRAの動作環境の保存");
  EXPECT_EQ(boxes.asked()[0].style, rt::vbYesNo + rt::vbExclamation);  // Yes is the default

  w->mnuSave->trigger();
  EXPECT_TRUE(bytesOf(ini).startsWith("; kept by hand\n[Option]\nReset=GS\nColor=blue\nMin=False"));
  EXPECT_TRUE(bytesOf(ini).contains("Continue=True\nRandom=False\nMIDIOUT= 0\n"));
  EXPECT_EQ(boxes.asked().size(), 2u);  // nothing more after a save that worked

  // The CD window's save writes the same file, with its own place.
  frmCDp()->Move(3000, 1500);
  boxes.answer(rt::vbYes);
  frmCDp()->mnuSave->trigger();
  EXPECT_TRUE(bytesOf(ini).endsWith("[CDp]\nTop= 1500\nLeft= 3000\n"));
}

TEST_F(Settings, AConfirmedSaveThatFailsSaysWhy) {
  auto* w = frmPlimra();
  ASSERT_TRUE(QFile::remove(ini) && QDir().mkdir(ini));  // no file can go there now
  plimra::test::ScriptedMsgBox boxes({rt::vbYes, rt::vbOK, rt::vbYes, rt::vbOK});
  w->mnuSave->trigger();
  frmCDp()->mnuSave->trigger();
  ASSERT_EQ(boxes.asked().size(), 4u);
  for (size_t i : {1u, 3u}) {
    EXPECT_TRUE(boxes.asked()[i].prompt.startsWith("動作環境を保存できませんでした。"));
    EXPECT_TRUE(boxes.asked()[i].prompt.contains(ini));
  }
}

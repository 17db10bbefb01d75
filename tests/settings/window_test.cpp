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

// The program in a folder of its own, started in a music folder on the
// one drive there is.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    prog = root.filePath("prog");
    music = root.filePath("music");
    ASSERT_TRUE(QDir().mkpath(prog) && QDir().mkpath(music));
    ini = prog + "/plimra.ini";
    rt::setDriveProvider([this] { return std::vector<rt::DriveInfo>{{root.path(), "DISK"}}; });
    oldCwd = QDir::currentPath();
    QDir::setCurrent(music);
    rt::setAppPathForTests(prog);
    mci::setMidiOutCatalog(std::make_shared<ThreeOutputs>());
    rt::setEndHandler([this] { ++ends; });
  }
  void TearDown() override {
    plimra::app::destroyFormsForTests();
    mci::setMidiOutCatalog(nullptr);
    rt::setEndHandler({});
    rt::setAppPathForTests({});
    rt::setDriveProvider({});
    QDir::setCurrent(oldCwd);
  }
  void write(const QByteArray& text) {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }
  plimra::midi::FrmPlimra* restart() {
    plimra::app::destroyFormsForTests();
    return frmPlimra();
  }

  QTemporaryDir root;
  QString prog, music, ini, oldCwd;
  int ends = 0;
};

}  // namespace

TEST_F(Settings, FirstRunWritesTheStartUpStateAndTheNextRunReadsIt) {
  auto* w = frmPlimra();
  auto* cd = frmCDp();
  EXPECT_TRUE(cd->loaded());
  EXPECT_FALSE(cd->isVisible());
  const QString expected = QString(
                               "[MID]\nDir=%1\nDrive=%2 [DISK]\n"
                               "[Option]\nMin=False\nChange=True\nTime=False\nSingle=False\n"
                               "Continue=False\nRandom=True\nMIDIOUT=-1\nReset=GM\n"
                               "[Plimra]\nTop= %3\nLeft= %4\n[CDp]\nTop= %5\nLeft= %6\n")
                               .arg(music, root.path())
                               .arg(w->Top())
                               .arg(w->Left())
                               .arg(cd->Top())
                               .arg(cd->Left());
  EXPECT_EQ(QString::fromUtf8(bytesOf(ini)), expected);
  EXPECT_GT(w->Left(), 0);  // centred, not taken from the file

  w = restart();
  EXPECT_EQ(w->lstPort->ListIndex(), -1);
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuGM", "mnuChange"}));
  EXPECT_EQ(bytesOf(ini).size(), expected.toUtf8().size());
}

TEST_F(Settings, AnEmptyFileKeepsTheDefaultsButTheResetAndPutsBothWindowsHome) {
  write("");
  auto* w = frmPlimra();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuChange"}));
  EXPECT_EQ(Module1::OptReset, "");
  EXPECT_FALSE(Module1::OptMin || Module1::OptTime || Module1::OptSingle || Module1::OptContinue);
  EXPECT_EQ(w->lstPort->ListIndex(), 0);  // the mapper
  EXPECT_EQ(QPoint(w->Left(), w->Top()), QPoint(0, 0));
  EXPECT_EQ(QPoint(frmCDp()->Left(), frmCDp()->Top()), QPoint(0, 0));
  EXPECT_EQ(w->Dir1->Path(), music);
  EXPECT_EQ(bytesOf(ini), "");  // read, not written
}

TEST_F(Settings, ValuesFollowTheRuntimesTextRules) {
  struct Case {
    const char* option;
    bool min;
    int port;
  };
  // The port list has four entries; MIDIOUT rounds halves to even.
  const Case cases[] = {{"Min=true\nMIDIOUT=2.5", true, 2},   {"Min=1\nMIDIOUT=1.5", true, 2},
                        {"Min=yes\nMIDIOUT=99", false, -1},   {"Min=-1\nMIDIOUT= 3", true, 3},
                        {"Min=FALSE\nMIDIOUT=-1", false, -1}, {"Min=\nMIDIOUT=x", false, 0}};
  for (const Case& c : cases) {
    write(QByteArray("[option]\n") + c.option + "\n[plimra]\ntop=1500\n");
    auto* w = restart();
    EXPECT_EQ(Module1::OptMin, c.min) << c.option;
    EXPECT_EQ(w->mnuMin->Checked(), c.min) << c.option;
    EXPECT_EQ(w->lstPort->ListIndex(), c.port) << c.option;
    EXPECT_EQ(w->Top(), 1500) << c.option;
  }
}

TEST_F(Settings, FolderDriveAndPlacesComeBackWhole) {
  // A 200-byte folder path, far beyond what older versions kept.
  QString deep = music + "/General MIDI collection/";
  deep += QString(200 - deep.toUtf8().size(), u'x');
  ASSERT_EQ(deep.toUtf8().size(), 200);
  ASSERT_TRUE(QDir().mkpath(deep));
  QFile(deep + "/song.mid").open(QIODevice::WriteOnly);
  write(("[MID]\nDir=" + deep + "\nDrive=" + root.path() +
         " [DISK]\n[Plimra]\nTop=600\nLeft=900\n[CDp]\nTop=1200\nLeft=1800\n")
            .toUtf8());
  auto* w = frmPlimra();
  EXPECT_EQ(w->Dir1->Path(), deep);
  EXPECT_EQ(w->File1->Path(), deep);
  EXPECT_EQ(w->File1->ListCount(), 1);
  EXPECT_EQ(QPoint(w->Left(), w->Top()), QPoint(900, 600));
  EXPECT_EQ(QPoint(frmCDp()->Left(), frmCDp()->Top()), QPoint(1800, 1200));
  EXPECT_FALSE(frmCDp()->isVisible());

  // Saved again as it was read.
  rt::ScriptedMsgBox boxes({rt::vbYes});
  w->mnuSave->trigger();
  EXPECT_TRUE(bytesOf(ini).contains(("Dir=" + deep + "\n").toUtf8()));
}

TEST_F(Settings, AFileThatCannotBeReadEndsTheProgramWithItsNumber) {
  ASSERT_TRUE(QDir().mkdir(ini));
  rt::ScriptedMsgBox boxes;
  auto* w = frmPlimra();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.startsWith("予期せぬエラー: 75\n"))
      << boxes.asked()[0].prompt.toStdString();
  EXPECT_EQ(boxes.asked()[0].style, rt::vbOKOnly);
  EXPECT_EQ(boxes.asked()[0].title, "Plimra");
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(checkedIn(w).isEmpty());  // start-up went no further
}

TEST_F(Settings, PlayModeAndResetAreEachOneOfThree) {
  write("[Option]\nSingle=True\nRandom=True\nContinue=False\nReset=XG\n");
  auto* w = frmPlimra();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuSingle", "mnuRandom", "mnuChange"}));
  w->mnuRandom->trigger();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuRandom", "mnuChange"}));
  EXPECT_FALSE(Module1::OptSingle || Module1::OptContinue);
  w->mnuContinue->trigger();
  w->mnuContinue->trigger();
  EXPECT_EQ(checkedIn(w), (QStringList{"mnuContinue", "mnuChange"}));
  EXPECT_TRUE(Module1::OptContinue && !Module1::OptRandom);
  w->mnuSingle->trigger();
  EXPECT_TRUE(Module1::OptSingle && !Module1::OptContinue);

  const std::pair<plimra::rt::MenuItem*, const char*> resets[] = {
      {w->mnuGS, "GS"}, {w->mnuNon, "NON"}, {w->mnuGM, "GM"}};
  for (const auto& [item, kind] : resets) {
    item->trigger();
    EXPECT_EQ(Module1::OptReset, kind);
    EXPECT_EQ(checkedIn(w), (QStringList{"mnuSingle", item->Name(), "mnuChange"}));
    EXPECT_EQ(w->mnuNon->Checked() + w->mnuGS->Checked() + w->mnuGM->Checked(), 1);
  }
}

TEST_F(Settings, TheTwoSharedTogglesShowInBothWindows) {
  auto* w = frmPlimra();
  auto* cd = frmCDp();
  w->mnuMin->trigger();
  EXPECT_TRUE(Module1::OptMin && w->mnuMin->Checked() && cd->mnuMin->Checked());
  w->mnuChange->trigger();
  EXPECT_FALSE(Module1::OptChange || w->mnuChange->Checked() || cd->mnuChange->Checked());
  cd->mnuMin->trigger();
  cd->mnuChange->trigger();
  EXPECT_TRUE(!Module1::OptMin && !w->mnuMin->Checked() && !cd->mnuMin->Checked());
  EXPECT_TRUE(Module1::OptChange && w->mnuChange->Checked() && cd->mnuChange->Checked());
}

TEST_F(Settings, SaveAsksFirstAndKeepsWhatTheUserWrote) {
  const QByteArray mine = "; kept by hand\n[Option]\nReset=GM\nColor=blue\n";
  write(mine);
  auto* w = frmPlimra();
  w->mnuContinue->trigger();
  w->mnuGS->trigger();
  w->mnuMin->trigger();

  rt::ScriptedMsgBox boxes({rt::vbNo, rt::vbYes});
  w->mnuSave->trigger();
  EXPECT_EQ(bytesOf(ini), mine);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "保存してよろしいですか？");
  EXPECT_EQ(boxes.asked()[0].title, "PLIMRAの動作環境の保存");
  EXPECT_EQ(boxes.asked()[0].style, rt::vbYesNo + rt::vbExclamation);  // Yes is the default

  w->mnuSave->trigger();
  const QByteArray saved = bytesOf(ini);
  EXPECT_TRUE(saved.startsWith("; kept by hand\n[Option]\nReset=GS\nColor=blue\nMin=True\n"))
      << saved.toStdString();
  EXPECT_TRUE(saved.contains("Continue=True\nRandom=False\nMIDIOUT= 0\n"));
  EXPECT_EQ(boxes.asked().size(), 2u);  // no message after a save that worked

  // The CD window's save writes the same file, with its own place.
  frmCDp()->Move(3000, 1500);
  boxes.answer(rt::vbYes);
  frmCDp()->mnuSave->trigger();
  EXPECT_TRUE(bytesOf(ini).endsWith("[CDp]\nTop= 1500\nLeft= 3000\n"));
}

TEST_F(Settings, AConfirmedSaveThatFailsSaysWhy) {
  auto* w = frmPlimra();
  ASSERT_TRUE(QFile::remove(ini) && QDir().mkdir(ini));  // no file can go there now
  rt::ScriptedMsgBox boxes({rt::vbYes, rt::vbOK, rt::vbYes, rt::vbOK});
  for (plimra::rt::MenuItem* save : {w->mnuSave, frmCDp()->mnuSave}) save->trigger();
  ASSERT_EQ(boxes.asked().size(), 4u);
  for (size_t i : {1u, 3u}) {
    EXPECT_TRUE(boxes.asked()[i].prompt.startsWith("動作環境を保存できませんでした。"));
    EXPECT_TRUE(boxes.asked()[i].prompt.contains(ini));
    EXPECT_EQ(boxes.asked()[i].style, rt::vbExclamation);
  }
  EXPECT_TRUE(QFileInfo(ini).isDir());
}

// The MIDI window's start-up, browsing and end, against a recording
// sequencer and a set of MIDI outputs the test chooses.
#include "midi/frmplimra.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "app/forms.h"
#include "app/module1.h"
#include "cd/frmcdp.h"
#include "media/control/mmcontrol.h"
#include "runtime/appearance.h"
#include "runtime/filenames.h"
#include "runtime/program.h"
#include "runtime/twips.h"
#include "tests/support/fake_device.h"
#include "tests/support/raw_names.h"
#include "tests/support/scripted_msgbox.h"
#include "tests/support/window_test.h"

using plimra::midi::FrmPlimra;
namespace mci = plimra::mci;
namespace rt = plimra::rt;
namespace Module1 = plimra::Module1;

namespace {

void touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QStringList entries(const QListWidget* l) {
  QStringList out;
  for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
  return out;
}

// Two drives, one without its medium, and a folder of songs and others.
class MidiWindow : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(QDir().mkpath(music + "/classics"));
    for (const char* n : {"song.mid", "ZZ.MID", "readme.txt"}) touch(music + "/" + n);
    touch(music + "/classics/bach.Mid");
    missing = root.path() + "-cd";
    rt::setDriveProvider([this] {
      return std::vector<rt::DriveInfo>{{root.path(), "DISK"}, {missing, "AUDIO_CD"}};
    });
  }
  void TearDown() override {
    rt::setDriveProvider({});
    WindowTest::TearDown();
  }

  FrmPlimra& start() { return startMidiWindow(); }

  QString missing;
};

}  // namespace

TEST_F(MidiWindow, StartsCentredInJapaneseFontsWithTheFolderListFocused) {
  FrmPlimra& w = start();
  // Centred by the size known before the first show, which has no frame.
  const int frameW = rt::PixelsToTwips(w.frameGeometry().width() - w.width());
  const int frameH = rt::PixelsToTwips(w.frameGeometry().height() - w.height());
  EXPECT_NEAR(w.Left(), (rt::ScreenWidth() - w.Width()) / 2, frameW + 15);
  EXPECT_NEAR(w.Top(), (rt::ScreenHeight() - w.Height()) / 2, frameH + 15);
  EXPECT_GT(w.Left(), 15 * 100);  // moved from where it was created
  // The layout's face names resolve to an installed Japanese font.
  EXPECT_TRUE(QFontInfo(w.File1->font()).family().startsWith("IPA"));
  EXPECT_EQ(w.focusWidget(), w.Dir1);
  EXPECT_TRUE(sequencer->calls.empty());
}

TEST_F(MidiWindow, DefaultOptionsMarkRandomStopOnSwitchAndGmReset) {
  FrmPlimra& w = start();
  QStringList checked;
  for (rt::MenuItem* m : w.findChildren<rt::MenuItem*>())
    if (m->Checked()) checked << m->action()->text();
  checked.sort();
  QStringList expected = {"連続再生(ランダム)", "CDへの切替時に曲を止める", "ＧＭリセット"};
  expected.sort();
  EXPECT_EQ(checked, expected);
  // The program's CD window shows the same two shared options.
  EXPECT_FALSE(plimra::app::frmCDp()->mnuMin->Checked());
  EXPECT_TRUE(plimra::app::frmCDp()->mnuChange->Checked());
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
  outputs->set({});
  EXPECT_EQ(entries(start().lstPort), QStringList{"MIDI Mapper"});
  window.reset();

  outputs->set({"Built-in synthesizer", "USB MIDI 1", "ポート 2"});
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
  plimra::test::ScriptedMsgBox boxes;
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

TEST_F(MidiWindow, ExitAndCloseCloseTheSequencerAndEndTheProgram) {
  FrmPlimra& w = start();
  w.MMControl1->setFileName(music + "/song.mid");
  w.MMControl1->setCommand("OPEN");
  w.MMControl1->setCommand("PLAY");
  ASSERT_EQ(sequencer->mode.load(), mci::ModePlaying);
  w.mnuExit->trigger();
  EXPECT_EQ(sequencer->calls.back(), "close");
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(w.MMControl1->DeviceID(), 0);

  w.MMControl1->setCommand("OPEN");
  sequencer->take();
  w.close();
  EXPECT_EQ(sequencer->take(), std::vector<std::string>{"close"});
  EXPECT_EQ(ends, 2);
  // With nothing open the program still ends.
  window.reset();
  start().mnuExit->trigger();
  EXPECT_EQ(ends, 3);
}

// plimra.ini, beside a program whose folder is named in Shift-JIS bytes,
// keeps a music folder named so too, and the next start shows it again.
TEST_F(MidiWindow, ASavedFolderNamedInShiftJisComesBackExactly) {
  using namespace plimra::testnames;
  const QByteArray base = rt::nativePath(root.path());
  const QByteArray app = base + "/\x83\x76\x83\x8d";  // "プロ"
  const QByteArray sjisMusic = base + "/" + kSjisFolder;
  ASSERT_TRUE(makeFolder(app) && makeFolder(sjisMusic));
  ASSERT_TRUE(writeRaw(sjisMusic + "/" + kSjisSong, "MThd"));
  rt::setAppPath(rt::pathFromNative(app));
  ASSERT_TRUE(start().Dir1->setPath(rt::pathFromNative(sjisMusic)));
  QString why;
  ASSERT_TRUE(Module1::SaveSettings(&why)) << why.toStdString();
  const QByteArray ini = readRaw(app + "/plimra.ini");
  EXPECT_TRUE(QUtf8StringView(ini).isValidUtf8());
  EXPECT_TRUE(ini.contains("Dir=file://")) << ini.constData();
  EXPECT_TRUE(ini.contains("/%89%B9%8Ay\n")) << ini.constData();

  FrmPlimra& w = start();
  EXPECT_EQ(rt::nativePath(w.Dir1->Path()), sjisMusic);
  ASSERT_EQ(w.File1->ListCount(), 1);
  EXPECT_EQ(w.File1->List(0), QStringLiteral("ドラクエ序曲.MID"));
  window.reset();
  removeTree(app);
  removeTree(sjisMusic);
}

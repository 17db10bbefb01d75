// Songs, folders and a program folder whose names are Shift-JIS bytes, played
// through the real sequencer.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

#include "app/module1.h"
#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "media/sequencer/register.h"
#include "midi/frmplimra.h"
#include "runtime/filenames.h"
#include "runtime/program.h"
#include "tests/midi/song_writer.h"
#include "tests/support/raw_names.h"

namespace mci = plimra::mci;
namespace rt = plimra::rt;
namespace Module1 = plimra::Module1;
using namespace plimra::testnames;

namespace {

class Outputs : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override { return {"Built-in synthesizer"}; }
};

bool writeSong(const QByteArray& path, uint32_t ms) {
  return plimra::testsong::writeFile(path.toStdString(), plimra::testsong::noteSong(60, ms));
}

}  // namespace

// A program folder and a music folder named in Shift-JIS, the music folder
// holding one song of a Shift-JIS name.
class ShiftJisNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    const QByteArray base = rt::nativePath(root.path());
    app = base + "/\x83\x76\x83\x8d";  // "プロ"
    music = base + "/" + kSjisFolder;
    ASSERT_TRUE(makeFolder(app) && makeFolder(music));
    ASSERT_TRUE(writeSong(app + "/GM.MID", 400) && writeSong(music + "/" + kSjisSong, 300));
    plimra::seq::registerSequencer();
    mci::setMidiOutCatalog(std::make_shared<Outputs>());
    rt::setAppPathForTests(rt::pathFromNative(app));
    rt::setEndHandler([] {});
  }
  void TearDown() override {
    mci::DeviceTable::instance().resetForTests();
    mci::setMidiOutCatalog(nullptr);
    rt::setEndHandler({});
    rt::setAppPathForTests({});
    removeTree(app);
    removeTree(music);
  }

  QTemporaryDir root;
  QByteArray app, music;
};

TEST_F(ShiftJisNames, ASongPlaysAfterTheResetSongAndShowsItsName) {
  plimra::midi::FrmPlimra w;
  w.Load();
  w.Show();
  Module1::OptReset = "GM";
  Module1::OptSingle = true;
  w.lstPort->setListIndex(0);
  ASSERT_TRUE(w.Dir1->setPath(rt::pathFromNative(music)));
  ASSERT_EQ(w.File1->ListCount(), 1);
  ASSERT_TRUE(w.File1->setListIndex(0));

  QByteArray during;
  QTimer::singleShot(50, &w, [&] {
    if (w.MMControl1->Mode() == mci::ModePlaying) during = w.MMControl1->FileName();
  });
  w.File1_DblClick();
  EXPECT_EQ(during, app + "/GM.MID");  // the reset song, from the program's folder
  EXPECT_EQ(w.MMControl1->FileName(), music + "/" + kSjisSong);
  EXPECT_EQ(w.MMControl1->Mode(), mci::ModePlaying);
  EXPECT_EQ(w.MMControl1->Length(), 300u);
  EXPECT_EQ(w.Caption(), QStringLiteral("ドラクエ序曲.MID"));
  w.MMControl1->setCommand(QStringLiteral("CLOSE"));
}

// plimra.ini beside the program in its Shift-JIS folder keeps the Shift-JIS
// music folder, and the next start shows that folder again.
TEST_F(ShiftJisNames, TheSavedFolderComesBackExactly) {
  {
    plimra::midi::FrmPlimra w;
    w.Load();
    ASSERT_TRUE(w.Dir1->setPath(rt::pathFromNative(music)));
    QString why;
    ASSERT_TRUE(Module1::SaveSettings(&why)) << why.toStdString();
  }
  const QByteArray ini = readRaw(app + "/plimra.ini");
  EXPECT_TRUE(QUtf8StringView(ini).isValidUtf8());
  EXPECT_TRUE(ini.contains("Dir=file://")) << ini.constData();
  EXPECT_TRUE(ini.contains("/%89%B9%8Ay\n")) << ini.constData();

  plimra::midi::FrmPlimra w;
  w.Load();
  EXPECT_EQ(rt::nativePath(w.Dir1->Path()), music);
  ASSERT_EQ(w.File1->ListCount(), 1);
  EXPECT_EQ(w.File1->List(0), QStringLiteral("ドラクエ序曲.MID"));
}

// The saved folder of a program whose folder, like the music's, is named in
// Shift-JIS bytes. Playing such songs is shown end to end (tests/e2e).
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/module1.h"
#include "media/mci/device_table.h"
#include "media/mci/midiout.h"
#include "midi/frmplimra.h"
#include "runtime/filenames.h"
#include "runtime/program.h"
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

}  // namespace

// A program folder and a music folder named in Shift-JIS, the music folder
// holding one file of a Shift-JIS name.
class ShiftJisNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    const QByteArray base = rt::nativePath(root.path());
    app = base + "/\x83\x76\x83\x8d";  // "プロ"
    music = base + "/" + kSjisFolder;
    ASSERT_TRUE(makeFolder(app) && makeFolder(music));
    ASSERT_TRUE(writeRaw(music + "/" + kSjisSong, "MThd"));
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

// plimra.ini, beside the program, keeps the music folder, and the next start
// shows that folder again.
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

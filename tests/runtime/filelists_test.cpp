#include "runtime/filelists.h"

#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "runtime/msgbox.h"
#include "tests/support/scripted_msgbox.h"

using namespace plimra::rt;
using plimra::test::ScriptedMsgBox;

namespace {

void touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QStringList items(const QListWidget& l) {
  QStringList out;
  for (int i = 0; i < l.count(); ++i) out << l.item(i)->text().trimmed();
  return out;
}

// An item view takes a double-click only after the press and release of the
// first click.
void doubleClick(QListWidget& l, QPoint at) {
  QTest::mouseClick(l.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(l.viewport(), Qt::LeftButton, {}, at);
}

// Two drives of temporary folders and one whose medium is missing.
class FileLists : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(a.isValid() && b.isValid());
    music = a.filePath("music");
    ASSERT_TRUE(QDir().mkpath(music + "/sub"));
    ASSERT_TRUE(QDir().mkpath(music + "/folder.mid"));
    for (const char* n : {"b.mid", "A.MID", "c.Mid", "notes.txt", ".hidden.mid", "x.midi"})
      touch(music + "/" + n);
    touch(music + "/sub/d.mid");
    missing = a.path() + "-no-medium";
    setDriveProvider([this] {
      return std::vector<DriveInfo>{{a.path(), "A"}, {b.path(), "DATA"}, {missing, "CD"}};
    });
  }
  void TearDown() override { setDriveProvider({}); }

  QTemporaryDir a, b;
  QString music, missing;
};

}  // namespace

TEST(FilePattern, MatchesWithoutRegardToCase) {
  EXPECT_TRUE(FileListBox::matches("song.mid", "*.MID"));
  EXPECT_TRUE(FileListBox::matches("SONG.MID", "*.mid"));
  EXPECT_FALSE(FileListBox::matches("song.midi", "*.MID"));
  EXPECT_FALSE(FileListBox::matches("mid", "*.MID"));
  EXPECT_TRUE(FileListBox::matches("x.rmi", "*.mid;*.rmi"));
  EXPECT_TRUE(FileListBox::matches("README", "*.*"));
}

TEST(Drives, OnlyVolumesThatHoldTheUsersFilesStandForDrives) {
  EXPECT_TRUE(isUserVolume("/media/ann/USB STICK", "vfat"));
  EXPECT_TRUE(isUserVolume("/run/media/ann/AUDIO_CD", "iso9660"));
  EXPECT_TRUE(isUserVolume("/mnt/data", "ext4"));
  EXPECT_TRUE(isUserVolume("/home", "btrfs"));
  EXPECT_TRUE(isUserVolume("/srv/music", "nfs4"));
  EXPECT_FALSE(isUserVolume("/proc", "proc"));
  EXPECT_FALSE(isUserVolume("/dev/shm", "tmpfs"));
  EXPECT_FALSE(isUserVolume("/sys/fs/cgroup/cpu", "cgroup"));
  EXPECT_FALSE(isUserVolume("/snap/core22/1122", "squashfs"));
  EXPECT_FALSE(isUserVolume("/boot/efi", "vfat"));
  EXPECT_FALSE(isUserVolume("/run/user/1000/doc", "fuse.portal"));
  EXPECT_FALSE(isUserVolume("/var/lib/docker/overlay2/x/merged", "overlay"));
  // The mounted list always starts with the home folder.
  const auto drives = mountedDrives();
  ASSERT_GE(drives.size(), 2u);
  EXPECT_EQ(drives[0].root, QDir::homePath());
  EXPECT_EQ(drives[1].root, "/");
  for (const auto& d : drives) EXPECT_TRUE(QFileInfo(d.root).isDir()) << d.root.toStdString();
}

TEST_F(FileLists, FileListShowsMidiFilesInAnyCaseSortedAndNothingElse) {
  FileListBox files;
  ASSERT_TRUE(files.setPath(music));
  files.setPattern("*.MID");
  EXPECT_EQ(items(files), (QStringList{"A.MID", "b.mid", "c.Mid"}));
  EXPECT_EQ(files.ListIndex(), -1);
  EXPECT_EQ(files.FileName(), "");
  ASSERT_TRUE(files.setListIndex(1));
  EXPECT_EQ(files.FileName(), "b.mid");
  EXPECT_FALSE(files.setListIndex(3));
  // A new file appears on refresh; the selection stays on its name.
  touch(music + "/0first.mid");
  files.Refresh();
  EXPECT_EQ(files.ListCount(), 4);
  EXPECT_EQ(files.FileName(), "b.mid");
  // A folder that is not there changes nothing.
  EXPECT_FALSE(files.setPath(music + "/gone"));
  EXPECT_EQ(files.Path(), QDir::cleanPath(music));
  EXPECT_EQ(files.ListCount(), 4);
}

TEST_F(FileLists, FolderListShowsTheChainAndTheSubfoldersAndOpensOnDoubleClick) {
  DirListBox dirs;
  QSignalSpy changes(&dirs, &DirListBox::Change);
  ASSERT_TRUE(dirs.setPath(music));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_TRUE(dirs.setPath(music + "/"));  // the same folder: no change
  EXPECT_EQ(changes.count(), 1);
  const QStringList rows = items(dirs);
  ASSERT_GE(rows.size(), 4);
  EXPECT_EQ(rows.first(), "/");
  EXPECT_EQ(rows.mid(rows.size() - 3), (QStringList{"music", "folder.mid", "sub"}));
  EXPECT_EQ(dirs.currentRow(), rows.size() - 3);  // the current folder

  dirs.show();
  const int subRow = static_cast<int>(rows.size()) - 1;
  dirs.scrollToItem(dirs.item(subRow));
  const QRect r = dirs.visualItemRect(dirs.item(subRow));
  doubleClick(dirs, r.center());
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(music + "/sub"));
  EXPECT_EQ(changes.count(), 2);
}

TEST_F(FileLists, AnUnreadableFolderKeepsTheListWhereItWasAndSaysSo) {
  DirListBox dirs;
  ASSERT_TRUE(dirs.setPath(music));
  EXPECT_FALSE(dirs.setPath(music + "/gone"));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(music));

  // The folder disappears between listing and double-click.
  ScriptedMsgBox boxes;
  ASSERT_TRUE(QDir(music + "/sub").removeRecursively());
  dirs.show();
  const int subRow = dirs.count() - 1;
  dirs.scrollToItem(dirs.item(subRow));
  doubleClick(dirs, dirs.visualItemRect(dirs.item(subRow)).center());
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(music));
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.contains("sub"));
  EXPECT_EQ(items(dirs).last(), "folder.mid");  // the list was read anew
}

TEST_F(FileLists, DriveChangeShowsTheFolderLastShownOnThatDrive) {
  DriveListBox drives;
  DirListBox dirs;
  EXPECT_EQ(drives.count(), 3);
  EXPECT_EQ(drives.itemText(1), b.path() + " [DATA]");
  QObject::connect(&drives, &DriveListBox::Change, [&] {
    if (!dirs.setPath(drives.Drive())) drives.revert();
  });
  ASSERT_TRUE(drives.setDrive(a.path()));  // a drive's folder names it too
  EXPECT_EQ(drives.Drive(), a.path() + " [A]");
  ASSERT_TRUE(dirs.setPath(music));
  ASSERT_TRUE(drives.setDrive(b.path() + " [DATA]"));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(b.path()));
  ASSERT_TRUE(drives.setDrive(a.path() + " [A]"));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(music));
  // A drive's folder given as a folder is that folder, not the drive's
  // current one.
  ASSERT_TRUE(dirs.setPath(a.path()));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(a.path()));
  EXPECT_FALSE(drives.setDrive("/no/such/drive"));
  EXPECT_FALSE(drives.setDrive(""));
  EXPECT_EQ(driveRoot("/media/x [LABEL]"), "/media/x");
  EXPECT_EQ(driveOf(music + "/sub"), a.path() + " [A]");
}

// Started from a folder of songs, the lists show that folder; started from
// the desktop's menu (home or /), the music folder when there is one.
TEST(StartFolder, IsTheFolderStartedInUnlessThatIsHomeOrTheRoot) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString songs = home.filePath("songs"), music = home.filePath("Music");
  ASSERT_TRUE(QDir().mkpath(songs));
  const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
  const QString oldCwd = QDir::currentPath();
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
  const struct {
    QString cwd;
    bool musicExists;
    QString expected;
  } cases[] = {{songs, true, songs},
               {home.path(), true, music},
               {"/", true, music},
               {home.path(), false, home.path()},
               {"/", false, home.path()}};
  for (const auto& c : cases) {
    if (c.musicExists)
      ASSERT_TRUE(QDir().mkpath(music));
    else
      ASSERT_TRUE(QDir(music).removeRecursively());
    ASSERT_TRUE(QDir::setCurrent(c.cwd));
    EXPECT_EQ(QDir(startFolder()).canonicalPath(), QDir(c.expected).canonicalPath())
        << "started in " << c.cwd.toStdString();
  }
  QDir::setCurrent(oldCwd);
  qputenv("HOME", oldHome);
  if (oldConfig.isNull())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

// The drive, folder and file lists, and names that are not UTF-8: kept byte
// for byte, shown decoded, listed, sorted and opened.
#include "runtime/filelists.h"

#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "runtime/filenames.h"
#include "tests/support/raw_names.h"
#include "tests/support/scripted_msgbox.h"

using namespace plimra::rt;
using namespace plimra::testnames;
using plimra::test::ScriptedMsgBox;

namespace {

const QByteArray kSjisSub("\x83\x54\x83\x75");  // "サブ"

QStringList items(const QListWidget& l) {
  QStringList out;
  for (int i = 0; i < l.count(); ++i) out << l.item(i)->text().trimmed();
  return out;
}

// An item view takes a double-click only after the press and release of the
// first click.
void doubleClickRow(QListWidget& l, int row) {
  l.show();
  l.scrollToItem(l.item(row));
  const QPoint at = l.visualItemRect(l.item(row)).center();
  QTest::mouseClick(l.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(l.viewport(), Qt::LeftButton, {}, at);
}

// Two drives of temporary folders; on the first, a folder named in
// Shift-JIS whose songs are named in Shift-JIS, UTF-8, plain ASCII or bytes
// valid in neither, beside files and folders that are no songs.
class FileLists : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(a.isValid() && b.isValid());
    raw = nativePath(a.path()) + "/" + kSjisFolder;
    songs = pathFromNative(raw);
    ASSERT_TRUE(makeFolder(raw));
    for (const QByteArray& sub : {kSjisSub, QByteArray("\xfe\xfe"), QByteArray("folder.mid")})
      ASSERT_TRUE(makeFolder(raw + "/" + sub));
    // Each file holds its own name, so an open shows which file it reached.
    for (const QByteArray& n :
         {kSjisSong, kSjisBackslash, kBroken, QByteArray("b.MID"), QByteArray("\xe3\x83\xb3.mid"),
          QByteArray("\x8b\xc8.txt"), QByteArray(".hidden.mid"), QByteArray("x.midi")})
      ASSERT_TRUE(writeRaw(raw + "/" + n, n));
    setDriveProvider([this] {
      return std::vector<DriveInfo>{{a.path(), "A"}, {b.path(), "DATA"}};
    });
  }
  void TearDown() override {
    removeTree(raw);
    setDriveProvider({});
  }

  QTemporaryDir a, b;
  QByteArray raw;
  QString songs;
};

}  // namespace

TEST(Drives, OnlyVolumesThatHoldTheUsersFilesStandForDrives) {
  const std::tuple<const char*, const char*, bool> volumes[] = {
      {"/media/ann/USB STICK", "vfat", true},
      {"/run/media/ann/AUDIO_CD", "iso9660", true},
      {"/srv/music", "nfs4", true},
      {"/mnt/data", "ext4", true},
      {"/boot/efi", "vfat", false},
      {"/run/user/1000/doc", "fuse.portal", false},
      {"/snap/core22/1122", "squashfs", false},
      {"/dev/shm", "tmpfs", false},
  };
  for (const auto& [root, type, user] : volumes) EXPECT_EQ(isUserVolume(root, type), user) << root;
  // The real list always starts with the home folder and the root.
  const auto drives = listDrives();
  ASSERT_GE(drives.size(), 2u);
  EXPECT_EQ(drives[0].root, QDir::homePath());
  EXPECT_EQ(drives[1].root, "/");
  for (const auto& d : drives) EXPECT_TRUE(QFileInfo(d.root).isDir()) << d.root.toStdString();
}

TEST_F(FileLists, FileListShowsSortsAndOpensEverySongAndNothingElse) {
  FileListBox files;
  files.setPattern("*.MID");
  ASSERT_TRUE(files.setPath(songs));
  EXPECT_EQ(files.FileName(), "");
  // Sorted by the shown names, not by the bytes: "ン" (UTF-8) comes after
  // "ド" (Shift-JIS), the broken name last.
  const QString broken = displayName(pathFromNative(kBroken));
  EXPECT_EQ(items(files), (QStringList{"b.MID", "ソ.mid", "ドラクエ序曲.MID", "ン.mid", broken}));
  for (int i = 0; i < files.ListCount(); ++i) {
    ASSERT_TRUE(files.setListIndex(i));
    const QByteArray path = nativePath(files.Path() + u'/' + files.ExactFileName());
    EXPECT_EQ(readRaw(path), nativePath(files.ExactFileName())) << i;
    EXPECT_EQ(files.FileName(), items(files)[i]);
  }
  EXPECT_FALSE(files.setListIndex(5));
  // A new file appears on refresh; the selection stays on its file.
  ASSERT_TRUE(files.setListIndex(2));
  ASSERT_TRUE(writeRaw(raw + "/a.mid", "a"));
  files.Refresh();
  EXPECT_EQ(files.ListCount(), 6);
  EXPECT_EQ(nativePath(files.ExactFileName()), kSjisSong);
  // A folder that is not there changes nothing.
  EXPECT_FALSE(files.setPath(songs + "/gone"));
  EXPECT_EQ(files.Path(), songs);
  EXPECT_EQ(files.ListCount(), 6);
}

TEST_F(FileLists, FolderListShowsTheChainAndTheSubfoldersAndEntersThem) {
  DirListBox dirs;
  QSignalSpy changes(&dirs, &DirListBox::Change);
  ASSERT_TRUE(dirs.setPath(songs));
  EXPECT_TRUE(dirs.setPath(songs + "/"));  // the same folder: no change
  EXPECT_EQ(changes.count(), 1);
  const QStringList rows = items(dirs);
  ASSERT_GE(rows.size(), 5);
  EXPECT_EQ(rows.first(), "/");
  EXPECT_EQ(rows.mid(rows.size() - 4),
            (QStringList{"音楽", "folder.mid", "サブ", QString(2, QChar::ReplacementCharacter)}));
  EXPECT_EQ(dirs.currentRow(), rows.size() - 4);  // the current folder
  doubleClickRow(dirs, static_cast<int>(rows.size()) - 2);
  EXPECT_EQ(nativePath(dirs.Path()), raw + "/" + kSjisSub);
  // Back up by Enter on the folder's row.
  dirs.setCurrentRow(static_cast<int>(rows.size()) - 4);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(&dirs, &enter);
  EXPECT_EQ(dirs.Path(), songs);
  EXPECT_EQ(changes.count(), 3);
}

TEST_F(FileLists, AFolderThatIsGoneKeepsTheListWhereItWasAndSaysSo) {
  DirListBox dirs;
  ASSERT_TRUE(dirs.setPath(songs));
  EXPECT_FALSE(dirs.setPath(songs + "/gone"));
  EXPECT_EQ(dirs.Path(), songs);
  // The folder disappears between listing and double-click.
  ScriptedMsgBox boxes;
  removeTree(raw + "/" + kSjisSub);
  doubleClickRow(dirs, dirs.count() - 2);
  EXPECT_EQ(dirs.Path(), songs);
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_TRUE(boxes.asked()[0].prompt.contains("サブ"));
  EXPECT_FALSE(items(dirs).contains("サブ"));  // the list was read anew
}

TEST_F(FileLists, DriveChangeShowsTheFolderLastShownOnThatDrive) {
  DriveListBox drives;
  DirListBox dirs;
  EXPECT_EQ(drives.itemText(1), b.path() + " [DATA]");
  QObject::connect(&drives, &DriveListBox::Change, [&] {
    if (!dirs.setPath(drives.Drive())) drives.revert();
  });
  ASSERT_TRUE(drives.setDrive(a.path()));  // a drive's folder names it too
  EXPECT_EQ(drives.Drive(), a.path() + " [A]");
  ASSERT_TRUE(dirs.setPath(songs));
  ASSERT_TRUE(drives.setDrive(b.path() + " [DATA]"));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(b.path()));
  ASSERT_TRUE(drives.setDrive(a.path() + " [A]"));
  EXPECT_EQ(dirs.Path(), songs);
  // A drive's folder given as a folder is that folder, not the drive's
  // current one.
  ASSERT_TRUE(dirs.setPath(a.path()));
  EXPECT_EQ(dirs.Path(), QDir::cleanPath(a.path()));
  EXPECT_FALSE(drives.setDrive("/no/such/drive"));
  EXPECT_FALSE(drives.setDrive(""));
  // A drive without a label is labelled with its decoded name.
  setDriveProvider([this] { return std::vector<DriveInfo>{{songs, {}}}; });
  EXPECT_EQ(DriveListBox().itemText(0), a.path() + QStringLiteral("/音楽 [音楽]"));
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
               {"/", false, home.path()}};
  for (const auto& c : cases) {
    ASSERT_TRUE(c.musicExists ? QDir().mkpath(music) : QDir(music).removeRecursively());
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

TEST(FileNames, EveryByteSequenceComesBackExactly) {
  const QByteArray names[] = {
      "\xe9\x9f\xb3\xe6\xa5\xbd/\xf0\x9f\x8e\xb5.mid",  // UTF-8, with a 4-byte character
      kSjisSong,
      kBroken,
      "\xc0\xaf",          // an overlong "/"
      "\xed\xa0\x80",      // a surrogate written as UTF-8
      "\xed\xb2\x80",      // the very code point a kept byte becomes
      "\xe3\x81",          // a character cut short
      "\xf4\x90\x80\x80",  // past U+10FFFF
  };
  for (const QByteArray& b : names) {
    const QString text = pathFromNative(b);
    EXPECT_EQ(nativePath(text), b) << b.toHex().constData();
    EXPECT_EQ(hasKeptBytes(text), !QUtf8StringView(b).isValidUtf8()) << b.toHex().constData();
  }
  EXPECT_EQ(pathFromNative(names[0]), QString::fromUtf8(names[0]));
  // Shown part by part: UTF-8 and Shift-JIS parts mixed.
  EXPECT_EQ(displayName(pathFromNative("/\xe6\x9b\xb2/" + kSjisFolder + "/" + kSjisSong)),
            QStringLiteral("/曲/音楽/ドラクエ序曲.MID"));
  EXPECT_FALSE(hasKeptBytes(displayName(pathFromNative(kBroken))));
}

TEST(FileNames, SettingsKeepEveryFolderExactlyAndPlainOnesReadable) {
  const std::pair<QString, const char*> cases[] = {
      // nullptr: written as the path itself
      {QStringLiteral("/home/ann/音楽"), nullptr},
      {QStringLiteral("/home/ann/100% pure"), nullptr},
      {pathFromNative("/m/" + kSjisFolder + " 100%"), "file:///m/%89%B9%8Ay%20100%25"},
      {QStringLiteral("/music/trailing "), "file:///music/trailing%20"},
      {QStringLiteral("/music/全角　"), "file:///music/全角%E3%80%80"},
      {QStringLiteral("/two\nlines"), "file:///two%0Alines"},
      {QStringLiteral("/file:"), nullptr},
  };
  for (const auto& [path, expected] : cases) {
    const QString written = writtenPath(path);
    EXPECT_EQ(written, expected ? QString::fromUtf8(expected) : path);
    EXPECT_EQ(nativePath(pathFromWritten(written)), nativePath(path)) << written.toStdString();
  }
  // A "%" not followed by two hex digits stays as it is.
  EXPECT_EQ(pathFromWritten("file:///a%2/b%zz%"), "/a%2/b%zz%");
}

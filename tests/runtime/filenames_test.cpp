// Names that are not UTF-8: kept byte for byte, shown decoded, listed,
// sorted, matched and opened.
#include "runtime/filenames.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "runtime/filelists.h"
#include "tests/runtime/print.h"
#include "tests/support/raw_names.h"

using namespace plimra::rt;
using namespace plimra::testnames;

namespace {

QStringList items(const QListWidget& l) {
  QStringList out;
  for (int i = 0; i < l.count(); ++i) out << l.item(i)->text().trimmed();
  return out;
}

}  // namespace

TEST(FileNames, EveryByteSequenceComesBackExactly) {
  const QByteArray names[] = {
      "plain.mid",
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
  // Valid UTF-8 is just its text.
  EXPECT_EQ(pathFromNative(names[1]), QString::fromUtf8(names[1]));
}

TEST(FileNames, ShownAsUtf8ElseShiftJisElseWithAReplacementCharacter) {
  EXPECT_EQ(displayName(pathFromNative(kSjisSong)), QStringLiteral("ドラクエ序曲.MID"));
  EXPECT_EQ(displayName(pathFromNative(kSjisBackslash)), QStringLiteral("ソ.mid"));
  EXPECT_EQ(displayName(QStringLiteral("曲.mid")), QStringLiteral("曲.mid"));
  const QString broken = displayName(pathFromNative(kBroken));
  EXPECT_TRUE(broken.contains(QChar::ReplacementCharacter));
  EXPECT_TRUE(broken.endsWith(QStringLiteral(".mid")));
  EXPECT_FALSE(hasKeptBytes(broken));
  // Each part of a path on its own: UTF-8, Shift-JIS and broken parts mixed.
  EXPECT_EQ(displayName(pathFromNative("/\xe6\x9b\xb2/" + kSjisFolder + "/" + kSjisSong)),
            QStringLiteral("/曲/音楽/ドラクエ序曲.MID"));
}

TEST(FileNames, SettingsKeepEveryFolderExactlyAndPlainOnesReadable) {
  const struct {
    QString path;
    const char* written;  // nullptr: the path itself
  } cases[] = {
      {QStringLiteral("/home/ann/音楽"), nullptr},
      {QStringLiteral("/home/ann/100% pure"), nullptr},
      {pathFromNative("/home/ann/" + kSjisFolder), "file:///home/ann/%89%B9%8Ay"},
      {pathFromNative("/m/" + kSjisFolder + " 100%"), "file:///m/%89%B9%8Ay%20100%25"},
      {QStringLiteral("/music/trailing "), "file:///music/trailing%20"},
      {QStringLiteral("/music/全角　"), "file:///music/全角%E3%80%80"},
      {QStringLiteral("/two\nlines"), "file:///two%0Alines"},
      {QStringLiteral("/file:"), nullptr},
  };
  for (const auto& c : cases) {
    const QString written = writtenPath(c.path);
    EXPECT_EQ(written, c.written ? QString::fromUtf8(c.written) : c.path);
    EXPECT_EQ(nativePath(pathFromWritten(written)), nativePath(c.path)) << written.toStdString();
  }
  // A "%" not followed by two hex digits stays as it is.
  EXPECT_EQ(pathFromWritten("file:///a%2/b%zz%"), "/a%2/b%zz%");
}

class RawNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    base = nativePath(tmp.path());
    folder = base + "/" + kSjisFolder;
    ASSERT_TRUE(makeFolder(folder));
    ASSERT_TRUE(makeFolder(folder + "/\x83\x54\x83\x75"));  // "サブ"
    ASSERT_TRUE(makeFolder(folder + "/\xfe\xfe"));          // neither encoding
    // Each file holds its own name, so an open shows which file it reached.
    for (const QByteArray& n : {kSjisSong, kSjisBackslash, kBroken, QByteArray("b.MID"),
                                QByteArray("\xe3\x83\xb3.mid"), QByteArray("\x8b\xc8.txt")})
      ASSERT_TRUE(writeRaw(folder + "/" + n, n));
  }
  void TearDown() override { removeTree(folder); }

  QTemporaryDir tmp;
  QByteArray base, folder;
};

TEST_F(RawNames, FileListShowsSortsMatchesAndOpensEveryName) {
  FileListBox files;
  files.setPattern("*.MID");
  ASSERT_TRUE(files.setPath(pathFromNative(folder)));
  // Sorted by the shown names, not by the bytes: "ン" (UTF-8) comes after
  // "ド" (Shift-JIS), the broken name last; "曲.txt" is no MIDI file.
  const QString broken = displayName(pathFromNative(kBroken));
  EXPECT_EQ(items(files), (QStringList{"b.MID", "ソ.mid", "ドラクエ序曲.MID", "ン.mid", broken}));
  for (int i = 0; i < files.ListCount(); ++i) {
    ASSERT_TRUE(files.setListIndex(i));
    const QByteArray path = nativePath(files.Path() + u'/' + files.ExactFileName());
    EXPECT_EQ(readRaw(path), nativePath(files.ExactFileName())) << i;
    EXPECT_EQ(files.FileName(), items(files)[i]);
  }
  // The selection stays on its file when the list is read anew.
  ASSERT_TRUE(files.setListIndex(2));
  ASSERT_TRUE(writeRaw(folder + "/a.mid", "a"));
  files.Refresh();
  EXPECT_EQ(nativePath(files.ExactFileName()), kSjisSong);
}

TEST_F(RawNames, FoldersAndDrivesOfShiftJisNamesAreShownAndEntered) {
  setDriveProvider([this] { return std::vector<DriveInfo>{{pathFromNative(folder), {}}}; });
  DriveListBox drives;
  DirListBox dirs;
  QObject::connect(&drives, &DriveListBox::Change, [&] { dirs.setPath(drives.Drive()); });
  EXPECT_EQ(drives.itemText(0), tmp.path() + QStringLiteral("/音楽 [音楽]"));
  ASSERT_TRUE(drives.setDrive(drives.itemText(0)));
  EXPECT_EQ(nativePath(dirs.Path()), folder);
  const QStringList rows = items(dirs);
  EXPECT_EQ(rows.mid(rows.size() - 3),
            (QStringList{"音楽", "サブ", QString(2, QChar::ReplacementCharacter)}));

  // Entering the subfolder by its row (Enter on the selected row).
  QSignalSpy changes(&dirs, &DirListBox::Change);
  dirs.setCurrentRow(static_cast<int>(rows.size()) - 2);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(&dirs, &enter);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(nativePath(dirs.Path()), folder + "/\x83\x54\x83\x75");
  setDriveProvider({});
}

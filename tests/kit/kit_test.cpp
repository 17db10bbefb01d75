// The runtime the windows stand on: conversions, message boxes, random
// numbers, colours, fonts, forms, labels, and the drive, folder and file
// lists with names that are not UTF-8 (kept byte for byte, shown decoded,
// listed, sorted and opened).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPalette>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cmath>
#include <ostream>
#include <set>
#include <thread>
#include <tuple>

#include "platform/filenames.h"
#include "platform/program.h"
#include "tests/support/raw_names.h"
#include "tests/support/scripted_msgbox.h"
#include "ui/kit/appearance.h"
#include "ui/kit/controls.h"
#include "ui/kit/conversions.h"
#include "ui/kit/filelists.h"
#include "ui/kit/form.h"
#include "ui/kit/menu.h"
#include "ui/kit/msgbox.h"

// Readable texts in failure messages.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace plimra::kit;
using namespace plimra::platform;
using namespace plimra::testnames;
using plimra::test::ScriptedMsgBox;

namespace {

class TestForm : public Form {
 public:
  TestForm() : Form("frmTest", 4155, 2655) {}
  int loads = 0, activates = 0;

 protected:
  void onLoad() override { ++loads; }
  void onActivate() override { ++activates; }
};

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

TEST(Conversions, TextToNumbersAndBooleansAndRoundingToIntegers) {
  const std::pair<const char*, double> cases[] = {
      {" 2160", 2160}, {"- 1", -1},    {"1 2 3", 123}, {"\t42\n", 42},     {"12abc", 12},
      {".5x", 0.5},    {"1e3", 1000},  {"1e", 1},      {"1.5.5", 1.5},     {"+7", 7},
      {"", 0},         {"abc", 0},     {"-", 0},       {"e5", 0},          {"&H", 0},
      {"&HFF", 255},   {"&hffff", -1}, {"&O17", 15},   {"&H10000", 65536},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(Val(text), value) << text;
  EXPECT_EQ(Val(QStringLiteral("１２")), 0);  // full-width digits are no number
  EXPECT_TRUE(std::isfinite(Val("1e999")));
  // Booleans from words or numbers only.
  for (const char* t : {"True", " tRuE ", "-1", "2.5", "&H1"})
    EXPECT_EQ(CBool(t), std::optional<bool>(true)) << t;
  for (const char* t : {"FALSE", " 0 ", "0.0"})
    EXPECT_EQ(CBool(t), std::optional<bool>(false)) << t;
  for (const char* t : {"", "yes", "1x", "Truex", "- 1"}) EXPECT_EQ(CBool(t), std::nullopt) << t;
  // Rounding: halves go to the even neighbour, within range.
  const std::pair<double, std::optional<int16_t>> rounded[] = {
      {0.5, 0},      {1.5, 2},     {2.5, 2},           {-2.5, -2}, {2.5001, 3},    {32767.4, 32767},
      {32767.5, {}}, {-32769, {}}, {-32768.5, -32768}, {NAN, {}},  {INFINITY, {}},
  };
  for (const auto& [value, integer] : rounded) EXPECT_EQ(CInt(value), integer) << value;
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

TEST(Form, FixedBelowItsMenuLoadedOnceAndActivatedOnlyWhenShownAnew) {
  TestForm f;
  MenuItem menu(f.menuBar(), "cdMenu", "ＣＤ(&F)");
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  f.Load();
  f.Show();
  f.Show();  // already the active form
  QApplication::processEvents();
  EXPECT_GT(f.client()->y(), 0);
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(f.activates, 1);
  f.Hide();
  f.Show();
  EXPECT_EQ(f.activates, 2);
}

// Captions break lines at carriage returns; colours come in BGR order or
// from the system palette.
TEST(Controls, LabelCaptionAndColours) {
  Label l;
  l.setCaption("Track\r\n01");
  EXPECT_EQ(l.text(), "Track\n01");
  l.setCaption("a\rb");
  EXPECT_EQ(l.text(), "a\nb");
  l.setBackColor(0x80000005u);
  EXPECT_EQ(l.palette().color(QPalette::Window), QApplication::palette().color(QPalette::Base));
  l.setBackColor(RGB(255, 255, 128));
  EXPECT_EQ(l.palette().color(QPalette::Window), QColor(255, 255, 128));
}

TEST(Drives, OnlyVolumesThatHoldTheUsersFilesStandForDrives) {
  const std::tuple<const char*, const char*, bool> volumes[] = {
      {"/media/ann/USB STICK", "vfat", true},
      {"/run/media/ann/AUDIO_CD", "iso9660", true},
      {"/srv/music", "nfs4", true},
      {"/boot/efi", "vfat", false},
      {"/run/user/1000/doc", "fuse.portal", false},
      {"/snap/core22/1122", "squashfs", false},
      {"/dev/shm", "tmpfs", false},
  };
  for (const auto& [root, type, user] : volumes) EXPECT_EQ(isUserVolume(root, type), user) << root;
  // The mounted list always starts with the home folder and the root.
  const auto drives = mountedDrives();
  ASSERT_GE(drives.size(), 2u);
  EXPECT_EQ(drives[0].root, QDir::homePath());
  EXPECT_EQ(drives[1].root, "/");
  for (const auto& d : drives) EXPECT_TRUE(QFileInfo(d.root).isDir()) << d.root.toStdString();
}

TEST_F(FileLists, FileListShowsSortsAndOpensEverySongAndNothingElse) {
  FileListBox files;
  files.setPattern("*.MID");
  ASSERT_TRUE(files.setPath(songs));
  // Sorted by the shown names, not by the bytes: "ン" (UTF-8) comes after
  // "ド" (Shift-JIS), the broken name last.
  const QString broken = displayName(pathFromNative(kBroken));
  EXPECT_EQ(items(files), (QStringList{"b.MID", "ソ.mid", "ドラクエ序曲.MID", "ン.mid", broken}));
  for (int i = 0; i < files.ListCount(); ++i) {
    ASSERT_TRUE(files.setListIndex(i));
    const QByteArray path = nativePath(files.Path() + u'/' + files.ExactFileName());
    EXPECT_EQ(readRaw(path), nativePath(files.ExactFileName())) << i;
  }
  // A new file appears on refresh; the selection stays on its file.
  ASSERT_TRUE(files.setListIndex(2));
  ASSERT_TRUE(writeRaw(raw + "/a.mid", "a"));
  files.Refresh();
  EXPECT_EQ(files.ListCount(), 6);
  EXPECT_EQ(nativePath(files.ExactFileName()), kSjisSong);
  // A folder that is not there changes nothing.
  EXPECT_FALSE(files.setPath(songs + "/gone"));
  EXPECT_EQ(files.Path(), songs);
}

TEST_F(FileLists, FolderListShowsTheChainAndEntersSubfoldersOrSaysWhyNot) {
  DirListBox dirs;
  QSignalSpy changes(&dirs, &DirListBox::Change);
  ASSERT_TRUE(dirs.setPath(songs));
  EXPECT_TRUE(dirs.setPath(songs + "/"));  // the same folder: no change
  EXPECT_FALSE(dirs.setPath(songs + "/gone"));
  EXPECT_EQ(changes.count(), 1);
  const QStringList rows = items(dirs);
  ASSERT_GE(rows.size(), 5);
  EXPECT_EQ(rows.first(), "/");
  EXPECT_EQ(rows.mid(rows.size() - 4),
            (QStringList{"音楽", "folder.mid", "サブ", QString(2, QChar::ReplacementCharacter)}));
  const int here = static_cast<int>(rows.size()) - 4, sub = here + 2;
  EXPECT_EQ(dirs.currentRow(), here);
  doubleClickRow(dirs, sub);
  EXPECT_EQ(nativePath(dirs.Path()), raw + "/" + kSjisSub);
  // Back up by Enter on the folder's row.
  dirs.setCurrentRow(here);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(&dirs, &enter);
  EXPECT_EQ(dirs.Path(), songs);
  EXPECT_EQ(changes.count(), 3);
  // The folder disappears between listing and double-click.
  ScriptedMsgBox boxes;
  removeTree(raw + "/" + kSjisSub);
  doubleClickRow(dirs, sub);
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
  } cases[] = {{songs, true, songs}, {home.path(), true, music}, {"/", false, home.path()}};
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
      "\xc0\xaf",                                       // an overlong "/"
      "\xed\xa0\x80",                                   // a surrogate written as UTF-8
      "\xed\xb2\x80",                                   // the very code point a kept byte becomes
      "\xe3\x81",                                       // a character cut short
      "\xf4\x90\x80\x80",                               // past U+10FFFF
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

// The profile file as a user's hand-edited plimra.ini exercises it, where
// it lives, and what a save leaves behind when it is cut short.
#include "settings/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <thread>

using namespace plimra::settings;

TEST(Profile, EditsAHandWrittenFileInPlace) {
  struct Case {
    const char* name;
    QByteArray before, after;
  };
  // Each case sets Option/Reset=GS, MID/Dir=/m and CDp/Top=5.
  const Case cases[] = {
      {"names in any case; comments, unknown keys and blank lines stay",
       "; mine\n[mid]\n  DIR = /old \nColor=red\n\n[OPTION]\nreset=GM\n",
       "; mine\n[mid]\n  DIR=/m\nColor=red\n\n[OPTION]\nreset=GS\n[CDp]\nTop=5\n"},
      {"a new key ends its section, before the blank lines", "[Option]\nMin=True\n\n[MID]\n",
       "[Option]\nMin=True\nReset=GS\n\n[MID]\nDir=/m\n[CDp]\nTop=5\n"},
      {"CRLF line ends are kept", "[MID]\r\nDir=/x\r\n",
       "[MID]\r\nDir=/m\r\n[Option]\r\nReset=GS\r\n[CDp]\r\nTop=5\r\n"},
      {"no final line end", "[MID]\nDir=/x", "[MID]\nDir=/m\n[Option]\nReset=GS\n[CDp]\nTop=5\n"},
  };
  for (const Case& c : cases) {
    Profile p = Profile::fromBytes(c.before);
    ASSERT_TRUE(p.setValue("Option", "Reset", "GS") && p.setValue("MID", "Dir", "/m") &&
                p.setValue("CDp", "Top", "5"));
    EXPECT_EQ(p.toBytes(), c.after) << c.name;
    EXPECT_EQ(p.value("mid", "DIR"), "/m") << c.name;
  }
  // A value with a line end would smuggle in lines of its own.
  Profile p = Profile::fromBytes("[MID]\nDir=/a\n");
  EXPECT_FALSE(p.setValue("MID", "Dir", "/evil\n[Option]\nReset=GS"));
  EXPECT_EQ(p.toBytes(), "[MID]\nDir=/a\n");
}

// Each line in its own encoding: a Shift-JIS file from an older
// installation, a UTF-8 file with a comment an old editor added in
// Shift-JIS. What a save leaves alone stays byte for byte; what it changes
// is UTF-8. And the longest folder, every byte written as %XX, reads back
// whole.
TEST(Profile, EachLineIsReadInItsOwnEncodingAndKeptAsItWasUnlessChanged) {
  // "ソ" ends in the byte of a backslash in Shift-JIS.
  const QByteArray sjis = "[MID]\r\nDir=/home/\x83\x5C\x83t\x83g\x89\xB9\x8A\x79\r\n";
  Profile old = Profile::fromBytes(sjis);
  EXPECT_EQ(old.value("MID", "Dir"), QStringLiteral("/home/ソフト音楽"));
  EXPECT_EQ(old.toBytes(), sjis);
  ASSERT_TRUE(old.setValue("MID", "Dir", QStringLiteral("/home/ソフト音楽")));  // the same value
  EXPECT_EQ(old.toBytes(), sjis);
  ASSERT_TRUE(old.setValue("MID", "Dir", QStringLiteral("/home/音楽")));
  EXPECT_EQ(old.toBytes(), QStringLiteral("[MID]\r\nDir=/home/音楽\r\n").toUtf8());

  const QByteArray comment = "; \x89\xB9\x8A\x79\x83t\x83H\x83\x8B\x83_\r\n";  // "音楽フォルダ"
  const QByteArray mixed = QStringLiteral("[MID]\nDir=/home/ann/音楽\n").toUtf8() + comment +
                           "  Drive = / [ROOT]  \n[Option]\nReset=GS\n";
  Profile p = Profile::fromBytes(mixed);
  EXPECT_EQ(p.value("MID", "Dir"), QStringLiteral("/home/ann/音楽"));
  ASSERT_TRUE(p.setValue("MID", "Dir", QStringLiteral("/home/ann/音楽")) &&
              p.setValue("MID", "Drive", "/ [ROOT]") && p.setValue("Option", "Reset", "GM"));
  EXPECT_EQ(p.toBytes(), QStringLiteral("[MID]\nDir=/home/ann/音楽\n").toUtf8() + comment +
                             "  Drive = / [ROOT]  \n[Option]\nReset=GM\n");

  QByteArray url = "file:///";
  while (url.size() < 8 + 3 * 4095) url += "%89";
  EXPECT_EQ(Profile::fromBytes("[MID]\nDir=" + url + "\n").value("MID", "Dir"),
            QString::fromLatin1(url));
}

TEST(ProfileFile, LivesBesideTheProgramOrInTheUsersConfigFolder) {
  QTemporaryDir dir;
  EXPECT_EQ(profilePath(dir.path()), dir.path() + "/plimra.ini");
  EXPECT_EQ(profilePath(dir.path() + "/"), dir.path() + "/plimra.ini");

  // A program folder that cannot be written to (here: one that is gone).
  const QString gone = dir.filePath("gone");
  qputenv("XDG_CONFIG_HOME", dir.filePath("cfg").toUtf8());
  EXPECT_EQ(profilePath(gone), dir.filePath("cfg/plimra/plimra.ini"));
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", dir.path().toUtf8());
  qunsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(profilePath(gone), dir.filePath(".config/plimra/plimra.ini"));
  // Saving there creates the folder.
  Profile p;
  p.setValue("Option", "Min", "True");
  EXPECT_TRUE(writeProfile(p, profilePath(gone)));
  EXPECT_EQ(readProfile(profilePath(gone)).profile.value("Option", "Min"), "True");
  qputenv("HOME", home);
}

TEST(ProfileFile, ReadingNeverBlocksAndSavingKeepsPermissionsAndLinks) {
  QTemporaryDir dir;
  EXPECT_EQ(readProfile(dir.filePath("none")).status, ReadResult::Missing);
  // A FIFO without a writer would block a plain open.
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_EQ(readProfile(fifo).status, ReadResult::Failed);

  const QString real = dir.filePath("real.ini"), link = dir.filePath("plimra.ini");
  ASSERT_TRUE(writeProfile(Profile::fromBytes("[MID]\nDir=/old\n"), real));
  ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
  ASSERT_TRUE(QFile::link(real, link));
  Profile p = readProfile(link).profile;
  p.setValue("MID", "Dir", "/new");
  ASSERT_TRUE(writeProfile(p, link));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(readProfile(real).profile.value("MID", "Dir"), "/new");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ProfileFile, ASaveKilledAtAnyMomentLeavesTheOldFileOrTheNew) {
  QTemporaryDir dir;
  const QString path = dir.filePath("plimra.ini");
  // Fourteen keys of one generation and 20 KB of padding: several writes.
  auto generation = [](long g) {
    Profile p;
    for (int k = 0; k < 14; ++k)
      p.setValue("S" + QString::number(k % 4), "K" + QString::number(k), QString::number(g));
    for (int k = 0; k < 5; ++k) p.setValue("Pad", "P" + QString::number(k), QString(4000, u'p'));
    return p;
  };
  ASSERT_TRUE(writeProfile(generation(0), path));

  std::mt19937 rng(20261207u);
  long old = 0;
  for (int trial = 1; trial <= 200; ++trial) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
      for (long g = trial * 100000L;; ++g) writeProfile(generation(g), path);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    const ReadResult r = readProfile(path);
    ASSERT_EQ(r.status, ReadResult::Ok) << "trial " << trial;
    const long g = r.profile.value("S0", "K0").value_or("-1").toLong();
    ASSERT_TRUE(g == old || g / 100000L == trial) << "trial " << trial << ": " << g;
    // Whole: exactly that generation's file.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    ASSERT_EQ(f.readAll(), generation(g).toBytes()) << "trial " << trial;
    old = g;
  }
  // The next save clears what the killed ones left.
  ASSERT_TRUE(writeProfile(generation(1), path));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"plimra.ini"});
}

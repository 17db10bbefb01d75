// The profile file as a user's hand-edited plimra.ini exercises it, where
// it lives, and what a save leaves behind when it is cut short.
#include "settings/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <random>
#include <thread>

using namespace plimra::settings;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

}  // namespace

TEST(Profile, EditsAHandWrittenFileInPlace) {
  struct Case {
    const char* name;
    QByteArray before;
    QByteArray after;
  };
  // Each case sets Option/Reset=GS, MID/Dir=/m and CDp/Top=5.
  const Case cases[] = {
      {"names in any case, a comment, an unknown key and blank lines stay",
       "; my settings\n[mid]\n  DIR = /old \nColor=red\n\n[OPTION]\nreset=GM\nMin=True\n",
       "; my settings\n[mid]\n  DIR=/m\nColor=red\n\n[OPTION]\nreset=GS\nMin=True\n"
       "[CDp]\nTop=5\n"},
      {"a new key goes to the end of its section, before the blank lines",
       "[Option]\nMin=True\n\n[MID]\n",
       "[Option]\nMin=True\nReset=GS\n\n[MID]\nDir=/m\n[CDp]\nTop=5\n"},
      {"CRLF line ends are kept", "[MID]\r\nDir=/x\r\n",
       "[MID]\r\nDir=/m\r\n[Option]\r\nReset=GS\r\n[CDp]\r\nTop=5\r\n"},
      {"no final line end", "[MID]\nDir=/x", "[MID]\nDir=/m\n[Option]\nReset=GS\n[CDp]\nTop=5\n"},
      {"only the first of two sections of a name", "[CDp]\nLeft=1\n[CDp]\nTop=9\n",
       "[CDp]\nLeft=1\nTop=5\n[CDp]\nTop=9\n[Option]\nReset=GS\n"
       "[MID]\nDir=/m\n"},
      {"an empty file", "", "[Option]\nReset=GS\n[MID]\nDir=/m\n[CDp]\nTop=5\n"},
  };
  for (const Case& c : cases) {
    Profile p = Profile::fromBytes(c.before);
    ASSERT_TRUE(p.setValue("Option", "Reset", "GS"));
    ASSERT_TRUE(p.setValue("MID", "Dir", "/m"));
    ASSERT_TRUE(p.setValue("CDp", "Top", "5"));
    EXPECT_EQ(p.toBytes(), c.after) << c.name;
  }
}

TEST(Profile, ReadsValuesAsAUserWroteThem) {
  const Profile p = Profile::fromBytes(
      "Stray=1\n[Option]\n; Min=False\n  MIN =  True  \nReset=\nnoequals\n[MID]\r\nDir=/a=b\n");
  EXPECT_EQ(p.value("option", "min"), "True");
  EXPECT_EQ(p.value("Option", "Reset"), "");
  EXPECT_EQ(p.value("MID", "Dir"), "/a=b");
  EXPECT_EQ(p.value("Option", "Stray"), std::nullopt);
  EXPECT_EQ(p.value("Option", "noequals"), std::nullopt);
  EXPECT_EQ(p.value("Plimra", "Top"), std::nullopt);
}

TEST(Profile, AShiftJisFileFromAnOlderInstallationReadsBackRight) {
  // "ソ" ends in the byte of a backslash in Shift-JIS; "音楽" is plain.
  const Profile p =
      Profile::fromBytes("[MID]\r\nDir=/home/user/\x83\x5C\x83t\x83g\x89\xB9\x8A\x79\r\n");
  EXPECT_EQ(p.value("MID", "Dir"), QStringLiteral("/home/user/ソフト音楽"));
  // Saved again, it is UTF-8.
  EXPECT_EQ(p.toBytes(), QStringLiteral("[MID]\r\nDir=/home/user/ソフト音楽\r\n").toUtf8());
}

TEST(Profile, LongValuesComeBackWholeUpToABound) {
  QTemporaryDir dir;
  const QString folder = "/home/user/Music/General MIDI collection/" + QString(159, u'x');
  ASSERT_EQ(folder.size(), 200);
  Profile p;
  ASSERT_TRUE(p.setValue("MID", "Dir", folder));
  ASSERT_TRUE(writeProfile(p, dir.filePath("plimra.ini")));
  EXPECT_EQ(readProfile(dir.filePath("plimra.ini")).profile.value("MID", "Dir"), folder);

  // Beyond the bound, cut on a character, never in one.
  ASSERT_TRUE(p.setValue("MID", "Dir", QString(kMaxValueBytes - 1, u'a') + "音"));
  EXPECT_EQ(p.value("MID", "Dir"), QString(kMaxValueBytes - 1, u'a'));
}

TEST(Profile, RefusesWhatWouldBreakTheFileApart) {
  Profile p = Profile::fromBytes("[MID]\nDir=/a\n");
  EXPECT_FALSE(p.setValue("MID", "Dir", "/evil\n[Option]\nReset=GS"));
  EXPECT_FALSE(p.setValue("MID]", "Dir", "x"));
  EXPECT_FALSE(p.setValue("MID", "A=B", "x"));
  EXPECT_FALSE(p.setValue("MID", "", "x"));
  EXPECT_EQ(p.toBytes(), "[MID]\nDir=/a\n");
}

TEST(ProfileFile, LivesBesideTheProgramOrInTheUsersConfigFolder) {
  QTemporaryDir dir;
  const QString prog = dir.filePath("bin");
  ASSERT_TRUE(QDir().mkpath(prog));
  EXPECT_EQ(profilePath(prog), prog + "/plimra.ini");
  EXPECT_EQ(profilePath("/"), "/plimra.ini");

  // A program folder that cannot be written (here: one that is gone).
  const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("XDG_CONFIG_HOME", dir.filePath("cfg").toUtf8());
  qputenv("HOME", dir.path().toUtf8());
  const QString gone = dir.filePath("gone");
  EXPECT_EQ(profilePath(gone), dir.filePath("cfg/plimra/plimra.ini"));
  qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
  EXPECT_EQ(profilePath(gone), dir.filePath(".config/plimra/plimra.ini"));

  // Saving there creates the folder; reading finds it by the same rule.
  Profile p;
  p.setValue("Option", "Min", "True");
  ASSERT_TRUE(writeProfile(p, profilePath(gone)));
  EXPECT_EQ(readProfile(profilePath(gone)).profile.value("Option", "Min"), "True");
  qputenv("XDG_CONFIG_HOME", oldXdg);
  qputenv("HOME", oldHome);
}

TEST(ProfileFile, ReadingTellsMissingFromUnreadableAndNeverBlocks) {
  QTemporaryDir dir;
  ReadResult r = readProfile(dir.filePath("plimra.ini"));
  EXPECT_EQ(r.status, ReadResult::Missing);
  EXPECT_EQ(r.errorNumber, kErrFileNotFound);

  ASSERT_TRUE(QDir().mkdir(dir.filePath("plimra.ini")));
  r = readProfile(dir.filePath("plimra.ini"));
  EXPECT_EQ(r.status, ReadResult::Failed);
  EXPECT_EQ(r.errorNumber, kErrPathFileAccess);
  EXPECT_FALSE(r.reason.isEmpty());

  // A FIFO with no writer would block a plain open.
  const QString fifo = dir.filePath("fifo.ini");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_EQ(readProfile(fifo).status, ReadResult::Failed);
}

TEST(ProfileFile, SavingKeepsPermissionsFollowsLinksAndFailsWithoutHarm) {
  QTemporaryDir dir;
  const QString real = dir.filePath("real.ini");
  writeBytes(real, "[MID]\nDir=/old\n");
  ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
  const QString link = dir.filePath("plimra.ini");
  ASSERT_TRUE(QFile::link(real, link));

  Profile p = readProfile(link).profile;
  p.setValue("MID", "Dir", "/new");
  ASSERT_TRUE(writeProfile(p, link));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(readAll(real), "[MID]\nDir=/new\n");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A name taken by a folder cannot be replaced: the reason comes back and
  // no temporary file is left.
  const QString taken = dir.filePath("taken");
  ASSERT_TRUE(QDir().mkdir(taken));
  QString why;
  EXPECT_FALSE(writeProfile(p, taken, &why));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            (QStringList{"plimra.ini", "real.ini"}));
}

// A save killed at any moment leaves the old file or the new one.
TEST(ProfileFile, ASaveKilledAtAnyMomentLeavesTheOldFileOrTheNew) {
  QTemporaryDir dir;
  const QString path = dir.filePath("plimra.ini");
  const QString pad(4000, u'p');  // five of them: several writes' worth
  auto valuesOf = [&](long generation) {
    Profile p;
    for (int k = 0; k < 14; ++k)
      p.setValue("S" + QString::number(k % 4), "K" + QString::number(k),
                 QString::number(generation));
    for (int k = 0; k < 5; ++k) p.setValue("Pad", "P" + QString::number(k), pad);
    return p;
  };
  ASSERT_TRUE(writeProfile(valuesOf(0), path));

  std::mt19937 rng(20261207u);
  long old = 0;
  for (int trial = 1; trial <= 200; ++trial) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (long g = trial * 100000L;; ++g) writeProfile(valuesOf(g), path);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    const ReadResult r = readProfile(path);
    ASSERT_EQ(r.status, ReadResult::Ok) << "trial " << trial;
    const QString first = r.profile.value("S0", "K0").value_or("missing");
    const long generation = first.toLong();
    ASSERT_TRUE(generation == old || generation / 100000L == trial) << "trial " << trial;
    for (int k = 0; k < 14; ++k)
      ASSERT_EQ(r.profile.value("S" + QString::number(k % 4), "K" + QString::number(k)), first)
          << "trial " << trial << " key " << k;
    for (int k = 0; k < 5; ++k)
      ASSERT_TRUE(r.profile.value("Pad", "P" + QString::number(k)) == pad) << "trial " << trial;
    old = generation;
  }
}

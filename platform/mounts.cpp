#include "platform/mounts.h"

#include <fcntl.h>
#include <mntent.h>
#include <poll.h>
#include <unistd.h>

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringList>
#include <algorithm>
#include <mutex>
#include <utility>

namespace plimra::platform {

namespace {

std::function<std::vector<DriveInfo>()>& driveProvider() {
  static std::function<std::vector<DriveInfo>()> p;
  return p;
}

// The folder last shown on each drive, like a current folder per drive.
QHash<QString, QString>& folderOnDrive() {
  static QHash<QString, QString> h;
  return h;
}

bool isPseudoFileSystem(const QByteArray& type) {
  static const QSet<QByteArray> pseudo = {
      "proc",       "sysfs",      "devtmpfs",    "devpts",      "tmpfs",
      "cgroup",     "cgroup2",    "securityfs",  "pstore",      "bpf",
      "tracefs",    "debugfs",    "mqueue",      "hugetlbfs",   "fusectl",
      "configfs",   "autofs",     "binfmt_misc", "efivarfs",    "ramfs",
      "nsfs",       "rpc_pipefs", "squashfs",    "fuse.portal", "fuse.gvfsd-fuse",
      "fuse.lxcfs", "selinuxfs",  "overlay",     "nfsd",        "ecryptfs"};
  return pseudo.contains(type);
}

// Mount points that hold the system, not the user's files.
bool isSystemMount(const QString& root) {
  static const QStringList prefixes = {
      QStringLiteral("/boot"),    QStringLiteral("/proc"),     QStringLiteral("/sys"),
      QStringLiteral("/dev"),     QStringLiteral("/run/user"), QStringLiteral("/snap"),
      QStringLiteral("/var/lib"), QStringLiteral("/var/snap"), QStringLiteral("/tmp"),
      QStringLiteral("/etc"),     QStringLiteral("/usr"),      QStringLiteral("/var/log")};
  for (const auto& p : prefixes)
    if (root == p || root.startsWith(p + u'/')) return true;
  return false;
}

// Mount points whose names are not UTF-8: Qt's volume list cannot name
// them, the mount table's bytes can.
std::vector<QString> mountsWithKeptBytes() {
  std::vector<QString> roots;
  FILE* table = setmntent("/proc/self/mounts", "r");
  if (!table) return roots;
  while (const mntent* m = getmntent(table)) {
    const QString root = pathFromNative(m->mnt_dir);
    if (hasKeptBytes(root) && isUserVolume(root, m->mnt_type) && isReadableFolder(root))
      roots.push_back(root);
  }
  endmntent(table);
  return roots;
}

// The two drives every machine has.
std::vector<DriveInfo> homeAndRoot() {
  return {{homeFolder(), QString()}, {QStringLiteral("/"), QString()}};
}

}  // namespace

bool isUserVolume(const QString& root, const QByteArray& fileSystemType) {
  return !isPseudoFileSystem(fileSystemType) && !isSystemMount(root);
}

QString DriveInfo::text() const {
  // Every drive's text carries a label, so that it never reads as a plain
  // folder: "/home/ann" is a folder, "/home/ann [ホーム]" the home drive.
  QString shown = label;
  if (shown.isEmpty()) {
    if (root == homeFolder())
      shown = QStringLiteral("ホーム");
    else if (root == QLatin1String("/"))
      shown = QStringLiteral("ルート");
    else
      shown = displayName(lastPart(root));
  }
  return displayName(root) + QStringLiteral(" [") + shown + u']';
}

std::vector<DriveInfo> listDrives() { return driveProvider() ? driveProvider()() : homeAndRoot(); }

void setDriveProvider(std::function<std::vector<DriveInfo>()> provider) {
  driveProvider() = std::move(provider);
  folderOnDrive().clear();
}

namespace {

// Whether the mount table may have changed since the last call: the kernel
// marks an open /proc/self/mounts with POLLPRI when it changes, and reading
// it again re-arms the mark. Without the file, always.
bool mountsMayHaveChanged() {
  static const int fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
  static bool first = true;
  if (fd < 0) return true;
  pollfd p{fd, POLLPRI, 0};
  const bool changed = std::exchange(first, false) ||
                       (::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0);
  if (changed) {
    char buf[4096];
    ::lseek(fd, 0, SEEK_SET);
    while (::read(fd, buf, sizeof buf) > 0) {
    }
  }
  return changed;
}

std::vector<DriveInfo> readMountedDrives();

}  // namespace

std::vector<DriveInfo> mountedDrives() {
  // Start-up and every folder change ask for the drives many times; the
  // volumes are read again only when something was mounted or unmounted.
  static std::mutex mutex;
  static std::vector<DriveInfo> drives;
  std::lock_guard lock(mutex);
  if (mountsMayHaveChanged() || drives.empty()) drives = readMountedDrives();
  return drives;
}

namespace {

std::vector<DriveInfo> readMountedDrives() {
  std::vector<DriveInfo> drives = homeAndRoot();
  const QString home = drives.front().root;
  std::vector<DriveInfo> others;
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    const QString root = v.rootPath();
    if (root == QLatin1String("/") || root == home) continue;
    // Files bind-mounted over single files (containers do this) are not
    // volumes either.
    if (!isUserVolume(root, v.fileSystemType()) || !QFileInfo(root).isDir()) continue;
    // A label that only repeats the folder's name is left out.
    const QString label = v.name();
    others.push_back({root, label == QFileInfo(root).fileName() ? QString() : label});
  }
  for (const QString& root : mountsWithKeptBytes())
    if (root != home) others.push_back({root, QString()});
  std::sort(others.begin(), others.end(),
            [](const DriveInfo& a, const DriveInfo& b) { return a.root < b.root; });
  for (auto& d : others)
    if (std::none_of(drives.begin(), drives.end(),
                     [&](const DriveInfo& e) { return e.root == d.root; }))
      drives.push_back(d);
  return drives;
}

}  // namespace

QString driveRoot(const QString& driveText) {
  // The shown folder of a drive is decoded; the list knows its exact bytes.
  for (const auto& d : listDrives())
    if (d.text() == driveText) return d.root;
  static const QRegularExpression label(QStringLiteral(R"( \[[^\]]*\]$)"));
  QString t = driveText;
  t.remove(label);
  return t;
}

bool isDriveText(const QString& text) {
  for (const auto& d : listDrives())
    if (d.text() == text) return true;
  return false;
}

QString driveOf(const QString& path) {
  const QString p = cleanFolder(path);
  QString best;
  qsizetype bestLength = -1;
  for (const auto& d : listDrives()) {
    if (folderHolds(d.root, p) && d.root.size() > bestLength) {
      best = d.text();
      bestLength = d.root.size();
    }
  }
  return best;
}

QString startFolder() {
  const QString cwd = currentFolder();
  const QString home = homeFolder();
  if (cwd != QLatin1String("/") && cwd != home && isReadableFolder(cwd)) return cleanFolder(cwd);
  // Started from the desktop's menu (in the home folder or in /): the
  // user's music folder when there is one.
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && music != home && isReadableFolder(music)) return cleanFolder(music);
  return cleanFolder(home);
}

// The last part of a path; "/" for the root.
QString lastPart(const QString& path) {
  if (path == QLatin1String("/")) return path;
  return path.mid(path.lastIndexOf(u'/') + 1);
}

// The folder that holds a path; the root holds itself.
QString parentOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString cleanFolder(const QString& path) { return absoluteClean(path); }

bool folderHolds(const QString& root, const QString& path) {
  return root == QLatin1String("/") || path == root || path.startsWith(root + u'/');
}

QString currentFolderOn(const QString& root) { return folderOnDrive().value(root, root); }
void setCurrentFolderOn(const QString& root, const QString& folder) {
  folderOnDrive().insert(root, folder);
}

}  // namespace plimra::platform

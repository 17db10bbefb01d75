#include "runtime/filelists.h"

#include <mntent.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

#include "runtime/msgbox.h"

namespace plimra::rt {

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

QString cleanFolder(const QString& path) { return absoluteClean(path); }

bool contains(const QString& root, const QString& path) {
  return root == QLatin1String("/") || path == root || path.startsWith(root + u'/');
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

std::vector<DriveInfo> listDrives() {
  return driveProvider() ? driveProvider()() : homeAndRoot();
}

void setDriveProvider(std::function<std::vector<DriveInfo>()> provider) {
  driveProvider() = std::move(provider);
  folderOnDrive().clear();
}

std::vector<DriveInfo> mountedDrives() {
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
    if (contains(d.root, p) && d.root.size() > bestLength) {
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

// ---------------------------------------------------------------- drives

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(4);
  fill();
  drive_ = driveOf(startFolder());
  previous_ = drive_;
  setCurrentIndex(findText(drive_));
  connect(this, &QComboBox::activated, this, &DriveListBox::onActivated);
}

void DriveListBox::fill() {
  const QSignalBlocker block(this);
  clear();
  const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const auto& d : listDrives()) addItem(icon, d.text());
  setCurrentIndex(findText(drive_));
}

void DriveListBox::Refresh() { fill(); }

void DriveListBox::showPopup() {
  fill();
  QComboBox::showPopup();
}

bool DriveListBox::setDrive(const QString& text) {
  if (text.isEmpty()) return false;
  QString found;
  const QString root = driveRoot(text);
  for (const auto& d : listDrives())
    if (d.text() == text || d.root == root) found = d.text();
  if (found.isEmpty()) return false;
  if (findText(found) < 0) fill();
  if (found == drive_) return true;
  previous_ = drive_;
  drive_ = found;
  {
    const QSignalBlocker block(this);
    setCurrentIndex(findText(found));
  }
  emit Change();
  return drive_ == found;
}

void DriveListBox::revert() {
  drive_ = previous_;
  const QSignalBlocker block(this);
  setCurrentIndex(findText(drive_));
}

void DriveListBox::onActivated(int index) {
  const QString chosen = itemText(index);
  if (setDrive(chosen) && drive_ == chosen) return;
  // The change handling could not use the drive (no medium, no access) and
  // put the old one back; say so instead of failing silently.
  const QSignalBlocker block(this);
  setCurrentIndex(findText(drive_));
  MsgBox(QStringLiteral("ドライブ %1 を読み取れません。").arg(chosen), vbExclamation);
}

// --------------------------------------------------------------- folders

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { open(row(item)); });
  setPath(startFolder());
}

bool DirListBox::setPath(const QString& path) {
  QString target;
  if (isDriveText(path)) {
    const QString root = driveRoot(path);
    // The drive's current folder: the one shown now if it lies on that
    // drive, else the one last shown there, else its root.
    if (!path_.isEmpty() && driveOf(path_) == driveOf(root) && contains(root, path_))
      target = path_;
    else
      target = folderOnDrive().value(root, root);
    if (!isReadableFolder(target)) target = root;
  } else {
    target = cleanFolder(path);
  }
  if (!isReadableFolder(target)) return false;
  const bool changed = target != path_;
  path_ = target;
  const QString drive = driveOf(path_);
  if (!drive.isEmpty()) folderOnDrive().insert(driveRoot(drive), path_);
  Refresh();
  if (changed) emit Change();
  return true;
}

void DirListBox::Refresh() {
  clear();
  rows_.clear();
  if (path_.isEmpty()) return;
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  QStringList chain;
  for (QString p = path_;; p = parentOf(p)) {
    chain.prepend(p);
    if (p == QLatin1String("/") || parentOf(p) == p) break;
  }
  int depth = 0;
  for (const QString& p : chain) {
    addItem(new QListWidgetItem(openIcon, QString(depth * 2, u' ') + displayName(lastPart(p))));
    rows_ << p;
    ++depth;
  }
  setCurrentRow(static_cast<int>(rows_.size()) - 1);
  const QString prefix = path_ == QLatin1String("/") ? path_ : path_ + u'/';
  for (const FolderEntry& c : folderEntries(path_, EntryKind::Folders)) {
    addItem(new QListWidgetItem(closedIcon, QString(depth * 2, u' ') + c.shown));
    rows_ << prefix + c.name;
  }
}

void DirListBox::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    open(currentRow());
    return;
  }
  QListWidget::keyPressEvent(e);
}

void DirListBox::open(int row) {
  if (row < 0 || row >= rows_.size()) return;
  const QString target = rows_[row];
  if (setPath(target)) return;
  MsgBox(QStringLiteral("フォルダ %1 を開けません。").arg(displayName(target)), vbExclamation);
  Refresh();
}

// ----------------------------------------------------------------- files

FileListBox::FileListBox(QWidget* parent) : ListBox(parent) { setPath(startFolder()); }

bool FileListBox::matches(const QString& name, const QString& pattern) {
  for (const QString& p : pattern.split(u';', Qt::SkipEmptyParts)) {
    const QString one = p.trimmed();
    if (one == QLatin1String("*.*") || one == QLatin1String("*")) return true;
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(one),
                                QRegularExpression::CaseInsensitiveOption);
    if (re.match(name).hasMatch()) return true;
  }
  return false;
}

bool FileListBox::setPath(const QString& path) {
  const QString target = cleanFolder(path);
  if (!isReadableFolder(target)) return false;
  const bool changed = target != path_;
  path_ = target;
  if (changed) clear();
  Refresh();
  if (changed) emit PathChange();
  return true;
}

void FileListBox::setPattern(const QString& pattern) {
  pattern_ = pattern;
  Refresh();
}

void FileListBox::Refresh() {
  const QString keep = ExactFileName();
  clear();
  if (path_.isEmpty()) return;
  for (const FolderEntry& e : folderEntries(path_, EntryKind::Files)) {
    if (!matches(e.shown, pattern_)) continue;
    auto* item = new QListWidgetItem(e.shown);
    item->setData(Qt::UserRole, e.name);
    addItem(item);
    if (!keep.isEmpty() && e.name == keep) setCurrentItem(item);
  }
}

QString FileListBox::FileName() const {
  const auto* it = currentItem();
  return it && it->isSelected() ? it->text() : QString();
}

QString FileListBox::ExactFileName() const {
  const auto* it = currentItem();
  return it && it->isSelected() ? it->data(Qt::UserRole).toString() : QString();
}

}  // namespace plimra::rt

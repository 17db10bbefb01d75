#include "ui/kit/filelists.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>
#include <QStyle>
#include <algorithm>

#include "ui/kit/msgbox.h"

namespace plimra::kit {

// The drives and the folders' names come from beneath the kit.
using namespace plimra::platform;

namespace {

// The lists' own small icons, drawn here: the desktop's icon theme takes
// milliseconds to load on first use, and the first frame would wait for it.
enum class Glyph { ClosedFolder, OpenFolder, Drive };

QIcon glyphIcon(Glyph glyph) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor(96, 80, 16));
  if (glyph == Glyph::Drive) {
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(1, 5, 13, 7);
    p.fillRect(10, 9, 3, 2, QColor(32, 160, 32));
    return QIcon(pixmap);
  }
  // A yellow folder with its tab; the open one shows its front flap tilted.
  p.setBrush(QColor(232, 200, 72));
  p.drawRect(1, 4, 13, 9);
  p.drawRect(1, 2, 5, 2);
  if (glyph == Glyph::OpenFolder) {
    p.setBrush(QColor(248, 224, 120));
    p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
  }
  return QIcon(pixmap);
}

const QIcon& iconOf(Glyph glyph) {
  static const QIcon icons[] = {glyphIcon(Glyph::ClosedFolder), glyphIcon(Glyph::OpenFolder),
                                glyphIcon(Glyph::Drive)};
  return icons[static_cast<int>(glyph)];
}

}  // namespace

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
  const QIcon& icon = iconOf(Glyph::Drive);
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
    if (!path_.isEmpty() && driveOf(path_) == driveOf(root) && folderHolds(root, path_))
      target = path_;
    else
      target = currentFolderOn(root);
    if (!isReadableFolder(target)) target = root;
  } else {
    target = cleanFolder(path);
  }
  if (!isReadableFolder(target)) return false;
  const bool changed = target != path_;
  path_ = target;
  const QString drive = driveOf(path_);
  if (!drive.isEmpty()) setCurrentFolderOn(driveRoot(drive), path_);
  Refresh();
  if (changed) emit Change();
  return true;
}

void DirListBox::Refresh() {
  clear();
  rows_.clear();
  if (path_.isEmpty()) return;
  const QIcon& openIcon = iconOf(Glyph::OpenFolder);
  const QIcon& closedIcon = iconOf(Glyph::ClosedFolder);
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

bool FileListBox::matches(const QString& name) const {
  if (parts_.isEmpty()) return true;
  for (const QRegularExpression& part : parts_)
    if (part.match(name).hasMatch()) return true;
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
  parts_.clear();
  for (const QString& p : pattern.split(u';', Qt::SkipEmptyParts)) {
    const QString one = p.trimmed();
    if (one == QLatin1String("*.*") || one == QLatin1String("*")) {
      parts_.clear();
      break;
    }
    parts_.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(one),
                                     QRegularExpression::CaseInsensitiveOption));
  }
  Refresh();
}

void FileListBox::Refresh() {
  const QString keep = ExactFileName();
  clear();
  if (path_.isEmpty()) return;
  for (const FolderEntry& e : folderEntries(path_, EntryKind::Files)) {
    if (!matches(e.shown)) continue;
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

}  // namespace plimra::kit

// The three browsing lists: drives (platform/mounts.h), folders of the
// chosen drive, and the files of the chosen folder that match a pattern.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "ui/kit/controls.h"
#include "platform/mounts.h"

namespace plimra::kit {

class DriveListBox : public QComboBox {
  Q_OBJECT
 public:
  explicit DriveListBox(QWidget* parent = nullptr);

  QString Drive() const { return drive_; }
  // Selects the drive named by `text` (its full text or its folder) and
  // raises Change when it differs from the one shown. False, with nothing
  // changed, when no drive of that name exists.
  bool setDrive(const QString& text);
  // Back to the drive shown before the last change, without Change; for a
  // change handler that finds the new drive unusable.
  void revert();
  // Reads the drives anew (they come and go), keeping the shown one.
  void Refresh();

 signals:
  void Change();

 protected:
  void showPopup() override;

 private:
  void onActivated(int index);
  void fill();
  QString drive_;
  QString previous_;
};

class DirListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit DirListBox(QWidget* parent = nullptr);

  // Reads the folder anew, keeping the shown one.
  void Refresh();
  // A folder, or a drive's text: then the folder last shown on that drive
  // (its root before any). Raises Change when the path changes. False, with
  // nothing changed, when the folder cannot be read.
  bool setPath(const QString& path);
  QString Path() const { return path_; }

 signals:
  void Change();

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void open(int row);
  QString path_;
  QStringList rows_;  // the folder each row stands for
};

// A list box of file names; selection, entries and DblClick as ListBox.
class FileListBox : public ListBox {
  Q_OBJECT
 public:
  explicit FileListBox(QWidget* parent = nullptr);

  // The selected file's name without folder, as shown; empty with none
  // selected.
  QString FileName() const;
  // The same name as the file system has it, for opening the file.
  QString ExactFileName() const;

  QString Path() const { return path_; }
  // False, with nothing changed, when the folder cannot be read.
  bool setPath(const QString& path);
  // Patterns separated by ";", matched without regard to letter case.
  QString Pattern() const { return pattern_; }
  void setPattern(const QString& pattern);
  int16_t ListCount() const { return static_cast<int16_t>(qMin(count(), 32767)); }
  // Reads the folder anew, keeping the selected name when it is still there.
  void Refresh();

 signals:
  void PathChange();

 private:
  // Whether a shown name matches the pattern.
  bool matches(const QString& name) const;

  QString path_;
  QString pattern_ = QStringLiteral("*.*");
  // The pattern's parts, made once for all the names of a folder (making
  // one is far dearer than matching a name); none when any name matches.
  QList<QRegularExpression> parts_;
};

}  // namespace plimra::kit

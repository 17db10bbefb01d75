// The mounted volumes that stand for drives. Linux has no drive letters;
// the user's home folder and the mounted volumes that hold files stand in
// for them. A drive's text is its folder, followed by a label in brackets:
// the volume's label, else a name for it ("/media/ann/USB [USB]",
// "/home/ann [ホーム]"). A text without the label is a plain folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

#include "platform/filenames.h"

namespace plimra::platform {

// Paths, folders and file names are in the lossless text form of
// runtime/filenames.h; the lists show them decoded.
struct DriveInfo {
  QString root;   // the folder the drive stands for
  QString label;  // empty: a name made from the folder
  QString text() const;
};

// The drives, from the list the program installed at start-up (main
// installs mountedDrives). With none installed, as in a tool that reads no
// mount table, they are the home folder and the root folder.
std::vector<DriveInfo> listDrives();
void setDriveProvider(std::function<std::vector<DriveInfo>()> provider);
// The mounted volumes that hold the user's files: the home folder first,
// then the root folder, then the other volumes by folder name.
std::vector<DriveInfo> mountedDrives();

// Whether a mounted volume holds the user's files: not a pseudo file system
// (proc, tmpfs, cgroup, squashfs images ...) and not a system folder (/boot,
// /sys, /run/user ...).
bool isUserVolume(const QString& root, const QByteArray& fileSystemType);

// The folder a drive text stands for: the listed drive's folder, else the
// text without a bracketed label.
QString driveRoot(const QString& driveText);
// Whether the text is a drive's text (as opposed to a folder).
bool isDriveText(const QString& text);
// The drive (of the current list) that holds `path`: the one with the
// longest root that contains it. Empty when none does.
QString driveOf(const QString& path);

// The folder the program starts in: the current folder, or the home folder
// when the current one is the root or cannot be read.
QString startFolder();

// Like the current folder each drive keeps: the folder last shown on a
// drive (its root before any). A new drive list forgets them.
QString currentFolderOn(const QString& root);
void setCurrentFolderOn(const QString& root, const QString& folder);

// Paths as the lists compare them: absolute, clean.
QString cleanFolder(const QString& path);
// Whether `root` is `path` or a folder above it.
bool folderHolds(const QString& root, const QString& path);
// The last part of a path; "/" for the root.
QString lastPart(const QString& path);
// The folder that holds a path; the root holds itself.
QString parentOf(const QString& path);

}  // namespace plimra::platform

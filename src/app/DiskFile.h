#pragma once

#include <QByteArray>
#include <QString>

// Whole-file reads and replacements that say why they failed (an errno
// value, 0 on success), for files that must never be left half written.
namespace DiskFile {
// ENOENT when there is no such file.
int read(const QString& path, QByteArray* contents);
// Writes contents to a new file beside the target (a symbolic link's target
// when path is one), flushes it to the disk, reads it back and only then
// renames it over the target. On any failure the new file is removed and
// the target is left as it was.
int replace(const QString& path, const QByteArray& contents);
} // namespace DiskFile

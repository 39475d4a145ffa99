#pragma once

#include <QString>
#include <QtGlobal>

// The file calls whose outcome the program relies on: that data is on the
// disk, that a replaced file is either old or new, never half written. Each
// returns 0 or an errno value (on Windows the nearest one to the system's
// error), so that callers judge failures the same way everywhere. One
// implementation per system, chosen by the build: posix/ or win/.
namespace SystemFile {
// A descriptor on POSIX, a HANDLE on Windows.
using Handle = qintptr;
constexpr Handle NoFile = -1;

int openRead(const QString& path, Handle* file);
// A file that must not exist yet (EEXIST when it does), with the permissions
// of permissionsOf when that file exists.
int createNew(const QString& path, const QString& permissionsOf, Handle* file);
// For appending, and reading back what is there; created private to the user
// when missing.
int openAppend(const QString& path, Handle* file);
// Bytes read into buffer (0 at the end), or a negative errno value.
qint64 read(Handle file, char* buffer, qint64 size);
// Writes size bytes in as few calls as the system allows (one, normally,
// so a killed process leaves no half of it); *written says how many made it.
int write(Handle file, const char* data, qint64 size, qint64* written);
// The last bytes of the file (up to size), read without moving where
// appends go: the count, or a negative errno value.
qint64 readEnd(Handle file, char* buffer, qint64 size);
// Holds the file for this process until unlock(), waiting while another one
// holds it (each holds it for one record's write), so that processes
// appending to one file each see the others' last record.
int lock(Handle file);
int unlock(Handle file);
// The file's data on the disk.
int sync(Handle file);
int close(Handle file);
// Puts from in the place of to in one step, and makes that last through a
// power cut.
int replace(const QString& from, const QString& to);
int remove(const QString& path);
// Creates path and the folders above it that are missing, private to the user.
int makeFolders(const QString& path);
qint64 processId();
} // namespace SystemFile

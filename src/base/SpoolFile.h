#pragma once

#include <QFile>
#include <QString>
#include <memory>

// A file of our own with no name left in folder: it is read and written
// while open, and nothing of it stays behind when the program ends, a
// crash included. One implementation per system.
std::unique_ptr<QFile> openSpoolFile(const QString& folder);

#pragma once

#include "base/AppError.h"

#include <QList>
#include <QString>
#include <utility>

// Per-user store of text values addressed by section and key, under the
// application name "Parvelo". On Linux this is the INI file
// $XDG_CONFIG_HOME/Parvelo/Parvelo.conf; with a profile (one Parvelo per
// instrument), Parvelo-<profile>.conf beside it. Which keys exist, and what
// they hold, is SettingsSchema's business.
//
// QSettings reads the file; writes are ours: QSettings renames a file over
// the old one even when writing it failed (a full disk left it empty), so
// the new file is written beside the old one, checked, and only then put in
// its place. A save thus either completes or leaves the file as it was.
class SettingsStore {
public:
    static constexpr const char* AppName = "Parvelo";
    using Values = QList<std::pair<QString, QString>>; // key, text

    // The stored text, or defaultValue when the key is absent.
    QString get(const QString& section, const QString& key,
                const QString& defaultValue = QString()) const;
    // Creates or replaces the value and writes it through to the file.
    Failure set(const QString& section, const QString& key, const QString& value);
    // All of them in one write: the file gets all or none.
    Failure set(const QString& section, const Values& values);

    static QString fileName();
};

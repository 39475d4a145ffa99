#pragma once

#include "base/AppError.h"

#include <QString>

// Per-user store of text values addressed by section and key, under the
// application name "Parvelo". On Linux this is the INI file
// $XDG_CONFIG_HOME/Parvelo/Parvelo.conf. Which keys exist, and what they
// hold, is SettingsSchema's business.
class SettingsStore {
public:
    static constexpr const char* AppName = "Parvelo";

    // The stored text, or defaultValue when the key is absent.
    QString get(const QString& section, const QString& key,
                const QString& defaultValue = QString()) const;
    // Creates or replaces the value and writes it through to the file.
    Failure set(const QString& section, const QString& key, const QString& value);
};

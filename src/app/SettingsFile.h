#pragma once

#include <QSettings>

// The user's settings file, the same INI text on every system:
// ~/.config/Parvelo/Parvelo.conf (or under $XDG_CONFIG_HOME) on Linux,
// %APPDATA%\Parvelo\Parvelo.conf on Windows (folder and file name as
// given). One implementation per system.
QSettings openSettingsFile(const QString& folder, const QString& name);

#pragma once

#include <QByteArray>
#include <QVariantMap>

// The INI text QSettings writes for a set of values, byte for byte, so that
// we can write the settings file ourselves (and check the write) while files
// stay what QSettings reads and writes.
namespace IniText {
// values: "Section/Key" as QSettings::allKeys() names them (no slash: the
// [General] section).
QByteArray format(const QVariantMap& values);
} // namespace IniText

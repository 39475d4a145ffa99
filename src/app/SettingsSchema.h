#pragma once

#include "DataSettings.h"
#include "SettingsStore.h"
#include "base/AppError.h"
#include "serial/SerialChoice.h"

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

// A number kept as text: nothing stored (empty text), the number, or the
// error its text gives.
template <typename T> struct StoredNumber {
    bool stored = false;
    std::optional<T> value;
    AppError error;
};

// [Settings]: the general settings, held in AppState while the program runs.
struct GeneralSettings {
    QString OpenPathName;
    QString SavePathName;
    QString ExeFileName;
    QString InsertDate = QStringLiteral("0"); // the stored text, not examined here
    std::int16_t InsertTime = 0;
};

// Everything start-up reads, before any of it is applied.
struct StartupSettings {
    GeneralSettings general; // InsertTime stays 0 when its text is no 16-bit number...
    Failure insertTimeError; // ...and this says why
    // [Properties], each empty when nothing is stored.
    QString serialSettings;
    StoredNumber<std::int16_t> commPort;
    StoredNumber<std::int32_t> handshaking;
    DataSettings data;
};

// The layout of the store, in one place: its sections and keys, the defaults
// of absent values, and how each value is read from and written as text.
//   [Settings]   OpenPathName, SavePathName, ExeFileName, InsertDate, InsertTime
//   [Properties] Settings, CommPort, Handshaking (written by the dialog's OK)
//   [Ports]      ComN = device path (written by the user only)
//   [Data]       Request, RequestEvery, Keep, NumberOnly, Decimal, UnitColumn,
//                Pick, After, PerRow, LineEnd, Encoding (written by the Data
//                dialog's OK)
class SettingsSchema {
public:
    explicit SettingsSchema(SettingsStore& store) : m_store(store) {}

    StartupSettings load() const;
    // Each in one write: the file gets all of the values or none.
    Failure saveGeneral(const GeneralSettings& values);
    Failure saveSerial(const SerialChoice& values);
    Failure saveData(const DataSettings& values);
    // The device a [Ports] entry names for a port number; empty when none.
    QString portDevice(int number) const;

    // Defaults of the [Settings] paths on this platform.
    static QString defaultOpenPathName();
    static QString defaultSavePathName();
    static QString defaultExeFileName();

private:
    using Entry = std::pair<const char*, QString>;
    Failure write(const QString& section, std::initializer_list<Entry> entries);

    SettingsStore& m_store;
};

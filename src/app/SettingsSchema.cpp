#include "SettingsSchema.h"

#include "base/NumberText.h"

#include <QDir>

namespace {
const QString General = QStringLiteral("Settings");
const QString Serial = QStringLiteral("Properties");
const QString Ports = QStringLiteral("Ports");
const QString Data = QStringLiteral("Data");

// The modes' default is a number; stored, it is text like any other value.
const QString NoInsert = QStringLiteral("0");

template <typename T>
StoredNumber<T> number(const QString& text,
                       std::optional<T> (*convert)(const QString&, AppError*)) {
    StoredNumber<T> n;
    n.stored = !text.isEmpty();
    if (n.stored)
        n.value = convert(text, &n.error);
    return n;
}
} // namespace

StartupSettings SettingsSchema::load() const {
    StartupSettings s;
    GeneralSettings& g = s.general;
    g.OpenPathName = m_store.get(General, "OpenPathName", defaultOpenPathName());
    g.SavePathName = m_store.get(General, "SavePathName", defaultSavePathName());
    g.ExeFileName = m_store.get(General, "ExeFileName", defaultExeFileName());
    g.InsertDate = m_store.get(General, "InsertDate", NoInsert);
    AppError error;
    if (const auto t = NumberText::toInt16(m_store.get(General, "InsertTime", NoInsert), &error))
        g.InsertTime = *t;
    else
        s.insertTimeError = error;

    s.serialSettings = m_store.get(Serial, "Settings");
    s.commPort = number<std::int16_t>(m_store.get(Serial, "CommPort"), NumberText::toInt16);
    s.handshaking = number<std::int32_t>(m_store.get(Serial, "Handshaking"), NumberText::toInt32);

    DataSettings& d = s.data;
    const DataSettings defaults;
    d.Request = m_store.get(Data, "Request", defaults.Request);
    d.RequestEvery = m_store.get(Data, "RequestEvery", defaults.RequestEvery);
    d.Identify = m_store.get(Data, "Identify", defaults.Identify);
    d.Keep = m_store.get(Data, "Keep", defaults.Keep);
    d.NumberOnly = m_store.get(Data, "NumberOnly", defaults.NumberOnly);
    d.Decimal = m_store.get(Data, "Decimal", defaults.Decimal);
    d.UnitColumn = m_store.get(Data, "UnitColumn", defaults.UnitColumn);
    d.Pick = m_store.get(Data, "Pick", defaults.Pick);
    d.After = m_store.get(Data, "After", defaults.After);
    d.PerRow = m_store.get(Data, "PerRow", defaults.PerRow);
    d.LineEnd = m_store.get(Data, "LineEnd", defaults.LineEnd);
    d.Encoding = m_store.get(Data, "Encoding", defaults.Encoding);
    return s;
}

Failure SettingsSchema::saveData(const DataSettings& v) {
    return write(Data, {{"Request", v.Request},
                        {"RequestEvery", v.RequestEvery},
                        {"Identify", v.Identify},
                        {"Keep", v.Keep},
                        {"NumberOnly", v.NumberOnly},
                        {"Decimal", v.Decimal},
                        {"UnitColumn", v.UnitColumn},
                        {"Pick", v.Pick},
                        {"After", v.After},
                        {"PerRow", v.PerRow},
                        {"LineEnd", v.LineEnd},
                        {"Encoding", v.Encoding}});
}

Failure SettingsSchema::saveGeneral(const GeneralSettings& values) {
    return write(General, {{"OpenPathName", values.OpenPathName},
                           {"SavePathName", values.SavePathName},
                           {"ExeFileName", values.ExeFileName},
                           {"InsertDate", values.InsertDate},
                           {"InsertTime", QString::number(values.InsertTime)}});
}

Failure SettingsSchema::saveSerial(const SerialChoice& values) {
    return write(Serial, {{"Settings", values.Settings},
                          {"CommPort", QString::number(values.CommPort)},
                          {"Handshaking", QString::number(values.Handshaking)}});
}

Failure SettingsSchema::write(const QString& section, std::initializer_list<Entry> entries) {
    SettingsStore::Values values;
    for (const auto& [key, value] : entries)
        values.append({QString::fromLatin1(key), value});
    return m_store.set(section, values);
}

QString SettingsSchema::portDevice(int number) const {
    return m_store.get(Ports, QStringLiteral("Com%1").arg(number));
}

#ifdef Q_OS_WIN
QString SettingsSchema::defaultOpenPathName() {
    return QStringLiteral("C:\\Program Files\\Microsoft Office\\Office\\");
}
QString SettingsSchema::defaultSavePathName() {
    return QStringLiteral("\\");
}
QString SettingsSchema::defaultExeFileName() {
    return QStringLiteral("C:\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE");
}
#else
QString SettingsSchema::defaultOpenPathName() {
    return QStringLiteral("/usr/bin/");
}
QString SettingsSchema::defaultSavePathName() {
    return QDir::homePath();
}
QString SettingsSchema::defaultExeFileName() {
    return QStringLiteral("/usr/bin/localc");
}
#endif

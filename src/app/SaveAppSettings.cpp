#include "SaveAppSettings.h"

#include "AppState.h"
#include "SettingsStore.h"

Failure SaveAppSettings(const AppState& state, SettingsStore& store) {
    const QString section = QStringLiteral("Settings");
    const std::pair<const char*, QString> values[] = {
        {"OpenPathName", state.OpenPathName},
        {"SavePathName", state.SavePathName},
        {"ExeFileName", state.ExeFileName},
        {"InsertDate", state.InsertDate},
        {"InsertTime", QString::number(state.InsertTime)},
    };
    for (const auto& [key, value] : values)
        if (Failure f = store.set(section, QString::fromLatin1(key), value))
            return f;
    return std::nullopt;
}

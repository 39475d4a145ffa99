#include "SaveAppSettings.h"

#include "AppState.h"
#include "SettingsSchema.h"

Failure SaveAppSettings(const AppState& state, SettingsStore& store) {
    return SettingsSchema(store).saveGeneral({state.OpenPathName, state.SavePathName,
                                              state.ExeFileName, state.InsertDate,
                                              state.InsertTime});
}

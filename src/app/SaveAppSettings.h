#pragma once

#include "base/AppError.h"

struct AppState;
class SettingsStore;

// Writes the five general settings, OpenPathName, SavePathName, ExeFileName,
// InsertDate and InsertTime, in one write: the file gets all of them or none.
Failure SaveAppSettings(const AppState& state, SettingsStore& store);

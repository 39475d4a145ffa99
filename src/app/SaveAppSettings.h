#pragma once

#include "base/AppError.h"

struct AppState;
class SettingsStore;

// Writes the five general settings, in the order OpenPathName, SavePathName,
// ExeFileName, InsertDate, InsertTime; stops at the first failing write.
Failure SaveAppSettings(const AppState& state, SettingsStore& store);

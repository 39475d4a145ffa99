#pragma once

#include <QString>

class SettingsStore;

// The device a port number stands for: a [Ports] entry "ComN" in the store
// wins, otherwise the machine's N-th serial device. Empty when there is none.
QString portDeviceFor(const SettingsStore& store, int number);

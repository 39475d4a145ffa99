#pragma once

#include <windows.h>

#include <functional>

// What a failed read or write of a COM port means, and the reopen that rides
// out a passing one. Plain Win32 without Qt, so that it is tested under Wine
// with the desktop core.
namespace PortRecovery {
// Gone: the device has left the system (an adapter pulled out); its name
// goes a moment later, and the run waits for it to come back.
// Passing: drivers give these with the adapter still attached (a USB
// glitch, a resume from sleep): the port is opened anew.
// Other: a fault of the port itself.
enum class Kind { Gone, Passing, Other };
Kind kindOf(DWORD code);

constexpr int Tries = 5;
constexpr DWORD PauseMs = 250; // before each try: about a second in all

// Opens the port again after a passing error: up to Tries times, each after
// pause(PauseMs) (which says false when the port is being closed: then
// gives up at once). An error of kind Gone ends the tries at once (the
// device is going; the wait for it takes over). Returns the handle, or
// INVALID_HANDLE_VALUE with *code the last error.
HANDLE reopen(const std::function<HANDLE(DWORD* code)>& open,
              const std::function<bool(DWORD ms)>& pause, DWORD* code);
} // namespace PortRecovery

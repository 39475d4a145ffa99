// winkeyrecorder: the Windows counterpart of keyrecorder, for the figures
// under Wine. A window that logs every character typed into it, one line
// each, written at once:
//   <ns> <name> <text>
// ns is wall-clock time in nanoseconds since 1970 (GetSystemTimePreciseAsFileTime,
// which Wine takes from the system's real-time clock), so that it can be set
// against the serial side's times; name is Return for CR and char otherwise;
// text is the character's UTF-8, bytes up to space and '\' as \xNN.
// The log is the file named by the first argument or $KEYRECORDER_OUT.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

static HANDLE out = INVALID_HANDLE_VALUE;
static wchar_t highSurrogate = 0;

static int64_t nowNs() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return int64_t(ticks - 116444736000000000ULL) * 100;
}

static void record(const wchar_t* units, int n) {
    char utf8[8];
    const int len = WideCharToMultiByte(CP_UTF8, 0, units, n, utf8, sizeof utf8, nullptr, nullptr);
    std::string line = std::to_string(nowNs()) + (units[0] == L'\r' ? " Return " : " char ");
    for (int i = 0; i < len; ++i) {
        const unsigned char c = (unsigned char)utf8[i];
        if (c <= 0x20 || c == '\\' || c == 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            line += b;
        } else {
            line.push_back(char(c));
        }
    }
    line.push_back('\n');
    DWORD written;
    WriteFile(out, line.data(), DWORD(line.size()), &written, nullptr);
}

static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case WM_CHAR: {
        const wchar_t unit = wchar_t(wp);
        if (IS_HIGH_SURROGATE(unit)) {
            highSurrogate = unit;
        } else if (IS_LOW_SURROGATE(unit) && highSurrogate) {
            const wchar_t pair[2] = {highSurrogate, unit};
            record(pair, 2);
            highSurrogate = 0;
        } else {
            record(&unit, 1);
        }
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int show) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t path[MAX_PATH] = L"";
    if (argc > 1)
        lstrcpynW(path, argv[1], MAX_PATH);
    else
        GetEnvironmentVariableW(L"KEYRECORDER_OUT", path, MAX_PATH);
    out = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 1;
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    wc.lpszClassName = L"WinKeyRecorder";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, L"Key recorder", WS_OVERLAPPEDWINDOW, 80, 80, 400,
                             200, nullptr, nullptr, inst, nullptr);
    ShowWindow(w, show);
    SetForegroundWindow(w);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

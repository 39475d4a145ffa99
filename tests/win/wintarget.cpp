// The program the Windows tests launch. Started without arguments it is a
// launcher: it starts app\wintarget_app.exe (another name, another folder,
// so only the process family ties its windows to the launch) and waits for
// it. As wintarget_app it shows a main window with an edit box and, above it
// in the Z-order, the windows keys must never go to: an owned palette, a
// tool window and a hidden window, each with an edit box too. WM_APP on the
// main window opens a modal message box.
#include <windows.h>

#include <string>

namespace {
#ifdef WINTARGET_APP
HWND mainWindow = nullptr;
HWND mainEdit = nullptr;

HWND withEdit(HWND window) {
    return CreateWindowExW(0, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_WANTRETURN |
                               ES_AUTOVSCROLL,
                           8, 8, 360, 160, window, nullptr, GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_SETFOCUS:
        if (window == mainWindow && mainEdit)
            SetFocus(mainEdit);
        return 0;
    case WM_APP:
        MessageBoxW(window, L"Answer me first.", L"Target question", MB_OK);
        return 0;
    case WM_DESTROY:
        if (window == mainWindow)
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

HWND makeWindow(DWORD exStyle, const wchar_t* title, HWND owner, int x) {
    return CreateWindowExW(exStyle, L"ParveloTestTarget", title, WS_OVERLAPPEDWINDOW, x, 40, 400,
                           220, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

int runApp() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"ParveloTestTarget";
    RegisterClassW(&wc);
    HWND main = mainWindow = makeWindow(0, L"Target main", nullptr, 40);
    mainEdit = withEdit(main);
    ShowWindow(main, SW_SHOW);
    SetFocus(mainEdit);
    HWND palette = makeWindow(0, L"Target palette", main, 460);
    withEdit(palette);
    ShowWindow(palette, SW_SHOWNOACTIVATE);
    HWND tool = makeWindow(WS_EX_TOOLWINDOW, L"Target tool", nullptr, 460);
    withEdit(tool);
    ShowWindow(tool, SW_SHOWNOACTIVATE);
    withEdit(makeWindow(0, L"Target hidden", nullptr, 40));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

#else
int runLauncher() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"app\\wintarget_app.exe";
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return 2;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return int(code);
}
#endif
} // namespace

int main() {
#ifdef WINTARGET_APP
    return runApp();
#else
    return runLauncher();
#endif
}

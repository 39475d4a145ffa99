// A packaged app as Windows shows it: its only window is a child (of the
// class "Windows.UI.Core.CoreWindow") of a frame that another process owns
// (ApplicationFrameHost.exe there, the test program here). Finds the frame
// by its class, puts its window into it, and ends with the frame.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    HWND frame = nullptr;
    for (int i = 0; i < 100 && !frame; ++i, Sleep(50))
        frame = FindWindowW(L"ApplicationFrameWindow", nullptr);
    if (!frame)
        return 2;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"Windows.UI.Core.CoreWindow";
    RegisterClassW(&wc);
    HWND content = CreateWindowExW(0, wc.lpszClassName, L"Packaged content", WS_CHILD | WS_VISIBLE,
                                   0, 0, 300, 150, frame, nullptr, instance, nullptr);
    if (!content)
        return 3;
    // No window of its own to end with: it ends when its content goes with
    // the frame, or after a minute at most.
    for (int i = 0; i < 1200 && IsWindow(content); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(50);
    }
    return 0;
}

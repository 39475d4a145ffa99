#include "platform/win/WinReadiness.h"

#include "platform/win/WinActivator.h"

bool WinReadiness::ready(HWND window) {
    if (window != window_) {
        window_ = window;
        focusedSince_ = GetTickCount64();
        probed_ = false;
        ready_ = false;
    }
    if (ready_)
        return true;
    if (GetTickCount64() - focusedSince_ < QuietMs)
        return false;
    if (!probed_) {
        sent(window);
        probed_ = true;
    }
    ready_ = caughtUp();
    return ready_;
}

void WinReadiness::sent(HWND window) {
    HWND focus = WinActivator::focusOf(window);
    if (!focus)
        focus = window;
    const RECT pixel{0, 0, 1, 1};
    painted_ = InvalidateRect(focus, &pixel, FALSE) ? focus : nullptr;
    markedAt_ = GetTickCount64();
}

bool WinReadiness::caughtUp() {
    if (!painted_)
        return true;
    RECT update{};
    if (!IsWindow(painted_) || !GetUpdateRect(painted_, &update, FALSE) ||
        GetTickCount64() - markedAt_ >= PaintWaitMs)
        painted_ = nullptr;
    return painted_ == nullptr;
}

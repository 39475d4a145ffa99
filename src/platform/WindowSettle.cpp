#include "WindowSettle.h"

bool WindowSettle::observe(unsigned long window, const Look& look, std::int64_t nowMs) {
    if (isReady(window))
        return true;
    if (window != m_window || !(look == m_look) || !look.viewable) {
        m_window = window;
        m_look = look;
        m_sinceMs = nowMs;
        return false;
    }
    if (nowMs - m_sinceMs < SettleMs)
        return false;
    m_ready = window;
    return true;
}

#include "WindowSettle.h"

bool WindowSettle::observe(unsigned long window, const Look& look, std::int64_t nowMs,
                           std::int64_t cpuMs) {
    if (isReady(window))
        return true;
    if (window != m_window) {
        m_window = window;
        m_firstMs = nowMs;
        m_look = Look{};
    }
    if (!(look == m_look) || !look.viewable) {
        m_look = look;
        m_lookSinceMs = m_quietSinceMs = m_sampleMs = nowMs;
        m_sampleCpuMs = cpuMs;
        return false;
    }
    // Sampled over at least a fifth of a second, so that one tick of the
    // processor clock (10 ms) does not count as busy.
    if (const std::int64_t span = nowMs - m_sampleMs; span >= 200) {
        if ((cpuMs - m_sampleCpuMs) * 100 > BusyPercent * span)
            m_quietSinceMs = nowMs;
        m_sampleMs = nowMs;
        m_sampleCpuMs = cpuMs;
    }
    const bool settled = nowMs - m_lookSinceMs >= SettleMs &&
                         (nowMs - m_quietSinceMs >= SettleMs || nowMs - m_firstMs >= MaxWaitMs);
    if (settled)
        m_ready = window;
    return settled;
}

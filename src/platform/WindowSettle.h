#pragma once

#include <QSize>
#include <QString>
#include <cstdint>

// A window that has just appeared is often not ready for keys: its program
// is still building it (a spreadsheet creating its document and toolbars, a
// splash giving way to the main window) and drops what is typed meanwhile,
// while the desktop already says the window has the focus. So a new window
// of the target counts as ready only once, for SettleMs, it has looked the
// same (viewable, same title, same size) and its program has kept the
// processor idle. Once ready, a window stays ready; another window starts
// over.
class WindowSettle {
public:
    // Measured on an idle machine from a window's appearance to the first
    // key it kept: Calc about 0.3 s, Gnumeric 0.1 s, GTK and Qt editors at
    // once. On a loaded machine Calc went on dropping keys for seconds after
    // its window looked finished, while it was still busy setting up.
    static constexpr std::int64_t SettleMs = 1500;
    // Busy: more than this share of one core since the last look.
    static constexpr int BusyPercent = 20;
    // A program that never goes quiet is typed into once its window has
    // been there this long and looked the same for SettleMs.
    static constexpr std::int64_t MaxWaitMs = 15000;

    struct Look {
        bool viewable = false;
        QString title;
        QSize size;
        bool operator==(const Look& o) const {
            return viewable == o.viewable && title == o.title && size == o.size;
        }
    };

    bool isReady(unsigned long window) const { return window && window == m_ready; }
    // Notes how window looks at nowMs (a monotonic clock) and the processor
    // time its program has used so far; true once the window is ready.
    bool observe(unsigned long window, const Look& look, std::int64_t nowMs, std::int64_t cpuMs);

private:
    unsigned long m_ready = 0;
    unsigned long m_window = 0;
    Look m_look;
    std::int64_t m_firstMs = 0;      // the window was first seen
    std::int64_t m_lookSinceMs = 0;  // it has looked the same
    std::int64_t m_quietSinceMs = 0; // and its program has been idle
    std::int64_t m_sampleMs = 0;
    std::int64_t m_sampleCpuMs = 0;
};

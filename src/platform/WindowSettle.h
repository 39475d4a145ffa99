#pragma once

#include <QSize>
#include <QString>
#include <cstdint>

// A window that has just appeared is often not ready for keys: its program
// is still building it (a spreadsheet creating its document, a splash giving
// way to the main window) and drops what is typed meanwhile, while the
// desktop already says the window has the focus. So a new window of the
// target counts as ready only once it has looked the same (viewable, same
// title, same size) for SettleMs. Once ready, a window stays ready; another
// window starts over.
class WindowSettle {
public:
    // Measured from a window's appearance to the first key it kept: Calc
    // about 0.3 s (it dropped every key before), Gnumeric 0.1 s, GTK and Qt
    // editors at once. Five times the slowest, for loaded machines.
    static constexpr std::int64_t SettleMs = 1500;

    struct Look {
        bool viewable = false;
        QString title;
        QSize size;
        bool operator==(const Look& o) const {
            return viewable == o.viewable && title == o.title && size == o.size;
        }
    };

    bool isReady(unsigned long window) const { return window && window == m_ready; }
    // Notes how window looks at nowMs (a monotonic clock); true once it is
    // ready.
    bool observe(unsigned long window, const Look& look, std::int64_t nowMs);

private:
    unsigned long m_ready = 0;
    unsigned long m_window = 0;
    Look m_look;
    std::int64_t m_sinceMs = 0;
};

#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <memory>

// Parvelos on one desktop (one per instrument) take turns at the keyboard:
// each moves the focus to its own target, so none may move it while
// another's keys are on their way. A turn runs from the focus check to the
// last key of what is typed then. The turn belongs to the process: one that
// ends, or crashes, gives it back. One implementation per system.
class TypingTurn {
public:
    // desktop: the display the turns are taken on (empty: the session's).
    explicit TypingTurn(const QString& desktop = QString());
    ~TypingTurn();
    TypingTurn(const TypingTurn&) = delete;
    TypingTurn& operator=(const TypingTurn&) = delete;

    // Takes the turn unless another Parvelo has it; never waits. True while
    // this process has it. One that waited gets the next turn: after a
    // turn with someone waiting, take() refuses for a moment.
    bool take();
    void release();
    bool held() const { return held_; }

    // How long a process that gave the turn to a waiting one leaves it be.
    static constexpr std::int64_t YieldMs = 30;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    bool held_ = false;
    bool waiting_ = false;
    QDeadlineTimer polite_; // expired: take() may try
};

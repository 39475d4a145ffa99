#include "platform/TypingTurn.h"

#include <windows.h>

// A mutex for the turn and a semaphore that counts the waiters, both named
// in the session's namespace: one desktop, one set of turns. A process that
// ends while holding the mutex leaves it abandoned, which the next one takes.
struct TypingTurn::Handles {
    HANDLE turn = nullptr;
    HANDLE waiters = nullptr;
};

TypingTurn::TypingTurn(const QString&) : handles_(std::make_unique<Handles>()) {
    handles_->turn = CreateMutexW(nullptr, FALSE, L"Local\\Parvelo.TypingTurn");
    handles_->waiters = CreateSemaphoreW(nullptr, 0, 4096, L"Local\\Parvelo.TypingWaiters");
}

TypingTurn::~TypingTurn() {
    release();
    if (waiting_ && handles_->waiters)
        WaitForSingleObject(handles_->waiters, 0);
    for (HANDLE h : {handles_->turn, handles_->waiters})
        if (h)
            CloseHandle(h);
}

bool TypingTurn::take() {
    if (held_)
        return true;
    if (!handles_->turn)
        return held_ = true;
    // While it leaves the turn to another, it counts as waiting itself, so
    // that the other leaves it the next turn in return.
    const DWORD got = polite_.hasExpired() ? WaitForSingleObject(handles_->turn, 0) : WAIT_TIMEOUT;
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
        held_ = true;
        if (waiting_ && handles_->waiters)
            WaitForSingleObject(handles_->waiters, 0);
        waiting_ = false;
        return true;
    }
    if (!waiting_ && handles_->waiters)
        waiting_ = ReleaseSemaphore(handles_->waiters, 1, nullptr) != 0;
    return false;
}

void TypingTurn::release() {
    if (!held_)
        return;
    held_ = false;
    if (!handles_->turn)
        return;
    ReleaseMutex(handles_->turn);
    // Someone waits when the count is above zero: take one and put it back.
    if (handles_->waiters && WaitForSingleObject(handles_->waiters, 0) == WAIT_OBJECT_0) {
        ReleaseSemaphore(handles_->waiters, 1, nullptr);
        polite_.setRemainingTime(YieldMs);
    }
}

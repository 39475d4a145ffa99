#pragma once

#include "base/AppError.h"
#include "platform/x11/KeyLoans.h"
#include "platform/x11/SpareKeyPool.h"
#include "platform/x11/XkbKeymap.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <functional>

class X11Connection;

// Types text with XTest into whatever holds the keyboard focus. Characters
// come from the XKB keymap of the current group; characters it lacks are
// typed on borrowed spare keys. Keys the user holds are released first and
// Caps Lock and other locks are lifted while typing, so they cannot change
// the text. Keys go out in slices; each slice is sent under a server grab
// together with a check that the focus is still where it should be, so the
// focus cannot move between the check and the keys. Returns once the server
// has taken every event.
class KeyTyper {
public:
    // Gives back the keys of an instance that was killed while it typed.
    explicit KeyTyper(X11Connection& connection);
    ~KeyTyper(); // gives borrowed keys back their empty mapping
    KeyTyper(const KeyTyper&) = delete;
    KeyTyper& operator=(const KeyTyper&) = delete;

    // focusHeld is asked before each slice; when it says no, typing stops
    // with Err::TargetNotFocused. A character the layout lacks needs a
    // borrowed key, and a key is only remapped once the keyboard has been
    // quiet for the settle time; rather than wait, typing stops before it
    // with Err::TypingPaused: call again with the rest a little later.
    // A call also returns after about BudgetMs, between two slices, with
    // Err::TypingYielded: call again with the rest once events are handled.
    // *typed: QChars of text that went out.
    Failure type(const QString& text, const std::function<bool()>& focusHeld = {},
                 int* typed = nullptr);
    // Most keys sent between two focus checks.
    static constexpr int SliceKeys = 64;
    static constexpr int BudgetMs = 40;
    // Most pauses before a repeated key in one slice (each one is a
    // repeat gap of server time while the server is grabbed).
    static constexpr int SlicePauses = 8;
    // Maps the twin keys now rather than at the first text: every client
    // reloads its keymap for each change, which takes a moment.
    void prepare();

    // Gives borrowed keys back their empty mapping once the keyboard has
    // been quiet for GiveBackQuietMs (a timer, no wait). The next text or
    // prepare() keeps them instead.
    void giveBackKeys();
    // Some toolkits look a key up only when they handle it, with the map of
    // that moment; a loaded machine's spreadsheet was seen handling keys
    // more than 200 ms after they were sent, so the keys it had not read yet
    // came out empty. Nothing waits for the give-back, so it can wait long.
    static constexpr int GiveBackQuietMs = 3000;

    // Pause before pressing the key pressed just before (default 2 ms).
    void setRepeatGapMs(int ms) { repeatGapMs_ = ms; }
    // How long the keyboard must have been quiet before a key is remapped
    // (default 200 ms).
    void setSettleMs(int ms) { settleMs_ = ms; }
    // Keys borrowed for the last text (for tests and diagnostics).
    int remapsSoFar() const { return remaps_; }

private:
    bool refreshKeymap();
    void releaseHeldModifiers();
    std::optional<KeyPosition> locateMapped(const KeyAction& action) const;
    void setModifiers(std::uint8_t wanted);
    void press(const Keystroke& stroke);
    void prepareTwinKeys();
    // Maps each key to its keysym, then syncs so that every client sees the
    // new map first. False, and nothing changed, when clients may still be
    // reading the keys' last use or other keys typed just now.
    bool applyRemaps(const std::vector<std::pair<std::uint8_t, unsigned long>>& remaps,
                     std::int64_t notBeforeMs);
    void restoreBorrowedKeys();
    // Maps each keycode to its keysym alone (NoSymbol: empty), in one request.
    void changeKeys(const std::vector<std::pair<std::uint8_t, unsigned long>>& keys);
    // Each keycode carries its keysym now, as the server reports it.
    bool keysHold(const std::vector<std::pair<std::uint8_t, unsigned long>>& keys);
    // Spare keys never taken for twins, for characters the layout lacks.
    static constexpr int KeepForBorrowing = 8;
    std::int64_t nowMs() const { return clock_.elapsed(); }
    // How long until clients have had the settle time to read the last keys.
    std::int64_t msUntilSettled() const { return msUntilQuietFor(settleMs_); }
    std::int64_t msUntilQuietFor(std::int64_t ms) const {
        return lastKeysMs_ < 0 ? 0 : lastKeysMs_ + ms - nowMs();
    }

    X11Connection& connection_;
    KeyLoans loans_;
    QTimer giveBack_;
    XkbKeymap keymap_;
    SpareKeyPool pool_;
    bool keymapDirty_ = true;
    bool poolReady_ = false;
    std::uint8_t previousKeycode_ = 0;
    std::uint8_t heldModifiers_ = 0;
    int repeatGapMs_ = 2;
    int settleMs_ = 200;
    int remaps_ = 0;
    std::int64_t lastKeysMs_ = -1; // when the last keys reached the server
    std::int64_t lastRemapMs_ = -1;
    // Least time between two changes of the keyboard map.
    static constexpr int RemapGapMs = 400;
    QElapsedTimer clock_;
};

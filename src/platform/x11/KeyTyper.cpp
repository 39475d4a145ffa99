#include "platform/x11/KeyTyper.h"
#include "platform/x11/Keysyms.h"

#include "platform/x11/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <thread> // the settle wait at exit

KeyTyper::KeyTyper(X11Connection& connection) : connection_(connection), loans_(connection) {
    clock_.start();
    giveBack_.setSingleShot(true);
    QObject::connect(&giveBack_, &QTimer::timeout, [this] { giveBackKeys(); });
    if (connection_.isOpen())
        loans_.recoverFromDeadInstances();
    if (connection_.hasXkb())
        XkbSelectEvents(connection_.display(), XkbUseCoreKbd,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
}

KeyTyper::~KeyTyper() {
    if (!connection_.isOpen() || pool_.borrowedKeys().empty())
        return;
    // Closing in the middle of a run: clients still reading the last keys
    // must see them with the characters they were typed with.
    const std::int64_t wait = msUntilSettled();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    restoreBorrowedKeys();
}

void KeyTyper::giveBackKeys() {
    const std::int64_t wait = msUntilQuietFor(GiveBackQuietMs);
    if (wait > 0) {
        giveBack_.start(int(wait));
        return;
    }
    restoreBorrowedKeys();
}

bool KeyTyper::refreshKeymap() {
    Display* dpy = connection_.display();
    // Mapping changes since the last text (ours included) make the index stale.
    if (connection_.takeKeymapChanged())
        keymapDirty_ = true;
    if (keymapDirty_ || !keymap_.isLoaded()) {
        if (!keymap_.load(dpy))
            return false;
        keymapDirty_ = false;
        if (!poolReady_) {
            pool_ = SpareKeyPool(keymap_.emptyKeycodes());
            poolReady_ = true;
        } else {
            pool_.reconcile(keymap_.emptyKeycodes(),
                            [this](std::uint8_t k) { return keymap_.firstKeysym(k); });
        }
        keymap_.ignoreKeys(pool_.borrowedKeys());
    }
    return true;
}

void KeyTyper::releaseHeldModifiers() {
    Display* dpy = connection_.display();
    char keys[32];
    XQueryKeymap(dpy, keys);
    for (int kc = 8; kc < 256; ++kc) {
        if ((keys[kc / 8] & (1 << (kc % 8))) && keymap_.isModifierKey(std::uint8_t(kc)))
            XTestFakeKeyEvent(dpy, unsigned(kc), False, CurrentTime);
    }
    // Deliberately not pressed again afterwards: the user may have let go
    // meanwhile, and a key pressed by us would then stay stuck down.
}

std::optional<KeyPosition> KeyTyper::locateMapped(const KeyAction& action) const {
    switch (action.kind) {
    case KeyAction::Tab:
        return keymap_.tabKey();
    case KeyAction::Return:
        return keymap_.returnKey();
    case KeyAction::Down:
        return keymap_.downKey();
    case KeyAction::Right:
        return keymap_.rightKey();
    case KeyAction::Delete:
        return keymap_.deleteKey();
    case KeyAction::Character:
        break;
    }
    // Borrowed keys are left out of the keymap's index (ignoreKeys), so they
    // are only used through the pool, which tracks their use.
    return keymap_.findCharacter(action.character);
}

void KeyTyper::setModifiers(std::uint8_t wanted) {
    Display* dpy = connection_.display();
    const std::pair<std::uint8_t, std::uint8_t> mods[] = {
        {KeyPosition::Shift, keymap_.shiftKeycode()},
        {KeyPosition::Level3, keymap_.level3Keycode()}};
    for (const auto& [bit, keycode] : mods) {
        if ((wanted & bit) != (heldModifiers_ & bit) && keycode)
            XTestFakeKeyEvent(dpy, keycode, (wanted & bit) ? True : False, CurrentTime);
    }
    heldModifiers_ = wanted;
}

void KeyTyper::press(const Keystroke& stroke) {
    Display* dpy = connection_.display();
    setModifiers(stroke.modifiers);
    // The delay is applied by the server, so the gap is in server time
    // without a round trip here.
    XTestFakeKeyEvent(dpy, stroke.keycode, True,
                      stroke.gapBefore ? static_cast<unsigned long>(repeatGapMs_) : CurrentTime);
    XTestFakeKeyEvent(dpy, stroke.keycode, False, CurrentTime);
}

Failure KeyTyper::type(const QString& text, const std::function<bool()>& focusHeld, int* typed) {
    if (typed)
        *typed = 0;
    if (!connection_.isOpen() || !connection_.hasXTest())
        return makeError(Err::KeystrokesFailed,
                         QStringLiteral("The X server offers no XTest extension to type with."));
    giveBack_.stop();
    if (!refreshKeymap())
        return makeError(Err::KeystrokesFailed,
                         QStringLiteral("The keyboard map could not be read from the X server."));
    Display* dpy = connection_.display();
    connection_.takeError();

    XkbStateRec state;
    if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success) {
        keymap_.selectGroup(state.group);
    } else {
        state = XkbStateRec{};
    }

    std::vector<int> ends;
    const std::vector<KeyAction> actions = KeyActions::fromText(text, &ends);
    // Check before sending anything that every character can be typed.
    for (const KeyAction& a : actions) {
        if (!locateMapped(a) && (a.kind != KeyAction::Character || pool_.size() == 0))
            return makeError(Err::KeystrokesFailed,
                             QStringLiteral("The keyboard has no key for U+%1.")
                                 .arg(uint(a.character), 4, 16, QLatin1Char('0')));
    }

    releaseHeldModifiers();
    if (state.locked_mods)
        XkbLockModifiers(dpy, XkbUseCoreKbd, state.locked_mods, 0);
    if (state.latched_mods)
        XkbLatchModifiers(dpy, XkbUseCoreKbd, state.latched_mods, 0);
    heldModifiers_ = 0;
    prepareTwinKeys();

    std::size_t next = 0;
    bool focusLost = false;
    bool settling = false;
    bool sent = false; // a remap waits for the last keys sent, not for calls
    bool yielded = false;
    const std::int64_t calledMs = nowMs();
    while (next < actions.size() && !focusLost && !yielded) {
        const std::size_t batchStart = next;
        // The grants of a batch that has to wait are taken back.
        const SpareKeyPool poolBefore = pool_;
        // One batch: as many actions as the borrowed keys allow. Remap first,
        // sync, then type, so every client sees the new mapping before the keys.
        std::vector<KeyPosition> positions;
        std::vector<std::pair<std::uint8_t, unsigned long>> remaps;
        std::int64_t notBefore = 0;
        std::unordered_map<char32_t, KeyPosition> borrowed;
        std::uint8_t lastKey = previousKeycode_;
        // A spare key mapped to keysym for this batch, remapped first if needed.
        const auto borrow = [&](unsigned long keysym) -> std::optional<KeyPosition> {
            const std::optional<SpareKeyPool::Grant> grant = pool_.acquire(keysym, settleMs_);
            if (!grant)
                return std::nullopt;
            pool_.markUsed(grant->keycode, nowMs());
            if (grant->needsRemap) {
                remaps.emplace_back(grant->keycode, keysym);
                notBefore = std::max(notBefore, grant->notBeforeMs);
            }
            return KeyPosition{grant->keycode, KeyPosition::NoModifier};
        };
        for (; next < actions.size(); ++next) {
            const KeyAction& a = actions[next];
            std::optional<KeyPosition> pos = locateMapped(a);
            if (!pos) {
                auto it = borrowed.find(a.character);
                if (it == borrowed.end()) {
                    const std::optional<KeyPosition> spare =
                        borrow(Keysyms::keysymFor(a.character));
                    if (!spare)
                        break; // every spare key is in use in this batch
                    it = borrowed.emplace(a.character, *spare).first;
                }
                pos = it->second;
            } else if (pos->keycode == lastKey && a.kind == KeyAction::Character) {
                // The same key again right after its release looks like
                // auto-repeat to some toolkits. A twin key carrying the same
                // character needs no pause; without one the stroke waits.
                if (const std::optional<std::uint8_t> twin =
                        pool_.holder(Keysyms::keysymFor(a.character))) {
                    pool_.markUsed(*twin, nowMs());
                    pos = KeyPosition{*twin, KeyPosition::NoModifier};
                }
            }
            positions.push_back(*pos);
            lastKey = pos->keycode;
        }
        if (!applyRemaps(remaps, notBefore)) {
            pool_ = poolBefore;
            settling = true;
            break;
        }
        const std::vector<Keystroke> strokes = KeystrokePlan::strokes(positions, previousKeycode_);
        // One stroke per action of the batch, so strokes[i] types action
        // batchStart + i.
        for (std::size_t i = 0, end = 0; i < strokes.size() && !focusLost && !yielded; i = end) {
            // A slice ends at SliceKeys keys, or earlier when its pauses
            // between repeated keys would keep the server busy for long;
            // the next one begins where it ended.
            end = i;
            for (int pauses = 0; end < strokes.size() && end < i + SliceKeys; ++end) {
                pauses += strokes[end].gapBefore ? 1 : 0;
                if (pauses > SlicePauses)
                    break;
            }
            end = std::max(end, i + 1);
            XGrabServer(dpy);
            if (focusHeld && !focusHeld()) {
                focusLost = true;
            } else {
                for (std::size_t k = i; k < end; ++k)
                    press(strokes[k]);
                sent = true;
                // No modifier outlives its slice: the next may never come.
                setModifiers(0);
                previousKeycode_ = strokes[end - 1].keycode;
                if (typed)
                    *typed = ends[batchStart + end - 1];
            }
            XUngrabServer(dpy);
            // A round trip with nothing of ours queued lets the server serve
            // other clients before the next slice: a click and the window
            // manager's answer to it get through in the middle of a line.
            // The last slice is synced with the error check below.
            if (end < strokes.size() || next < actions.size()) {
                XSync(dpy, False);
                // A long text must not hold the caller's event loop.
                yielded = !focusLost && nowMs() - calledMs >= BudgetMs;
            }
        }
        if (sent)
            lastKeysMs_ = nowMs();
        pool_.endBatch(nowMs());
        if (positions.empty())
            break; // cannot happen with a non-empty pool; never loop forever
    }

    setModifiers(0);
    if (state.locked_mods)
        XkbLockModifiers(dpy, XkbUseCoreKbd, state.locked_mods, state.locked_mods);
    const int error = connection_.syncAndTakeError();
    if (sent)
        lastKeysMs_ = nowMs();
    if (focusLost)
        return makeError(Err::TargetNotFocused,
                         QStringLiteral("The keyboard focus left the target window."));
    if (yielded && !error)
        return makeError(Err::TypingYielded,
                         QStringLiteral("Typing paused to let the window answer."));
    if (settling && !error)
        return makeError(Err::TypingPaused,
                         QStringLiteral("A key is being remapped for a character the keyboard "
                                        "layout lacks."));
    if (error)
        return makeError(
            Err::KeystrokesFailed,
            QStringLiteral("The X server refused a keystroke (X error %1).").arg(error));
    if (typed)
        *typed = int(text.size());
    return std::nullopt;
}

void KeyTyper::prepare() {
    giveBack_.stop();
    if (connection_.isOpen() && connection_.hasXTest() && refreshKeymap())
        prepareTwinKeys();
}

void KeyTyper::prepareTwinKeys() {
    // Digits and the decimal point repeat in most readings ("100", "0.0011").
    // Their twins are mapped once, before any key of a text, and kept, so
    // typing them never waits for a remap to reach the target.
    static const char32_t twinCharacters[] = U"0123456789.";
    std::vector<std::pair<std::uint8_t, unsigned long>> remaps;
    std::int64_t notBefore = 0;
    const SpareKeyPool poolBefore = pool_;
    for (const char32_t* c = twinCharacters; *c; ++c) {
        const unsigned long keysym = Keysyms::keysymFor(*c);
        if (!keymap_.findCharacter(*c) || pool_.holder(keysym))
            continue;
        if (pool_.takeable() <= KeepForBorrowing)
            break;
        const std::optional<SpareKeyPool::Grant> grant = pool_.acquire(keysym, settleMs_, true);
        if (!grant)
            break;
        remaps.emplace_back(grant->keycode, keysym);
        notBefore = std::max(notBefore, grant->notBeforeMs);
    }
    // Twins only save pauses: when the keyboard is busy they wait for a
    // quiet moment at a later text.
    if (!applyRemaps(remaps, notBefore))
        pool_ = poolBefore;
}

bool KeyTyper::applyRemaps(const std::vector<std::pair<std::uint8_t, unsigned long>>& remaps,
                           std::int64_t notBeforeMs) {
    if (remaps.empty())
        return true;
    Display* dpy = connection_.display();
    // A client that is still reading earlier keys when the map changes may
    // miss the change (Xlib can drop a map notice that arrives while it is
    // fetching the previous one), and then types nothing for the key. So the
    // map only changes once the keyboard has been quiet for the settle time.
    if (lastKeysMs_ >= 0)
        notBeforeMs = std::max(notBeforeMs, lastKeysMs_ + settleMs_);
    // Each change makes every client reload its map, a window manager its
    // key bindings as well: leave them time to catch up.
    if (lastRemapMs_ >= 0)
        notBeforeMs = std::max(notBeforeMs, lastRemapMs_ + RemapGapMs);
    if (notBeforeMs > nowMs())
        return false;
    changeKeys(remaps);
    lastRemapMs_ = nowMs();
    remaps_ += int(remaps.size());
    loans_.record(pool_.loans());
    XSync(dpy, False);
    return true;
}

void KeyTyper::restoreBorrowedKeys() {
    const std::vector<std::uint8_t> keys = pool_.borrowedKeys();
    if (keys.empty())
        return;
    Display* dpy = connection_.display();
    std::vector<std::pair<std::uint8_t, unsigned long>> empty;
    for (std::uint8_t kc : keys)
        empty.emplace_back(kc, NoSymbol);
    changeKeys(empty);
    pool_.forgetAll();
    loans_.record({});
    XSync(dpy, False);
}

void KeyTyper::changeKeys(const std::vector<std::pair<std::uint8_t, unsigned long>>& keys) {
    Display* dpy = connection_.display();
    // Every change of the keyboard map is broadcast, and every client reloads
    // its map for each one; a window manager that reloads its key bindings
    // too (openbox does) takes long enough that a change per key, many times
    // a second, leaves it seconds behind. It holds a click on a window until
    // it has decided about the focus, so a click on Stop waited that long.
    // One request for all the keys costs every client one reload.
    if (connection_.hasXkb() && keys.size() > 1) {
        XGrabServer(dpy); // the keys between ours are sent back as they are
        // With the key actions: XkbChangeTypesOfKey moves a key's actions
        // when its width changes (a key the core request below left two
        // symbols wide), and reads them through the server map, which
        // XkbGetMap leaves null unless the actions are asked for.
        XkbDescPtr xkb =
            XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask, XkbUseCoreKbd);
        if (xkb) {
            XkbMapChangesRec changes{};
            int first = 255, last = 0;
            for (const auto& [keycode, keysym] : keys) {
                int oneLevel[XkbNumKbdGroups] = {XkbOneLevelIndex};
                const int groups = keysym == NoSymbol ? 0 : 1;
                if (XkbChangeTypesOfKey(xkb, keycode, groups, XkbGroup1Mask, oneLevel, &changes) !=
                    Success)
                    continue;
                if (groups)
                    XkbResizeKeySyms(xkb, keycode, 1)[0] = keysym;
                first = std::min<int>(first, keycode);
                last = std::max<int>(last, keycode);
            }
            changes.changed |= XkbKeySymsMask;
            changes.first_key_sym = KeyCode(first);
            changes.num_key_syms = std::uint8_t(last - first + 1);
            const bool sent = first <= last && XkbChangeMap(dpy, xkb, &changes);
            XkbFreeKeyboard(xkb, 0, True);
            XUngrabServer(dpy);
            if (sent && keysHold(keys))
                return;
            connection_.syncAndTakeError(); // a refusal is no keystroke's fault
        } else {
            XUngrabServer(dpy);
        }
    }
    // Some servers (XWayland) take the request and change nothing.
    for (const auto& [keycode, keysym] : keys) {
        KeySym syms[2] = {keysym, keysym};
        XChangeKeyboardMapping(dpy, keycode, 2, syms, 1);
    }
}

bool KeyTyper::keysHold(const std::vector<std::pair<std::uint8_t, unsigned long>>& keys) {
    Display* dpy = connection_.display();
    for (const auto& [keycode, keysym] : keys) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(dpy, keycode, 1, &perCode);
        const bool holds = syms && perCode > 0 && syms[0] == keysym;
        if (syms)
            XFree(syms);
        if (!holds)
            return false;
    }
    return true;
}

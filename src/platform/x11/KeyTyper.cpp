#include "platform/x11/KeyTyper.h"

#include "platform/x11/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <thread>

KeyTyper::KeyTyper(X11Connection& connection) : connection_(connection) {
    clock_.start();
    if (connection_.hasXkb())
        XkbSelectEvents(connection_.display(), XkbUseCoreKbd,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
}

KeyTyper::~KeyTyper() {
    if (connection_.isOpen())
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
    case KeyAction::Character:
        break;
    }
    std::optional<KeyPosition> pos = keymap_.findCharacter(action.character);
    // A borrowed key is only used through the pool, which tracks its use.
    if (pos && pool_.isBorrowed(pos->keycode))
        return std::nullopt;
    return pos;
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

Failure KeyTyper::type(const QString& text) {
    if (!connection_.isOpen() || !connection_.hasXTest())
        return makeError(Err::KeystrokesFailed,
                         QStringLiteral("The X server offers no XTest extension to type with."));
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

    const std::vector<KeyAction> actions = KeyActions::fromText(text);
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

    std::size_t next = 0;
    while (next < actions.size()) {
        // One batch: as many actions as the borrowed keys allow. Remap first,
        // sync, then type, so every client sees the new mapping before the keys.
        std::vector<KeyAction> batch;
        std::vector<std::pair<std::uint8_t, unsigned long>> remaps;
        std::int64_t notBefore = 0;
        std::unordered_map<char32_t, KeyPosition> borrowed;
        for (; next < actions.size(); ++next) {
            const KeyAction& a = actions[next];
            if (!locateMapped(a) && !borrowed.count(a.character)) {
                const unsigned long keysym = KeyActions::keysymFor(a.character);
                const std::optional<SpareKeyPool::Grant> grant = pool_.acquire(keysym, settleMs_);
                if (!grant)
                    break; // every spare key is in use in this batch
                pool_.markUsed(grant->keycode, nowMs());
                if (grant->needsRemap) {
                    remaps.emplace_back(grant->keycode, keysym);
                    notBefore = std::max(notBefore, grant->notBeforeMs);
                }
                borrowed[a.character] = KeyPosition{grant->keycode, KeyPosition::NoModifier};
            }
            batch.push_back(a);
        }
        if (!remaps.empty()) {
            const std::int64_t wait = notBefore - nowMs();
            if (wait > 0) {
                XSync(dpy, False);
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            }
            for (const auto& [keycode, keysym] : remaps) {
                KeySym syms[2] = {keysym, keysym};
                XChangeKeyboardMapping(dpy, keycode, 2, syms, 1);
                ++remaps_;
            }
            XSync(dpy, False);
        }
        const auto locate = [&](const KeyAction& a) -> std::optional<KeyPosition> {
            if (std::optional<KeyPosition> pos = locateMapped(a))
                return pos;
            const auto it = borrowed.find(a.character);
            if (it != borrowed.end())
                return it->second;
            return std::nullopt;
        };
        const std::vector<Keystroke> strokes = KeystrokePlan::plan(batch, locate, previousKeycode_);
        for (const Keystroke& s : strokes)
            press(s);
        if (!strokes.empty())
            previousKeycode_ = strokes.back().keycode;
        XSync(dpy, False);
        pool_.endBatch(nowMs());
        if (batch.empty())
            break; // cannot happen with a non-empty pool; never loop forever
    }

    setModifiers(0);
    if (state.locked_mods)
        XkbLockModifiers(dpy, XkbUseCoreKbd, state.locked_mods, state.locked_mods);
    if (const int error = connection_.syncAndTakeError())
        return makeError(
            Err::KeystrokesFailed,
            QStringLiteral("The X server refused a keystroke (X error %1).").arg(error));
    return std::nullopt;
}

void KeyTyper::restoreBorrowedKeys() {
    const std::vector<std::uint8_t> keys = pool_.borrowedKeys();
    if (keys.empty())
        return;
    Display* dpy = connection_.display();
    // Give clients time to read the last keys typed with them.
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs_));
    for (std::uint8_t kc : keys) {
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(dpy, kc, 2, none, 1);
    }
    XSync(dpy, False);
    pool_.forgetAll();
}

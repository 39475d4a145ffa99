#include "platform/x11/XkbKeymap.h"
#include "platform/x11/Keysyms.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {
int bits(unsigned v) {
    return __builtin_popcount(v);
}

bool isKeypad(KeySym ks) {
    return ks >= XK_KP_Space && ks <= XK_KP_9;
}

// The group a key actually uses when the keyboard is in group g.
int effectiveGroup(XkbDescPtr xkb, int kc, int g) {
    const int n = XkbKeyNumGroups(xkb, kc);
    if (n <= 0)
        return -1;
    if (g < n)
        return g;
    const unsigned char info = XkbKeyGroupInfo(xkb, kc);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
        return n - 1;
    case XkbRedirectIntoRange: {
        const int r = XkbOutOfRangeGroupNumber(info);
        return r < n ? r : 0;
    }
    default:
        return g % n;
    }
}
} // namespace

XkbKeymap::~XkbKeymap() {
    if (desc_)
        XkbFreeKeyboard(desc_, XkbAllComponentsMask, True);
}

bool XkbKeymap::load(Display* display) {
    if (desc_) {
        XkbFreeKeyboard(desc_, XkbAllComponentsMask, True);
        desc_ = nullptr;
    }
    desc_ =
        XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (!desc_)
        return false;
    XkbStateRec state;
    group_ = XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.group : 0;

    // The keys we press for Shift and for Level3 (AltGr), and the real
    // modifier the Level3 key sets, as key types refer to it.
    shiftKeycode_ = level3Keycode_ = 0;
    level3Mask_ = 0;
    for (int kc = desc_->min_key_code; kc <= desc_->max_key_code; ++kc) {
        if (XkbKeyNumGroups(desc_, kc) == 0)
            continue;
        const KeySym ks = XkbKeySymEntry(desc_, kc, 0, 0);
        const unsigned modmap = desc_->map->modmap ? desc_->map->modmap[kc] : 0;
        if (!shiftKeycode_ && ks == XK_Shift_L && (modmap & ShiftMask))
            shiftKeycode_ = std::uint8_t(kc);
        if (ks == XK_ISO_Level3_Shift && (!level3Keycode_ || (modmap && !level3Mask_))) {
            level3Keycode_ = std::uint8_t(kc);
            if (modmap)
                level3Mask_ = modmap;
        }
    }
    if (level3Keycode_ && !level3Mask_)
        level3Mask_ = Mod5Mask; // what every stock layout uses
    buildIndex();
    return true;
}

void XkbKeymap::selectGroup(int group) {
    if (group == group_ || !desc_)
        return;
    group_ = group;
    buildIndex();
}

void XkbKeymap::buildIndex() {
    index_.clear();
    tab_.reset();
    return_.reset();
    down_.reset();
    right_.reset();
    XkbDescPtr xkb = desc_;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
        const int g = effectiveGroup(xkb, kc, group_);
        if (g < 0 || (kc < 256 && ignored_[std::size_t(kc)]))
            continue;
        XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, g);
        const int width = XkbKeyGroupWidth(xkb, kc, g);
        for (int level = 0; level < width; ++level) {
            const KeySym ks = XkbKeySymEntry(xkb, kc, level, g);
            if (ks == NoSymbol)
                continue;
            // The modifiers that select this level; level 0 needs none.
            bool reachable = level == 0;
            unsigned mask = 0;
            for (int e = 0; !reachable && e < type->map_count; ++e) {
                const XkbKTMapEntryRec& entry = type->map[e];
                const unsigned m = entry.mods.mask;
                if (!entry.active || entry.level != level || (m & ~(ShiftMask | level3Mask_)))
                    continue;
                if ((m & level3Mask_) && !level3Keycode_)
                    continue;
                if (!reachable || bits(m) < bits(mask)) {
                    reachable = true;
                    mask = m;
                }
            }
            if (!reachable)
                continue;
            KeyPosition pos{std::uint8_t(kc), KeyPosition::NoModifier};
            if (mask & ShiftMask)
                pos.modifiers |= KeyPosition::Shift;
            if (mask & level3Mask_)
                pos.modifiers |= KeyPosition::Level3;
            if (ks == XK_Tab && pos.modifiers == 0 && !tab_)
                tab_ = pos;
            if (ks == XK_Return && pos.modifiers == 0 && !return_)
                return_ = pos;
            if (ks == XK_Down && pos.modifiers == 0 && !down_)
                down_ = pos;
            if (ks == XK_Right && pos.modifiers == 0 && !right_)
                right_ = pos;
            if (ks == XK_Delete && pos.modifiers == 0 && !delete_)
                delete_ = pos;
            if (isKeypad(ks))
                continue;
            const char32_t c = Keysyms::characterOf(ks);
            if (c == 0)
                continue;
            const auto it = index_.find(c);
            if (it == index_.end() || bits(pos.modifiers) < bits(it->second.modifiers))
                index_[c] = pos;
        }
    }
}

void XkbKeymap::ignoreKeys(const std::vector<std::uint8_t>& keycodes) {
    ignored_.assign(256, false);
    for (std::uint8_t kc : keycodes)
        ignored_[kc] = true;
    if (desc_)
        buildIndex();
}

std::optional<KeyPosition> XkbKeymap::findCharacter(char32_t c) const {
    const auto it = index_.find(c);
    if (it == index_.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::uint8_t> XkbKeymap::emptyKeycodes() const {
    std::vector<std::uint8_t> keys;
    if (!desc_)
        return keys;
    for (int kc = desc_->min_key_code; kc <= desc_->max_key_code; ++kc) {
        if (kc < 8 || kc > 255 || isModifierKey(std::uint8_t(kc)))
            continue;
        bool empty = true;
        for (int i = 0; i < XkbKeyNumSyms(desc_, kc) && empty; ++i)
            empty = XkbKeySymsPtr(desc_, kc)[i] == NoSymbol;
        if (empty)
            keys.push_back(std::uint8_t(kc));
    }
    return keys;
}

bool XkbKeymap::isModifierKey(std::uint8_t keycode) const {
    return desc_ && desc_->map->modmap && keycode >= desc_->min_key_code &&
           keycode <= desc_->max_key_code && desc_->map->modmap[keycode] != 0;
}

unsigned long XkbKeymap::firstKeysym(std::uint8_t keycode) const {
    if (!desc_ || keycode < desc_->min_key_code || keycode > desc_->max_key_code ||
        XkbKeyNumSyms(desc_, keycode) == 0)
        return 0;
    return XkbKeySymEntry(desc_, keycode, 0, 0);
}

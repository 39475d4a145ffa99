#include "platform/x11/SpareKeyPool.h"

#include <algorithm>

SpareKeyPool::SpareKeyPool(std::vector<std::uint8_t> keycodes) {
    for (std::uint8_t k : keycodes)
        slots_.push_back({k, 0, -1, false, false});
}

std::optional<SpareKeyPool::Grant> SpareKeyPool::acquire(unsigned long keysym,
                                                         std::int64_t settleMs, bool reserve) {
    Slot* best = nullptr;
    for (Slot& s : slots_) {
        if (s.keysym == keysym) {
            s.reserved = s.reserved || reserve;
            return Grant{s.keycode, false, 0};
        }
    }
    for (Slot& s : slots_) {
        if (s.keysym == 0) {
            best = &s;
            break;
        }
        if (!s.pinned && !s.reserved && (!best || s.lastUseMs < best->lastUseMs))
            best = &s;
    }
    if (!best)
        return std::nullopt;
    const std::int64_t notBefore =
        best->keysym != 0 && best->lastUseMs >= 0 ? best->lastUseMs + settleMs : 0;
    best->keysym = keysym;
    best->lastUseMs = -1;
    best->reserved = reserve;
    return Grant{best->keycode, true, notBefore};
}

void SpareKeyPool::markUsed(std::uint8_t keycode, std::int64_t nowMs) {
    for (Slot& s : slots_) {
        if (s.keycode == keycode) {
            s.lastUseMs = nowMs;
            s.pinned = true;
        }
    }
}

void SpareKeyPool::endBatch(std::int64_t nowMs) {
    for (Slot& s : slots_) {
        if (s.pinned)
            s.lastUseMs = nowMs;
        s.pinned = false;
    }
}

std::optional<std::uint8_t> SpareKeyPool::holder(unsigned long keysym) const {
    for (const Slot& s : slots_)
        if (s.keysym == keysym)
            return s.keycode;
    return std::nullopt;
}

int SpareKeyPool::takeable() const {
    return int(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.reserved; }));
}

std::vector<std::uint8_t> SpareKeyPool::borrowedKeys() const {
    std::vector<std::uint8_t> keys;
    for (const Slot& s : slots_)
        if (s.keysym != 0)
            keys.push_back(s.keycode);
    return keys;
}

std::vector<std::pair<std::uint8_t, unsigned long>> SpareKeyPool::loans() const {
    std::vector<std::pair<std::uint8_t, unsigned long>> out;
    for (const Slot& s : slots_)
        if (s.keysym != 0)
            out.emplace_back(s.keycode, s.keysym);
    return out;
}

void SpareKeyPool::forgetAll() {
    for (Slot& s : slots_) {
        s.keysym = 0;
        s.lastUseMs = -1;
        s.pinned = false;
        s.reserved = false;
    }
}

bool SpareKeyPool::isBorrowed(std::uint8_t keycode) const {
    for (const Slot& s : slots_)
        if (s.keycode == keycode && s.keysym != 0)
            return true;
    return false;
}

void SpareKeyPool::reconcile(const std::vector<std::uint8_t>& emptyNow,
                             const std::function<unsigned long(std::uint8_t)>& keysymAt) {
    const auto isEmpty = [&](std::uint8_t k) {
        return std::find(emptyNow.begin(), emptyNow.end(), k) != emptyNow.end();
    };
    std::vector<Slot> kept;
    for (Slot s : slots_) {
        if (s.keysym != 0 && keysymAt(s.keycode) == s.keysym) {
            kept.push_back(s);
        } else if (isEmpty(s.keycode)) {
            kept.push_back({s.keycode, 0, -1, false, false});
        }
    }
    for (std::uint8_t k : emptyNow) {
        if (std::none_of(kept.begin(), kept.end(), [k](const Slot& s) { return s.keycode == k; }))
            kept.push_back({k, 0, -1, false, false});
    }
    slots_ = std::move(kept);
}

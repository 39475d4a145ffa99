#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// Book-keeping for keycodes that the keymap leaves empty and that we borrow
// to type characters the layout lacks. A borrowed key keeps its character
// until the key is needed for another one, so a character that recurs costs
// no remapping; a key is only taken back once clients have had time to read
// the events typed with it (a client that looks the mapping up late would
// otherwise see the next character).
class SpareKeyPool {
public:
    explicit SpareKeyPool(std::vector<std::uint8_t> keycodes = {});

    struct Grant {
        std::uint8_t keycode = 0;
        bool needsRemap = false;      // the key must be mapped to the keysym first
        std::int64_t notBeforeMs = 0; // remap no earlier than this (its last use + settle)
    };

    // The key for keysym: the one already holding it, else a free one, else
    // the least recently used key not pinned in the current batch.
    // nullopt when every key is pinned: end the batch first.
    // reserve: the key is kept for this keysym and never taken for another
    // one (twin keys typed on every line).
    std::optional<Grant> acquire(unsigned long keysym, std::int64_t settleMs, bool reserve = false);
    // The key holding keysym, if any, without taking one.
    std::optional<std::uint8_t> holder(unsigned long keysym) const;
    // Keys that acquire may still hand out for another keysym.
    int takeable() const;

    // Records that keycode is typed in the current batch (pins it).
    void markUsed(std::uint8_t keycode, std::int64_t nowMs);
    // The batch's events reached the server at nowMs: pinned keys count as
    // used then and may be reused once the settle time has passed.
    void endBatch(std::int64_t nowMs);

    // After the keymap changed under us (e.g. setxkbmap): keys that lost the
    // character we gave them are free again if still empty, else dropped;
    // newly empty keys join the pool.
    void reconcile(const std::vector<std::uint8_t>& emptyNow,
                   const std::function<unsigned long(std::uint8_t)>& keysymAt);

    // Keys currently holding a borrowed character (for restoring the map).
    std::vector<std::uint8_t> borrowedKeys() const;
    // The same keys with the keysym each holds.
    std::vector<std::pair<std::uint8_t, unsigned long>> loans() const;
    void forgetAll();
    bool isBorrowed(std::uint8_t keycode) const;
    int size() const { return int(slots_.size()); }

private:
    struct Slot {
        std::uint8_t keycode = 0;
        unsigned long keysym = 0; // 0: free
        std::int64_t lastUseMs = -1;
        bool pinned = false;
        bool reserved = false;
    };
    std::vector<Slot> slots_;
};

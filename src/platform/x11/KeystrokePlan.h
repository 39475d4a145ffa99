#pragma once

#include "platform/KeyActions.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Where a character sits on the keyboard: the key and the modifiers that
// select its shift level.
struct KeyPosition {
    enum Modifier : std::uint8_t { NoModifier = 0, Shift = 1, Level3 = 2 };
    std::uint8_t keycode = 0;
    std::uint8_t modifiers = NoModifier;
};

// One press and release of a key with the modifiers to hold for it.
// gapBefore: the previous stroke pressed the same key, so leave a pause, or
// toolkits that see release and press at the same time take it for
// auto-repeat and drop the second character.
struct Keystroke {
    std::uint8_t keycode = 0;
    std::uint8_t modifiers = KeyPosition::NoModifier;
    bool gapBefore = false;

    bool operator==(const Keystroke& o) const {
        return keycode == o.keycode && modifiers == o.modifiers && gapBefore == o.gapBefore;
    }
};

namespace KeystrokePlan {
// Finds the key of an action, nullopt when the keyboard cannot type it.
using Locate = std::function<std::optional<KeyPosition>(const KeyAction&)>;

// Strokes for the actions; actions that cannot be located are skipped and
// counted in *missing (if given). previousKeycode continues a plan across
// calls so that a repeated key at a line boundary also gets its gap.
std::vector<Keystroke> plan(const std::vector<KeyAction>& actions, const Locate& locate,
                            std::uint8_t previousKeycode = 0, int* missing = nullptr);
// Strokes for keys already located, with the same gap rule.
std::vector<Keystroke> strokes(const std::vector<KeyPosition>& positions,
                               std::uint8_t previousKeycode = 0);
} // namespace KeystrokePlan

#include "platform/x11/KeystrokePlan.h"

std::vector<Keystroke> KeystrokePlan::plan(const std::vector<KeyAction>& actions,
                                           const Locate& locate, std::uint8_t previousKeycode,
                                           int* missing) {
    std::vector<KeyPosition> positions;
    positions.reserve(actions.size());
    int notFound = 0;
    for (const KeyAction& action : actions) {
        const std::optional<KeyPosition> pos = locate(action);
        if (!pos || pos->keycode == 0)
            ++notFound;
        else
            positions.push_back(*pos);
    }
    if (missing)
        *missing = notFound;
    return strokes(positions, previousKeycode);
}

std::vector<Keystroke> KeystrokePlan::strokes(const std::vector<KeyPosition>& positions,
                                              std::uint8_t previousKeycode) {
    std::vector<Keystroke> out;
    out.reserve(positions.size());
    for (const KeyPosition& pos : positions) {
        out.push_back({pos.keycode, pos.modifiers, pos.keycode == previousKeycode});
        previousKeycode = pos.keycode;
    }
    return out;
}

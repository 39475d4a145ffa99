#include "platform/KeystrokePlan.h"

std::vector<Keystroke> KeystrokePlan::plan(const std::vector<KeyAction>& actions,
                                           const Locate& locate, std::uint8_t previousKeycode,
                                           int* missing) {
    std::vector<Keystroke> strokes;
    strokes.reserve(actions.size());
    int notFound = 0;
    for (const KeyAction& action : actions) {
        const std::optional<KeyPosition> pos = locate(action);
        if (!pos || pos->keycode == 0) {
            ++notFound;
            continue;
        }
        strokes.push_back({pos->keycode, pos->modifiers, pos->keycode == previousKeycode});
        previousKeycode = pos->keycode;
    }
    if (missing)
        *missing = notFound;
    return strokes;
}

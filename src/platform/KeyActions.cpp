#include "platform/KeyActions.h"

#include <QList>

namespace {
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}
} // namespace

std::vector<KeyAction> KeyActions::fromText(const QString& text, std::vector<int>* ends) {
    std::vector<KeyAction> actions;
    actions.reserve(text.size());
    const QList<uint> ucs = text.toUcs4();
    int end = 0; // in QChars: toUcs4() gives one code point per QChar or pair
    const auto lengthOf = [](char32_t c) { return c > 0xffff ? 2 : 1; };
    for (qsizetype i = 0; i < ucs.size(); ++i) {
        const char32_t c = ucs[i];
        end += lengthOf(c);
        if (c == '\t') {
            actions.push_back({KeyAction::Tab, 0});
        } else if (c == '\r') {
            if (i + 1 < ucs.size() && ucs[i + 1] == '\n') {
                ++i;
                ++end;
            }
            actions.push_back({KeyAction::Return, 0});
        } else if (isControl(c) || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) {
            // toUcs4() turns an unpaired surrogate into U+FFFD already; the
            // range check keeps that true for any other source of text.
            continue;
        } else {
            actions.push_back({KeyAction::Character, c});
        }
        if (ends)
            ends->push_back(end);
    }
    return actions;
}

unsigned long KeyActions::keysymFor(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return c;
    return 0x01000000UL | c;
}

char32_t KeyActions::characterOf(unsigned long keysym) {
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return char32_t(keysym);
    if (keysym >= 0x01000100UL && keysym <= 0x0110ffffUL)
        return char32_t(keysym & 0x1fffff);
    if (keysym == 0x20ac) // EuroSign, as most layouts spell €
        return 0x20ac;
    return 0;
}

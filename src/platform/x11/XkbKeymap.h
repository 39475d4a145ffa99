#pragma once

#include "platform/x11/KeystrokePlan.h"

#include <unordered_map>
#include <vector>

struct _XDisplay;
struct _XkbDesc;

// The keyboard as XKB describes it for the core keyboard: which key and
// shift level (Shift, AltGr/ISO_Level3) types a character in the current
// group. Only levels reachable with Shift and Level3 are used; anything else
// goes through borrowed keys.
class XkbKeymap {
public:
    XkbKeymap() = default;
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // Reads the map from the server; false when XKB gives none.
    bool load(_XDisplay* display);
    bool isLoaded() const { return desc_ != nullptr; }
    // Rebuilds the index for another effective group (cheap, no round trip).
    void selectGroup(int group);
    int group() const { return group_; }

    std::optional<KeyPosition> findCharacter(char32_t c) const;
    // Keys that findCharacter must not offer (our borrowed keys, which may
    // carry a character the layout also has); rebuilds the index.
    void ignoreKeys(const std::vector<std::uint8_t>& keycodes);
    std::optional<KeyPosition> tabKey() const { return tab_; }
    std::optional<KeyPosition> returnKey() const { return return_; }
    std::optional<KeyPosition> downKey() const { return down_; }
    std::optional<KeyPosition> rightKey() const { return right_; }
    std::optional<KeyPosition> deleteKey() const { return delete_; }

    std::uint8_t shiftKeycode() const { return shiftKeycode_; }
    std::uint8_t level3Keycode() const { return level3Keycode_; }
    // Keys with no symbols and no modifier role, usable for borrowing.
    std::vector<std::uint8_t> emptyKeycodes() const;
    // The first symbol of a key (group 1, level 1), 0 for none.
    unsigned long firstKeysym(std::uint8_t keycode) const;
    // Keycodes that act as modifiers (in the modifier map).
    bool isModifierKey(std::uint8_t keycode) const;

private:
    void buildIndex();

    _XkbDesc* desc_ = nullptr;
    int group_ = 0;
    unsigned level3Mask_ = 0;
    std::uint8_t shiftKeycode_ = 0;
    std::uint8_t level3Keycode_ = 0;
    std::unordered_map<char32_t, KeyPosition> index_;
    std::vector<bool> ignored_ = std::vector<bool>(256, false);
    std::optional<KeyPosition> tab_;
    std::optional<KeyPosition> return_;
    std::optional<KeyPosition> down_;
    std::optional<KeyPosition> right_;
    std::optional<KeyPosition> delete_;
};

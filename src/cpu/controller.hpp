// A standard controller: eight buttons reported in the order A, B, Select, Start, Up,
// Down, Left, Right. The host writes the buttons from its own thread while the stepping
// thread may latch them, so each button is an atomic flag of its own; a latch that
// overlaps an update may see some buttons old and some new, exactly like a real pad
// whose buttons are pressed while the game strobes it.
#pragma once

#include <atomic>
#include <cstdint>

namespace NES {

class Controller {
public:
    Controller() = default;
    explicit Controller(bool const* b) { update_inputs(b); }
    Controller(Controller const&) = delete;
    Controller& operator=(Controller const&) = delete;

    std::atomic<bool> buttons[8] = {};

    void update_inputs(bool const* b) {
        for (int i = 0; i < 8; ++i)
            buttons[i].store(b[i], std::memory_order_relaxed);
    }

    // Button i from bit i of `mask` (bit 0 A ... bit 7 Right), the form agents use.
    void set_buttons(uint8_t mask) {
        for (int i = 0; i < 8; ++i)
            buttons[i].store((mask >> i) & 1, std::memory_order_relaxed);
    }

    // The buttons as set_buttons takes them.
    uint8_t buttons_mask() const {
        uint8_t mask = 0;
        for (int i = 0; i < 8; ++i)
            mask |= uint8_t(buttons[i].load(std::memory_order_relaxed)) << i;
        return mask;
    }

    // Button 0 in bit 7 down to button 7 in bit 0: the order a game shifts them out.
    uint8_t get_input_byte() const {
        uint8_t byte = 0;
        for (int i = 0; i < 8; ++i)
            byte |= uint8_t(buttons[i].load(std::memory_order_relaxed)) << (7 - i);
        return byte;
    }
};

} // namespace NES

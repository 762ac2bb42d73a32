// The two ways a console can keep time. `fast` steps whole instructions and lets the
// PPU and the APU catch up with them: the model every existing program, fingerprint and
// save file was made with. `hardware` follows the console cycle by cycle: every CPU
// cycle is a bus access at its own cycle, the PPU answers at the exact dot, and the
// boards see the PPU's address lines as they move. A console keeps its mode for life.
#pragma once

#include <cstdint>

namespace NES {

enum class Accuracy : uint8_t { fast, hardware };

inline char const* accuracy_name(Accuracy accuracy) {
    return accuracy == Accuracy::hardware ? "hardware" : "fast";
}

} // namespace NES

// The finished picture: published at the start of vertical blank, and turned into RGB
// for the readers that want it.
//
// The renderer stores palette values. Once a reader has asked for RGB, it also keeps
// the RGB form of the frame being drawn, writing a pixel's bytes only when its value
// changes (a still picture costs one comparison per pixel), and publishing copies that
// form whole over the finished one, so whatever a reader wrote into it is gone.
#include <cstring>

#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void PPU::keep_emphasis() {
    emphasis.reset(new uint8_t[PIXELS]());
    finished_emphasis.reset(new uint8_t[PIXELS]());
}

void PPU::paint(uint8_t* to, uint8_t const* values, uint8_t const* tints) const {
    for (int p = 0; p < PIXELS; ++p)
        std::memcpy(to + 3 * p, emphasised_rgb(values[p], tints ? tints[p] : 0), 3);
}

// A reader may ask from any thread, also while the console steps: the finished form is
// made here, under the lock that publishing takes. The form of the frame being drawn
// belongs to the stepping thread, which makes it when it next publishes.
uint8_t* PPU::rgb_picture() {
    std::lock_guard<std::mutex> lock(frame_mutex);
    if (!rgb) {
        rgb.reset(new uint8_t[FRAME_BYTES]);
        paint(rgb.get(), finished_index, finished_emphasis.get());
    }
    return rgb.get();
}

void PPU::repaint_pictures() {
    if (rgb) paint(rgb.get(), finished_index, finished_emphasis.get());
    if (work_rgb) paint(work_rgb.get(), color_index, emphasis.get());
}

void PPU::copy_finished_picture(PPU& from) {
    std::scoped_lock lock(frame_mutex, from.frame_mutex);
    std::memcpy(finished_index, from.finished_index, sizeof finished_index);
    if (finished_emphasis && from.finished_emphasis)
        std::memcpy(finished_emphasis.get(), from.finished_emphasis.get(), size_t(PIXELS));
    if (!rgb) return;
    if (from.rgb)
        std::memcpy(rgb.get(), from.rgb.get(), size_t(FRAME_BYTES));
    else
        paint(rgb.get(), finished_index, finished_emphasis.get());
}

void PPU::publish_frame() {
    if (!draw_pictures) return;
    std::lock_guard<std::mutex> lock(frame_mutex);
    std::memcpy(finished_index, color_index, sizeof finished_index);
    if (emphasis) std::memcpy(finished_emphasis.get(), emphasis.get(), size_t(PIXELS));
    if (!rgb) return;
    if (!work_rgb) {
        work_rgb.reset(new uint8_t[FRAME_BYTES]);
        paint(work_rgb.get(), color_index, emphasis.get());
    }
    std::memcpy(rgb.get(), work_rgb.get(), size_t(FRAME_BYTES));
}

} // namespace NES

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
    finished->tints.reset(new uint8_t[PIXELS]());
}

// A shared picture is never written: the console takes a new one of its own, which its
// callers (publishing, a snapshot being loaded) overwrite whole.
PPU::FinishedPicture& PPU::own_finished() {
    if (finished_shared) {
        std::shared_ptr<FinishedPicture> mine(new FinishedPicture);
        if (finished->tints) mine->tints.reset(new uint8_t[PIXELS]);
        finished = std::move(mine);
        finished_shared = false;
    }
    return *finished;
}

void PPU::share_finished_picture(PPU const& from) {
    std::lock_guard<std::mutex> lock(frame_mutex);
    finished = from.finished;
    finished_shared = true;
    if (rgb) paint(finished_values(), finished_tints(), rgb.get());
}

namespace {

// Colour c's RGB bytes in the low three bytes of a word: a pixel is one four-byte store,
// whose fourth byte the next pixel overwrites.
struct RgbWords {
    uint32_t word[PALETTE_COLOURS];
    RgbWords() {
        for (int c = 0; c < PALETTE_COLOURS; ++c)
            word[c] = uint32_t(NTSC_TO_RGB[3 * c]) | uint32_t(NTSC_TO_RGB[3 * c + 1]) << 8 |
                      uint32_t(NTSC_TO_RGB[3 * c + 2]) << 16;
    }
};

} // namespace

void PPU::paint(uint8_t const* values, uint8_t const* tints, uint8_t* rgb, int pixels) {
    if (pixels <= 0) return;
    if (tints) {
        for (int p = 0; p < pixels; ++p)
            std::memcpy(rgb + 3 * p, emphasised_rgb(values[p], tints[p]), 3);
        return;
    }
    static RgbWords const rgb_words;
    for (int p = 0; p < pixels - 1; ++p)
        std::memcpy(rgb + 3 * p, &rgb_words.word[values[p] & 0x3F], 4);
    std::memcpy(rgb + 3 * (pixels - 1), NTSC_TO_RGB + 3 * (values[pixels - 1] & 0x3F), 3);
}

// A reader may ask from any thread, also while the console steps: the finished form is
// made here, under the lock that publishing takes. The form of the frame being drawn
// belongs to the stepping thread, which makes it when it next publishes.
uint8_t* PPU::rgb_picture() {
    std::lock_guard<std::mutex> lock(frame_mutex);
    if (!rgb) {
        rgb.reset(new uint8_t[FRAME_BYTES]);
        paint(finished_values(), finished_tints(), rgb.get());
    }
    return rgb.get();
}

void PPU::publish_frame() {
    if (!draw_pictures) return;
    std::lock_guard<std::mutex> lock(frame_mutex);
    FinishedPicture& picture = own_finished();
    std::memcpy(picture.values, color_index, sizeof picture.values);
    if (emphasis) std::memcpy(picture.tints.get(), emphasis.get(), size_t(PIXELS));
    if (!rgb) return;
    if (!work_rgb) {
        work_rgb.reset(new uint8_t[FRAME_BYTES]);
        paint(color_index, emphasis.get(), work_rgb.get());
    }
    std::memcpy(rgb.get(), work_rgb.get(), size_t(FRAME_BYTES));
}

} // namespace NES

// The PPU's part of a console snapshot: memory, OAM, the position in the frame, the
// scroll registers, the fetch and sprite-evaluation pipelines mid-line, and both
// pictures (the one being drawn and the last one finished). The register pointers into
// the CPU's memory image and the mapper belong to the console as built.
#include <mutex>

#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void PPU::snapshot(Snapshot& s) {
    s.field(dot_count);
    s.field(frame_count);
    s.field(memory);
    s.field(oam);
    s.field(secondary_oam);
    s.bounded(scanline, 0, 261);
    s.bounded(dot, 0, 340);
    s.bounded(mirroring, 0, 3);
    s.field(vblank);
    s.field(chr_bank);
    s.field(suppress_vbl);
    s.field(nmi_occurred);
    s.field(suppress_nmi);
    s.field(rendering);
    s.bounded(v, uint16_t(0), uint16_t(0x7FFF));
    s.bounded(t, uint16_t(0), uint16_t(0x7FFF));
    s.bounded(x, uint8_t(0), uint8_t(7));
    s.field(w);
    s.field(oam_addr);
    s.bounded(nt_addr, uint16_t(0), uint16_t(0x3FFF));
    s.bounded(at_addr, uint16_t(0), uint16_t(0x3FFF));
    s.field(pattern_hi);
    s.field(pattern_lo);
    s.field(read_buffer);
    s.bounded(fine_pos, uint8_t(0), uint8_t(7));
    s.field(tile_index);
    s.bounded(pattern_addr, uint16_t(0), uint16_t(0x3FFF));
    s.field(post_render);
    s.field(eval_n);
    s.bounded(eval_m, uint8_t(0), uint8_t(3));
    s.field(eval_done);
    s.bounded(next_count, uint8_t(0), uint8_t(8));
    s.field(line_sprites);
    s.bounded(line_count, int8_t(0), int8_t(8));
    s.field(x_counters);
    s.field(next_x);
    s.field(active_mask);
    s.field(sprite_columns);
    s.field(sprite0_next);
    s.field(sprite0_line);
    s.field(work_image);
    {
        // A reader on another thread copies the finished picture under this lock.
        std::lock_guard<std::mutex> lock(frame_mutex);
        s.field(image);
    }
    s.field(color_index);
}

} // namespace NES

// run_until against cycle(): two consoles built from the same cartridge, given the same
// random video memory, OAM, scroll and register bytes, one stepped dot by dot through
// cycle() and the other through run_until with spans of random length. Between spans
// both get the same random changes (PPUCTRL, PPUMASK, scroll, mirroring, OAM, palette),
// as a game's register writes would make them; after every span the whole renderer
// state, the pictures and the board's registers must agree.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapper_cartridge.hpp"
#include "test_support.hpp"

namespace {

struct SpanCase {
    uint32_t mapper; // 0 NROM, 4 MMC3 (counts at dot 256), 5 MMC5, 40 NTDEC 2722 (every dot)
    uint32_t seed;
};

std::string case_name(::testing::TestParamInfo<SpanCase> const& info) {
    return "mapper" + std::to_string(info.param.mapper) + "_seed" + std::to_string(info.param.seed);
}

class PpuSpans : public ::testing::TestWithParam<SpanCase> {
protected:
    test::TempHome home_a, home_b;
    std::vector<unsigned char> const image =
        mapper_test::tagged_image(GetParam().mapper, 64 * 1024, 64 * 1024);
    std::unique_ptr<NESUnit> by_dot = mapper_test::console(home_a, image);
    std::unique_ptr<NESUnit> by_span = mapper_test::console(home_b, image);
    // Both draw in RGB too, so that the renderers' RGB bytes are compared as well.
    uint8_t const* const rgb_by_dot = by_dot->ppu->rgb_picture();
    uint8_t const* const rgb_by_span = by_span->ppu->rgb_picture();
    std::mt19937 random{GetParam().seed};

    int below(int n) { return int(random() % uint32_t(n)); }

    // The same change to both consoles.
    template <typename F> void both(F change) {
        change(*by_dot);
        change(*by_span);
    }

    void randomize_video_memory() {
        std::vector<signed char> bytes(0x4000);
        for (auto& b : bytes)
            b = static_cast<signed char>(random());
        // Sparse patterns for some seeds: sprites over transparent background and the
        // sprite 0 hit at a place of its own.
        if (GetParam().seed % 2 == 0)
            for (int a = 0; a < 0x2000; ++a)
                bytes[size_t(a)] = static_cast<signed char>(random() & random() & random());
        both([&](NESUnit& nes) { std::memcpy(nes.ppu->memory, bytes.data(), bytes.size()); });
    }

    // Sprites mostly on screen, some in a cluster so that lines have more than eight.
    void randomize_oam() {
        std::array<uint8_t, 256> oam{};
        int const cluster_y = below(240);
        for (int i = 0; i < 256; ++i)
            oam[size_t(i)] = uint8_t(random());
        for (int s = 0; s < 64; ++s) {
            if (below(3) == 0) oam[size_t(4 * s)] = uint8_t(cluster_y + below(8));
            if (below(4) == 0) oam[size_t(4 * s + 3)] = uint8_t(240 + below(16)); // right edge
        }
        both([&](NESUnit& nes) { std::memcpy(nes.ppu->oam, oam.data(), oam.size()); });
    }

    // PPUMASK values weighted towards rendering, with every combination of the layer and
    // left-column bits reachable.
    uint8_t random_mask() {
        uint8_t m = uint8_t(random() & 0x1E);
        if (below(4) == 0) m &= 0x06; // rendering off
        return m;
    }

    // What a game may change between two catch-ups.
    void random_change() {
        switch (below(7)) {
        case 0: {
            uint8_t const m = random_mask();
            both([&](NESUnit& nes) { nes.cpu->memory[0x2001] = static_cast<signed char>(m); });
            break;
        }
        case 1: {
            uint8_t const c = uint8_t(random() & 0x3B);
            both([&](NESUnit& nes) {
                nes.cpu->memory[0x2000] = static_cast<signed char>(c);
                nes.ppu->t = uint16_t((nes.ppu->t & 0xF3FF) | ((c << 10) & 0x0C00));
            });
            break;
        }
        case 2: {
            uint16_t const t = uint16_t(random() & 0x7FFF);
            uint8_t const x = uint8_t(random() & 7);
            bool const set_v = below(2);
            both([&](NESUnit& nes) {
                nes.ppu->t = t;
                nes.ppu->x = x;
                if (set_v) nes.ppu->v = t;
            });
            break;
        }
        case 3: {
            if (GetParam().mapper == 5) { // the MMC5's pages, ExRAM mode, split and banks
                static constexpr uint16_t REGISTERS[] = {0x5101, 0x5104, 0x5105, 0x5106, 0x5107,
                                                         0x5120, 0x512B, 0x5130, 0x5200, 0x5201,
                                                         0x5202, 0x5203, 0x5204, 0x2000, 0x2001};
                uint16_t const at = REGISTERS[below(int(std::size(REGISTERS)))];
                uint8_t const b = uint8_t(random());
                both([&](NESUnit& nes) { mapper_test::poke(nes, at, b); });
                break;
            }
            int const m = below(4);
            both([&](NESUnit& nes) { nes.ppu->mirroring = m; });
            break;
        }
        case 4: {
            int const at = below(256);
            uint8_t const b = uint8_t(random());
            both([&](NESUnit& nes) { nes.ppu->oam[at] = b; });
            break;
        }
        case 5: {
            int const at = 0x3F00 + below(32);
            signed char const b = static_cast<signed char>(random());
            both([&](NESUnit& nes) { nes.ppu->memory[at] = b; });
            break;
        }
        default: randomize_oam(); break;
        }
    }

    // Mostly short spans (a game polling PPUSTATUS), some lines, some frames.
    uint64_t random_span() {
        switch (below(4)) {
        case 0: return uint64_t(1 + below(24));
        case 1: return uint64_t(1 + below(341));
        case 2: return uint64_t(1 + below(3 * 341));
        default: return uint64_t(1 + below(30000));
        }
    }

    void expect_same_state(int span) const {
        NES::PPU const& a = *by_dot->ppu;
        NES::PPU const& b = *by_span->ppu;
        std::string const where = "after span " + std::to_string(span) + " at line " +
                                  std::to_string(a.scanline) + " dot " + std::to_string(a.dot);
#define SAME(field) ASSERT_EQ(a.field, b.field) << #field " " << where
#define SAME_BYTES(field)                                                                          \
    ASSERT_EQ(std::memcmp(&a.field, &b.field, sizeof a.field), 0) << #field " " << where
        SAME(dot_count);
        SAME(frame_count.load());
        SAME(scanline);
        SAME(dot);
        SAME(v);
        SAME(t);
        SAME(x);
        SAME(w);
        SAME(oam_addr);
        SAME(nt_addr);
        SAME(at_addr);
        SAME(pattern_hi);
        SAME(pattern_lo);
        SAME(fine_pos);
        SAME(tile_index);
        SAME(pattern_addr);
        SAME(post_render);
        SAME(vblank);
        SAME(suppress_vbl);
        SAME(nmi_occurred);
        SAME(suppress_nmi);
        SAME(rendering);
        SAME(eval_n);
        SAME(eval_m);
        SAME(eval_done);
        SAME(next_count);
        SAME(line_count);
        SAME(active_mask);
        SAME(sprite0_next);
        SAME(sprite0_line);
        SAME_BYTES(secondary_oam);
        SAME_BYTES(line_sprites);
        SAME_BYTES(x_counters);
        SAME_BYTES(next_x);
        SAME_BYTES(sprite_columns);
        SAME_BYTES(color_index);
        ASSERT_EQ(std::memcmp(a.finished_values(), b.finished_values(), size_t(NES::PIXELS)), 0)
            << "finished picture " << where;
        ASSERT_EQ(std::memcmp(rgb_by_dot, rgb_by_span, size_t(NES::FRAME_BYTES)), 0)
            << "RGB picture " << where;
#undef SAME
#undef SAME_BYTES
        ASSERT_EQ(by_dot->cpu->memory[0x2002], by_span->cpu->memory[0x2002])
            << "PPUSTATUS " << where;
        ASSERT_EQ(by_dot->cpu->irq_pending, by_span->cpu->irq_pending) << "IRQ " << where;
        std::array<char, 256> board_a{}, board_b{};
        void* args_a[3] = {by_dot->cpu.get(), by_dot->ppu.get(), by_dot->apu.get()};
        void* args_b[3] = {by_span->cpu.get(), by_span->ppu.get(), by_span->apu.get()};
        a.mapper->serialize(args_a, board_a.data());
        b.mapper->serialize(args_b, board_b.data());
        ASSERT_EQ(board_a, board_b) << "board registers " << where;
    }
};

TEST_P(PpuSpans, RunUntilLeavesWhatCycleLeaves) {
    randomize_video_memory();
    randomize_oam();
    uint8_t const mask = uint8_t(random_mask() | 0x18);
    both([&](NESUnit& nes) { nes.cpu->memory[0x2001] = static_cast<signed char>(mask); });
    if (GetParam().mapper == 40) // start the timer
        both([](NESUnit& nes) { mapper_test::poke(nes, 0xA000, 0); });
    uint64_t dots = 0;
    for (int span = 0; dots < 1500000; ++span) {
        for (int changes = below(4); changes > 0; --changes)
            random_change();
        if (below(50) == 0) {
            bool const pending = below(2);
            both([&](NESUnit& nes) { nes.cpu->irq_pending = pending; });
        }
        uint64_t const length = random_span();
        for (uint64_t i = 0; i < length; ++i)
            by_dot->ppu->cycle();
        by_span->ppu->run_until(by_span->ppu->dot_count + length);
        dots += length;
        expect_same_state(span);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, PpuSpans,
                         ::testing::Values(SpanCase{0, 1}, SpanCase{0, 2}, SpanCase{0, 3},
                                           SpanCase{0, 8}, SpanCase{4, 4}, SpanCase{4, 5},
                                           SpanCase{40, 6}, SpanCase{5, 9}, SpanCase{5, 10}),
                         case_name);

} // namespace

// The gray84 observation's cost: microseconds of processor time per observation for each
// kernel this processor has, of a picture a cartridge draws, with and without a pooled
// picture.
//
// Usage: vandrel_bench_gray84 CARTRIDGE [FRAMES]
// The console runs FRAMES frames (default 300) without input, then the last two pictures
// are measured.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "batch/gray84.hpp"
#include "console/nes_unit.hpp"
#include "ppu/ppu.hpp"

namespace {

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double microseconds_per_observation(NES::Gray84Kernel kernel, uint8_t const* picture,
                                    uint8_t const* pooled) {
    std::vector<uint8_t> luma(static_cast<size_t>(NES::GRAY84_LUMA_BYTES));
    std::vector<uint8_t> out(size_t(NES::GRAY_SIZE * NES::GRAY_SIZE));
    int const runs = 3000;
    double const start = thread_cpu_seconds();
    for (int i = 0; i < runs; ++i)
        NES::gray84(picture, pooled, luma.data(), out.data(), kernel);
    return (thread_cpu_seconds() - start) / runs * 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CARTRIDGE [FRAMES]\n", argv[0]);
        return 2;
    }
    int const frames = argc > 2 ? std::atoi(argv[2]) : 300;
    char home[] = "/tmp/vandrel-bench-XXXXXX"; // save folders go to a scratch home
    if (!mkdtemp(home)) return 2;
    setenv("HOME", home, 1);
    std::vector<uint8_t> picture, pooled;
    {
        NESUnit nes(argv[1], 1789773);
        for (int i = 0; i < frames; ++i) {
            pooled = picture;
            nes.runFrame();
            picture.assign(nes.ppu->rgb_picture(), nes.ppu->rgb_picture() + NES::FRAME_BYTES);
        }
    }
    std::filesystem::remove_all(home);
    std::printf("%-9s %10s %10s\n", "kernel", "single", "pooled");
    for (NES::Gray84Kernel kernel : {NES::Gray84Kernel::portable, NES::Gray84Kernel::avx2}) {
        if (kernel == NES::Gray84Kernel::avx2 && NES::best_gray84_kernel() != kernel) continue;
        std::printf("%-9s %8.1f us %8.1f us\n",
                    kernel == NES::Gray84Kernel::avx2 ? "avx2" : "portable",
                    microseconds_per_observation(kernel, picture.data(), nullptr),
                    microseconds_per_observation(kernel, picture.data(), pooled.data()));
    }
    return 0;
}

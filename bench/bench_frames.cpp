// The C++ side of the frame benchmark: steps consoles with runFrame and reports the
// processor time per frame, with no Python in the way. Beside the Python benchmark it
// shows what a Python call adds; compare.py builds it against two source trees.
//
// Usage: vandrel_bench FRAMES CARTRIDGE...
// Prints one line per cartridge: "<frames per second> <cartridge>", measured in CPU
// time of this thread after a warm-up of a tenth of the frames.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "console/nes_unit.hpp"

namespace {

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double frames_per_second(char const* cartridge, int frames) {
    NESUnit nes(cartridge, 1789773);
    for (int i = 0; i < frames / 10; ++i)
        nes.runFrame();
    double const start = thread_cpu_seconds();
    for (int i = 0; i < frames; ++i)
        nes.runFrame();
    return frames / (thread_cpu_seconds() - start);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FRAMES CARTRIDGE...\n", argv[0]);
        return 2;
    }
    int const frames = std::atoi(argv[1]);
    // Save folders go to a scratch home, not the user's.
    char home[] = "/tmp/vandrel-bench-XXXXXX";
    if (!mkdtemp(home)) return 2;
    setenv("HOME", home, 1);
    std::FILE* report = stderr;
    for (int i = 2; i < argc; ++i) {
        double const fps = frames_per_second(argv[i], frames);
        std::fprintf(report, "%.1f %s\n", fps, argv[i]);
    }
    std::filesystem::remove_all(home);
    return 0;
}

#include "fuzz_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "console/nes_unit.hpp"

namespace fs = std::filesystem;

namespace fuzz {

namespace {

fs::path temporary_home;

void remove_temporary_home() {
    std::error_code ignored;
    fs::remove_all(temporary_home, ignored);
}

void silence_stdout() {
    std::fflush(stdout);
    int const null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) {
        std::perror("fuzz: cannot send stdout to /dev/null");
        std::abort();
    }
    close(null);
}

} // namespace

fs::path quiet_console_home() {
    std::string pattern = (fs::temp_directory_path() / "vandrel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("fuzz: cannot make a temporary home");
        std::abort();
    }
    temporary_home = pattern;
    setenv("HOME", pattern.c_str(), 1);
    std::atexit(remove_temporary_home);
    silence_stdout();
    return temporary_home;
}

void require(bool holds, char const* invariant) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: broken invariant: %s\n", invariant);
    std::abort();
}

void step(NESUnit& unit, int instructions) {
    unit.cpu->plan_catch_up();
    for (int i = 0; i < instructions; ++i)
        unit.step_lazily();
    unit.catch_up();
}

std::vector<unsigned char> read_file(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(fs::path const& path, std::vector<unsigned char> const& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<unsigned char> demo_cartridge() {
    return read_file(VANDREL_FUZZ_DEMO_CARTRIDGE);
}

// The mapper number's low nibble is the high nibble of flags 6, its high nibble that of
// flags 7.
std::vector<unsigned char> with_mapper(std::vector<unsigned char> image, uint32_t mapper) {
    image[6] = static_cast<unsigned char>((image[6] & 0x0F) | (mapper & 0x0F) << 4);
    image[7] = static_cast<unsigned char>((image[7] & 0x0F) | (mapper & 0xF0));
    return image;
}

} // namespace fuzz

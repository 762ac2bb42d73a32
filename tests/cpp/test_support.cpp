#include "test_support.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace test {

Image::Image() : prg(16384, 0), chr(8192, 0) {}

Image& Image::at(uint16_t cpu_addr, std::initializer_list<uint8_t> bytes) {
    size_t offset = (cpu_addr - 0x8000) & 0x3FFF;
    for (uint8_t b : bytes)
        prg[offset++] = b;
    return *this;
}

Image& Image::vectors(uint16_t nmi, uint16_t reset, uint16_t irq) {
    return at(0xFFFA, {uint8_t(nmi), uint8_t(nmi >> 8), uint8_t(reset), uint8_t(reset >> 8),
                       uint8_t(irq), uint8_t(irq >> 8)});
}

std::vector<unsigned char> Image::bytes() const {
    std::vector<unsigned char> out = {'N', 'E', 'S', 0x1A, prg_banks, chr_banks, flags6, flags7};
    out.resize(16, 0);
    std::vector<uint8_t> p = prg, c = chr;
    p.resize(size_t(prg_banks) * 16384, 0);
    c.resize(size_t(chr_banks) * 8192, 0);
    out.insert(out.end(), p.begin(), p.end());
    out.insert(out.end(), c.begin(), c.end());
    return out;
}

TempHome::TempHome() {
    char const* home = std::getenv("HOME");
    had_home = home != nullptr;
    if (home) old_home = home;
    char pattern[] = "/tmp/vandrel-home-XXXXXX";
    dir = mkdtemp(pattern);
    setenv("HOME", dir.c_str(), 1);
}

TempHome::~TempHome() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (had_home)
        setenv("HOME", old_home.c_str(), 1);
    else
        unsetenv("HOME");
}

std::string write_temp_file(std::string const& dir, std::string const& name,
                            std::vector<unsigned char> const& bytes) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

std::unique_ptr<NESUnit> console(std::string const& dir, Image const& image,
                                 std::string const& name, int speed, NES::Accuracy accuracy) {
    std::string path = write_temp_file(dir, name, image.bytes());
    return std::make_unique<NESUnit>(path.c_str(), speed, accuracy);
}

void load_program(NES::CPU& cpu, uint16_t addr, std::initializer_list<uint8_t> code) {
    uint16_t a = addr;
    for (uint8_t b : code)
        cpu.memory[a++] = static_cast<signed char>(b);
    cpu.PC = cpu.memory + addr;
}

std::string public_test_roms(std::string const& file) {
    char const* const chosen = std::getenv("VANDREL_TEST_ROMS");
    for (std::string dir : {std::string(chosen ? chosen : ""), std::string(VANDREL_SHARED_ROMS)}) {
        if (!dir.empty() && std::filesystem::exists(dir + "/" + file)) return dir;
    }
    return "";
}

} // namespace test

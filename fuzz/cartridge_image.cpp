// Fuzzes cartridge images: the input is a whole iNES file. The image is checked, a
// console is built from it in memory and a few hundred instructions run, so that the
// parser, the choice of board, the cartridge attach and the first bank switches of
// whatever program the image holds all see malformed and unusual headers.
//
// A malformed image is refused with std::invalid_argument: a normal outcome. What must
// hold is that the console refuses exactly the images that ROM::check_image refuses,
// and that nothing else goes wrong (the sanitizers watch the rest).
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"
#include "fuzz_support.hpp"

namespace fs = std::filesystem;

namespace {

// Enough for the reset code of a program and its first bank switches, cheap enough for
// thousands of images a second.
constexpr int INSTRUCTIONS = 300;

bool image_accepted(uint8_t const* data, size_t size) {
    try {
        NES::ROM::check_image(long(size), data);
        return true;
    } catch (std::invalid_argument const&) {
        return false;
    }
}

// Header variants of one image: every board, a trainer, four-screen, NES 2.0 sizes.
std::vector<std::vector<unsigned char>> header_variants(std::vector<unsigned char> const& image) {
    std::vector<std::vector<unsigned char>> variants;
    for (uint32_t mapper : fuzz::KNOWN_MAPPERS)
        variants.push_back(fuzz::with_mapper(image, mapper));
    variants.push_back(fuzz::with_mapper(image, 7)); // no board of its own
    std::vector<unsigned char> trainer = image;
    trainer[6] |= 0x04;
    trainer.insert(trainer.begin() + 16, 512, 0xEA);
    variants.push_back(trainer);
    std::vector<unsigned char> four_screen = image;
    four_screen[6] |= 0x08;
    variants.push_back(four_screen);
    std::vector<unsigned char> nes2 = image;
    nes2[7] = static_cast<unsigned char>((nes2[7] & 0xF3) | 0x08);
    variants.push_back(nes2);
    return variants;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_console_home();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    bool const accepted = image_accepted(data, size);
    try {
        NESUnit unit(std::string("fuzz.nes"), data, size, 0);
        fuzz::require(accepted, "the console accepts only images that check_image accepts");
        fuzz::step(unit, INSTRUCTIONS);
    } catch (std::invalid_argument const&) {
        fuzz::require(!accepted, "the console refuses only images that check_image refuses");
    }
    return 0;
}

void write_seeds(fs::path const& dir, std::vector<fs::path> const& cartridges) {
    for (fs::path const& cartridge : cartridges)
        fuzz::write_file(dir / cartridge.filename(), fuzz::read_file(cartridge));
    int n = 0;
    for (auto const& variant : header_variants(fuzz::demo_cartridge()))
        fuzz::write_file(dir / ("demo-variant-" + std::to_string(n++) + ".nes"), variant);
}

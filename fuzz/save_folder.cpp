// Fuzzes the iNES header together with the save-folder naming. The input is a cartridge
// name, a zero byte, then the image: its header and as much of the rest as the input
// holds. The image is padded with zeros to room for every size an iNES 1.0 header can
// declare up to 64 KiB PRG and 16 KiB CHR, so that most headers build a console and the
// mutations go to the header fields and the name rather than to megabytes of ROM.
//
// What must hold: a cartridge's folder is named by save_name, which never yields a path
// (no '/') nor "", "." or ".." (those would make the folder $HOME/.config/Tamberlo
// itself or its parent); the console's config_dir and save_dir are that folder, a real
// folder exactly one level inside $HOME/.config/Tamberlo; the console refuses exactly
// the images that check_image refuses, and a refused image leaves no folder behind. A
// name the file system cannot take (too long) is refused with NES::FileError, which is
// a normal outcome.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"
#include "fuzz_support.hpp"
#include "persistence/file_error.hpp"
#include "persistence/save_folders.hpp"

namespace fs = std::filesystem;

namespace {

constexpr size_t PADDED_IMAGE_SIZE = 16 + 512 + 4 * 16384 + 2 * 8192;

fs::path tamberlo; // $HOME/.config/Tamberlo of the temporary home

struct Input {
    std::string name;
    std::vector<unsigned char> image;
};

Input split(uint8_t const* data, size_t size) {
    uint8_t const* end = data + size;
    uint8_t const* zero = std::find(data, end, 0);
    Input input{std::string(data, zero), {}};
    if (zero != end) input.image.assign(zero + 1, end);
    if (input.image.size() < PADDED_IMAGE_SIZE) input.image.resize(PADDED_IMAGE_SIZE, 0);
    return input;
}

bool image_accepted(std::vector<unsigned char> const& image) {
    try {
        NES::ROM::check_image(long(image.size()), image.data());
        return true;
    } catch (std::invalid_argument const&) {
        return false;
    }
}

size_t folders_in_tamberlo() {
    std::error_code ec;
    if (!fs::exists(tamberlo, ec)) return 0;
    return size_t(std::distance(fs::directory_iterator(tamberlo), fs::directory_iterator()));
}

void check_save_name(std::string const& name) {
    fuzz::require(name.find('/') == std::string::npos, "a save name holds no '/'");
    fuzz::require(name != "" && name != "." && name != "..",
                  "a save name is not \"\", \".\" or \"..\"");
}

void check_save_folder(NESUnit const& unit, std::string const& cartridge_name) {
    std::string const expected =
        tamberlo.string() + NES::sep + NES::save_name(cartridge_name.c_str());
    fuzz::require(unit.config_dir == expected, "config_dir is Tamberlo/<save name>");
    fuzz::require(unit.save_dir == unit.config_dir, "save_dir starts as config_dir");
    fuzz::require(fs::is_directory(unit.config_dir), "the save folder exists");
    fs::path const folder = fs::canonical(unit.config_dir);
    fuzz::require(folder.parent_path() == fs::canonical(tamberlo),
                  "the save folder is exactly one level inside $HOME/.config/Tamberlo");
}

// Builds the console and checks its folder, which is then removed so that a long run
// does not fill the temporary home.
void build_and_check(Input const& input, bool accepted) {
    std::string config_dir;
    {
        NESUnit unit(input.name, input.image.data(), input.image.size(), 0);
        fuzz::require(accepted, "the console accepts only images that check_image accepts");
        check_save_folder(unit, input.name);
        config_dir = unit.config_dir;
    }
    fs::remove_all(config_dir);
}

// Names that a cartridge path may carry: folders, spaces, Windows separators, dots.
std::vector<std::string> seed_names() {
    return {"demo.nes",
            "/home/player/My Games/Some Game (Rev 1).nes",
            "C:\\Games\\NES\\game.NES",
            "archive.tar.nes",
            "no extension",
            ".hidden.nes",
            "folder.d/cartridge",
            "../up/../twice.nes"};
}

std::vector<unsigned char> seed_input(std::string const& name,
                                      std::vector<unsigned char> const& image) {
    std::vector<unsigned char> input(name.begin(), name.end());
    input.push_back(0);
    input.insert(input.end(), image.begin(), image.begin() + 16);
    return input;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tamberlo = fuzz::quiet_console_home() / ".config" / "Tamberlo";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    Input const input = split(data, size);
    check_save_name(NES::save_name(input.name.c_str()));
    bool const accepted = image_accepted(input.image);
    size_t const folders_before = folders_in_tamberlo();
    try {
        build_and_check(input, accepted);
    } catch (std::invalid_argument const&) {
        fuzz::require(!accepted, "the console refuses only images that check_image refuses");
        fuzz::require(folders_in_tamberlo() == folders_before,
                      "a refused image leaves no folder behind");
    } catch (NES::FileError const&) {
        // A name longer than the file system allows: refused, as it should be.
    }
    return 0;
}

void write_seeds(fs::path const& dir, std::vector<fs::path> const& cartridges) {
    std::vector<std::vector<unsigned char>> images{fuzz::demo_cartridge()};
    for (fs::path const& cartridge : cartridges)
        images.push_back(fuzz::read_file(cartridge));
    int n = 0;
    for (std::string const& name : seed_names())
        for (auto const& image : images)
            fuzz::write_file(dir / ("folder-" + std::to_string(n++)), seed_input(name, image));
}

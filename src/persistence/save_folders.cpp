// Save folders. Every cartridge gets $HOME/.config/Tamberlo/NAME/, holding its battery
// RAM file "ram" and its numbered save-state files.
#include "persistence/save_folders.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "console/nes_unit.hpp"
#include "console/progress.hpp"
#include "persistence/file_error.hpp"

namespace fs = std::filesystem;

namespace NES {

namespace {

// "", "." and ".." would make the folder the Tamberlo folder itself or its parent.
bool names_a_folder_link(std::string const& name) {
    return name.empty() || name == "." || name == "..";
}

} // namespace

std::string save_name(char const* path) {
    std::string name(path);
    size_t const slash = name.find_last_of("/\\");
    size_t const dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name.resize(dot);
    if (slash != std::string::npos) name.erase(0, slash + 1);
    for (char& c : name)
        if (c == ' ') c = '_';
    // Only these three change: every other name keeps the folder it has always had.
    if (names_a_folder_link(name)) name.insert(0, 1, '_');
    return name;
}

} // namespace NES

namespace {

bool entry_exists(std::string const& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

void make_directories(std::string const& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) throw NES::FileError(ec.value(), path, "cannot create the save folder");
}

} // namespace

void NESUnit::detectOS(char const* path) {
    char const* home = std::getenv("HOME");
    if (!home || !*home)
        throw std::runtime_error(
            "HOME is not set: the save folder $HOME/.config/Tamberlo cannot be located");
    std::string const name = NES::save_name(path);
    std::string dir = std::string(home) + "/.config";
    NES::progress("LINUX, %s\n", dir.c_str());
    // A fresh account may have no ~/.config yet: make every missing level.
    dir += NES::sep;
    dir += "Tamberlo";
    make_directories(dir);
    dir += NES::sep;
    dir += name;
    save_dir = config_dir = dir;
    NES::progress("%s\n", dir.c_str());
    if (entry_exists(dir))
        NES::progress("Folder already exists. Checking for save...\n");
    else
        make_directories(dir);
}

bool NESUnit::setSaveDir(std::string dir) {
    if (!entry_exists(dir)) return false;
    save_dir = std::move(dir);
    return true;
}

std::string NESUnit::battery_ram_path() const {
    return config_dir + NES::sep + "ram";
}

// Save folders, the cartridge attach with battery RAM, and the battery RAM file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "persistence/file_error.hpp"
#include "persistence/save_folders.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

struct NameCase {
    char const* path;
    char const* name;
};

void PrintTo(NameCase const& c, std::ostream* os) {
    *os << '"' << c.path << '"';
}

class SaveName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SaveName, IsTheBaseNameCutAtItsLastDot) {
    EXPECT_EQ(NES::save_name(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SaveName,
    ::testing::Values(NameCase{"/roms/Super Game (U).rev.nes", "Super_Game_(U).rev"},
                      NameCase{"game", "game"}, NameCase{"C:\\roms\\a.nes", "a"},
                      NameCase{"/a.b/game", "game"}, NameCase{"rel/dir/x y.nes", "x_y"},
                      // Names that look like folder links are kept as they were.
                      NameCase{"/roms/....nes", "..."}, NameCase{"/roms/....", "..."},
                      NameCase{"/roms/.hidden.nes", ".hidden"}, NameCase{"_...nes", "_.."}));

// A name that would be the Tamberlo folder itself or its parent gets a '_' in front, so
// that such a cartridge still has a folder of its own.
INSTANTIATE_TEST_SUITE_P(FolderLinks, SaveName,
                         ::testing::Values(NameCase{"/roms/...", "_.."}, NameCase{"...", "_.."},
                                           NameCase{"/roms/...nes", "_.."},
                                           NameCase{"C:\\roms\\...", "_.."},
                                           NameCase{"/roms/..nes", "_."},
                                           NameCase{"/roms/..", "_."}, NameCase{"/roms/.nes", "_"},
                                           NameCase{"/roms/.", "_"}, NameCase{"/roms/", "_"},
                                           NameCase{"", "_"}));

test::Image battery_image() {
    test::Image im;
    im.flags6 = 0x02;
    return im;
}

std::vector<char> file_bytes(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SaveFolders, AreCreatedWithEveryMissingLevel) {
    test::TempHome home;
    testing::internal::CaptureStdout();
    auto nes = test::console(home.path(), test::Image(), "My Game.nes");
    std::string const out = testing::internal::GetCapturedStdout();
    std::string const dir = home.path() + "/.config/Tamberlo/My_Game";
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(nes->getSaveDir(), dir);
    EXPECT_EQ(out.rfind("LINUX, " + home.path() + "/.config\n" + dir + "\n", 0), 0u) << out;
    testing::internal::CaptureStdout();
    auto again = test::console(home.path(), test::Image(), "My Game.nes");
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "Folder already exists. Checking for save...\n"),
              std::string::npos);
}

// Every file a console writes (battery RAM, a save state) lands in its own folder, also
// for cartridge names that would otherwise be "..", "." or nothing.
class OddCartridgeName : public ::testing::TestWithParam<NameCase> {};

TEST_P(OddCartridgeName, KeepsEveryFileInsideItsOwnFolder) {
    test::TempHome home;
    std::vector<unsigned char> const image = battery_image().bytes();
    testing::internal::CaptureStdout();
    NESUnit nes(GetParam().path, image.data(), image.size(), 1789773);
    testing::internal::GetCapturedStdout();
    nes.write_battery_ram();
    nes.save(1);
    std::string const tamberlo = home.path() + "/.config/Tamberlo";
    std::string const folder = tamberlo + "/" + GetParam().name;
    EXPECT_EQ(nes.getSaveDir(), folder);
    std::vector<std::string> files;
    for (auto const& entry : fs::recursive_directory_iterator(home.path()))
        if (!entry.is_directory()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{folder + "/1", folder + "/ram"}));
    std::vector<std::string> folders;
    for (auto const& entry : fs::directory_iterator(tamberlo))
        folders.push_back(entry.path().filename().string());
    EXPECT_EQ(folders, std::vector<std::string>{GetParam().name});
}

INSTANTIATE_TEST_SUITE_P(Names, OddCartridgeName,
                         ::testing::Values(NameCase{"/roms/...", "_.."},
                                           NameCase{"/roms/..nes", "_."},
                                           NameCase{"/roms/.nes", "_"}, NameCase{"", "_"},
                                           NameCase{"/roms/....nes", "..."}));

TEST(SaveFolders, UnsetHomeIsRefusedWithoutCreatingAnything) {
    test::TempHome home;
    std::string const rom = test::write_temp_file(home.path(), "g.nes", test::Image().bytes());
    unsetenv("HOME");
    EXPECT_THROW(NESUnit(rom.c_str(), 1789773), std::runtime_error);
    EXPECT_FALSE(fs::exists(home.path() + "/.config"));
}

TEST(SaveFolders, SetSaveDirNeedsAnExistingEntry) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    std::string const before = nes->getSaveDir();
    EXPECT_FALSE(nes->setSaveDir(home.path() + "/nope"));
    EXPECT_EQ(nes->getSaveDir(), before);
    std::string const file = test::write_temp_file(home.path(), "plain", {1});
    EXPECT_TRUE(nes->setSaveDir(file));
    EXPECT_EQ(nes->getSaveDir(), file);
}

TEST(BatteryRam, AShortFileFillsTheStartOfPrgRam) {
    test::TempHome home;
    fs::create_directories(home.path() + "/.config/Tamberlo/test");
    std::vector<unsigned char> ram(100, 0xAA);
    test::write_temp_file(home.path() + "/.config/Tamberlo/test", "ram", ram);
    testing::internal::CaptureStdout();
    auto nes = test::console(home.path(), battery_image());
    std::string const out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("RAM file exists: 1\n"), std::string::npos) << out;
    EXPECT_EQ(uint8_t(nes->cpu->memory[0x6063]), 0xAA);
    EXPECT_EQ(nes->cpu->memory[0x6064], 0);
}

TEST(BatteryRam, MissingFileLeavesPrgRamZero) {
    test::TempHome home;
    testing::internal::CaptureStdout();
    auto nes = test::console(home.path(), battery_image());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("RAM file exists: 0\n"),
              std::string::npos);
    EXPECT_EQ(nes->cpu->memory[0x6000], 0);
}

TEST(BatteryRam, IsWrittenWholeIntoItsOwnCartridgesFolder) {
    test::TempHome home;
    auto first = test::console(home.path(), battery_image(), "first.nes");
    auto second = test::console(home.path(), battery_image(), "second.nes");
    first->cpu->memory[0x6000] = 0x11;
    first->cpu->memory[0x7FFF] = 0x22;
    first->write_battery_ram();
    std::vector<char> ram = file_bytes(home.path() + "/.config/Tamberlo/first/ram");
    ASSERT_EQ(ram.size(), 8192u);
    EXPECT_EQ(ram[0], 0x11);
    EXPECT_EQ(ram[8191], 0x22);
    EXPECT_FALSE(fs::exists(home.path() + "/.config/Tamberlo/second/ram"));
}

TEST(BatteryRam, AFailedWriteKeepsThePreviousSave) {
    test::TempHome home;
    auto nes = test::console(home.path(), battery_image());
    nes->cpu->memory[0x6000] = 0x33;
    nes->write_battery_ram();
    // A folder that refuses new files: the temporary file cannot be made.
    std::string const dir = home.path() + "/.config/Tamberlo/test";
    if (geteuid() == 0) {
        // root ignores permissions; make the temporary name collide with a folder instead.
        nes->config_dir = dir + "/missing";
    } else {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    }
    nes->cpu->memory[0x6000] = 0x44;
    EXPECT_THROW(nes->write_battery_ram(), NES::FileError);
    fs::permissions(dir, fs::perms::owner_all);
    std::vector<char> ram = file_bytes(dir + "/ram");
    ASSERT_EQ(ram.size(), 8192u);
    EXPECT_EQ(ram[0], 0x33);
    for (auto const& entry : fs::directory_iterator(dir))
        EXPECT_TRUE(entry.path().filename() == "ram") << "left behind: " << entry.path();
}

TEST(BatteryRam, CartridgesWithoutBatteryWriteNothing) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    nes->write_battery_ram();
    EXPECT_FALSE(fs::exists(home.path() + "/.config/Tamberlo/test/ram"));
}

} // namespace

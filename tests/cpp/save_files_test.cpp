// Files written whole or not at all: what a complete, a failed and a killed write leave
// in the folder, and the clearing of temporaries that killed writers left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "persistence/file_error.hpp"
#include "persistence/whole_file.hpp"

namespace fs = std::filesystem;

namespace {

using NES::Temporary;

std::string kind_name(Temporary temporary) {
    return temporary == Temporary::named ? "named" : "unnamed";
}

class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/vandrel-files-XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string const& path() const { return dir; }

private:
    std::string dir;
};

std::string contents(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(std::string const& path, std::string const& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> entries(std::string const& dir) {
    std::vector<std::string> names;
    for (auto const& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void age(std::string const& path, std::chrono::seconds by) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - by);
}

bool makes_unnamed_files(std::string const& dir) {
    int const fd = open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

void write_text(std::string const& path, std::string const& text, Temporary temporary) {
    NES::write_whole_file(
        path, "cannot write", [&](FILE* f) { return std::fputs(text.c_str(), f) >= 0; }, temporary);
}

// Writes some bytes, pushes them to the file and dies as kill -9 would.
void write_and_get_killed(std::string const& path, Temporary temporary) {
    NES::write_whole_file(
        path, "cannot write",
        [](FILE* f) {
            std::fputs("half", f);
            std::fflush(f);
            std::raise(SIGKILL);
            return true;
        },
        temporary);
}

class WholeFile : public ::testing::TestWithParam<Temporary> {
protected:
    Folder folder;
    std::string const path = folder.path() + "/ram";
};

TEST_P(WholeFile, ReplacesTheFileWithMode0644AndLeavesNothingElse) {
    put(path, "old contents");
    mode_t const mask = umask(077);
    write_text(path, "new", GetParam());
    umask(mask);
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"ram"});
}

TEST_P(WholeFile, RemovesOnlyItsOwnAbandonedTemporaries) {
    using std::chrono::minutes;
    std::string const dir = folder.path() + "/";
    put(path, "old");
    for (char const* name :
         {"ram.vandrel-tmp-Ab3xY9", "ram.vandrel-tmp-000000", "ram.vandrel-tmp-zzzzzz"}) {
        put(dir + name, "abandoned");
        age(dir + name, minutes(2));
    }
    put(dir + "ram.vandrel-tmp-Fresh1", "another writer's, still in progress");
    // Not of our naming for this file: other lengths, other characters, another file, no
    // marker (a user's own copy, or a temporary of an earlier version).
    std::vector<std::string> const foreign = {"ram.Ab3xY9",
                                              "ram.backup",
                                              "ram.vandrel-tmp-Ab3xY",
                                              "ram.vandrel-tmp-Ab3xY9z",
                                              "ram.vandrel-tmp-Ab-xY9",
                                              "ram_vandrel-tmp-Ab3xY9",
                                              "rom.vandrel-tmp-Ab3xY9",
                                              "xram.vandrel-tmp-Ab3xY9"};
    for (std::string const& name : foreign) {
        put(dir + name, "someone else's");
        age(dir + name, minutes(2));
    }
    fs::create_directory(dir + "ram.vandrel-tmp-Dir123");
    age(dir + "ram.vandrel-tmp-Dir123", minutes(2));
    Folder outside;
    put(outside.path() + "/ram", "not ours");
    fs::create_symlink(outside.path() + "/ram", dir + "ram.vandrel-tmp-Link12");
    write_text(path, "new", GetParam());
    EXPECT_EQ(contents(path), "new");
    std::vector<std::string> kept = foreign;
    for (char const* name :
         {"ram", "ram.vandrel-tmp-Fresh1", "ram.vandrel-tmp-Dir123", "ram.vandrel-tmp-Link12"})
        kept.push_back(name);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(entries(folder.path()), kept);
    EXPECT_EQ(contents(outside.path() + "/ram"), "not ours");
}

// An exception from the writing callable reaches the caller as it is, with the same
// guarantees as any other failure.
TEST_P(WholeFile, AThrowingWriterKeepsThePreviousFileAndLeavesNoTemporary) {
    put(path, "old");
    EXPECT_THROW(NES::write_whole_file(
                     path, "cannot write",
                     [](FILE* f) -> bool {
                         std::fputs("ne", f);
                         throw std::length_error("too long");
                     },
                     GetParam()),
                 std::length_error);
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"ram"});
}

using WholeFileDeathTest = WholeFile;

// A writer killed halfway never tears the file; what it may have left is gone after the
// next write there once it is stale.
TEST_P(WholeFileDeathTest, AKilledWriterLeavesTheOldFileAndNothingPastTheNextWrite) {
    put(path, "old");
    EXPECT_EXIT(write_and_get_killed(path, GetParam()), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(contents(path), "old");
    for (std::string const& name : entries(folder.path()))
        if (name != "ram") age(folder.path() + "/" + name, std::chrono::minutes(2));
    write_text(path, "new", GetParam());
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"ram"});
}

TEST(WholeFileDeathTest, AWriterKilledWhileWritingAnUnnamedFileLeavesNothing) {
    Folder folder;
    if (!makes_unnamed_files(folder.path())) GTEST_SKIP() << "no O_TMPFILE in " << folder.path();
    std::string const path = folder.path() + "/ram";
    put(path, "old");
    EXPECT_EXIT(write_and_get_killed(path, Temporary::unnamed_when_possible),
                ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"ram"});
}

auto const both_kinds = ::testing::Values(Temporary::unnamed_when_possible, Temporary::named);
auto const by_kind = [](auto const& info) { return kind_name(info.param); };
INSTANTIATE_TEST_SUITE_P(Temporaries, WholeFile, both_kinds, by_kind);
INSTANTIATE_TEST_SUITE_P(Temporaries, WholeFileDeathTest, both_kinds, by_kind);

// Ways a write fails, and the errno it is reported with.
enum class Failure {
    write_reports_full_disk,
    write_fails_quietly,
    missing_folder,
    target_is_folder
};

struct FailureCase {
    Failure failure;
    int error_number;
    char const* name;
};

class FailedWrite : public ::testing::TestWithParam<std::tuple<Temporary, FailureCase>> {
protected:
    Folder folder;
};

TEST_P(FailedWrite, KeepsThePreviousFileLeavesNoTemporaryAndNamesThePath) {
    auto const [temporary, failure] = GetParam();
    std::string path = folder.path() + "/ram";
    std::function<bool(FILE*)> write_to = [](FILE* f) { return std::fputs("new", f) >= 0; };
    switch (failure.failure) {
    case Failure::write_reports_full_disk:
        write_to = [](FILE* f) {
            std::fputs("ne", f);
            errno = ENOSPC;
            return false;
        };
        break;
    case Failure::write_fails_quietly: write_to = [](FILE*) { return false; }; break;
    case Failure::missing_folder: path = folder.path() + "/missing/ram"; break;
    case Failure::target_is_folder:
        path = folder.path() + "/slot";
        fs::create_directory(path);
        put(path + "/inside", "kept");
        break;
    }
    put(folder.path() + "/ram", "old");
    std::vector<std::string> const before = entries(folder.path());
    try {
        NES::write_whole_file(path, "cannot write", write_to, temporary);
        ADD_FAILURE() << "no error";
    } catch (NES::FileError const& e) {
        EXPECT_EQ(e.error_number, failure.error_number);
        EXPECT_EQ(e.path, path);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
    EXPECT_EQ(contents(folder.path() + "/ram"), "old");
    EXPECT_EQ(entries(folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedWrite,
    ::testing::Combine(
        both_kinds,
        ::testing::Values(FailureCase{Failure::write_reports_full_disk, ENOSPC, "full_disk"},
                          FailureCase{Failure::write_fails_quietly, EIO, "quiet_failure"},
                          FailureCase{Failure::missing_folder, ENOENT, "missing_folder"},
                          FailureCase{Failure::target_is_folder, EISDIR, "target_is_folder"})),
    [](auto const& info) {
        return kind_name(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

} // namespace

// The plain program around one harness, for builds without libFuzzer:
//
//   replay_TARGET INPUT...                    runs every input (a file, or every file of
//                                             a folder) through the harness once
//   replay_TARGET --write-seeds DIR CART...   writes the harness's seed inputs into DIR
//
// Replaying the seeds and fuzz/regressions/TARGET is the regression test of the normal
// test build: an input that once crashed a harness must keep passing without libFuzzer.
// Files whose names start with '.' are skipped (the .gitkeep of an empty folder).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool hidden(fs::path const& path) {
    return path.filename().string().starts_with('.');
}

// The files an argument names, in a fixed order so that a failure is reproducible.
std::vector<fs::path> inputs_of(fs::path const& argument) {
    if (!fs::is_directory(argument)) return {argument};
    std::vector<fs::path> files;
    for (auto const& entry : fs::directory_iterator(argument))
        if (entry.is_regular_file() && !hidden(entry.path())) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

int replay(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        for (fs::path const& input : inputs_of(argv[i])) {
            std::fprintf(stderr, "replaying %s\n", input.c_str());
            std::vector<unsigned char> const bytes = fuzz::read_file(input);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::fprintf(stderr, "%d inputs passed\n", count);
    return count > 0 ? 0 : 1;
}

int write_seeds_into(int argc, char** argv) {
    fs::path const dir = argv[2];
    fs::create_directories(dir);
    std::vector<fs::path> const cartridges(argv + 3, argv + argc);
    write_seeds(dir, cartridges);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        LLVMFuzzerInitialize(&argc, &argv);
        if (argc >= 3 && std::string(argv[1]) == "--write-seeds")
            return write_seeds_into(argc, argv);
        if (argc < 2) {
            std::fprintf(stderr, "usage: %s INPUT... | --write-seeds DIR [CARTRIDGE...]\n",
                         argv[0]);
            return 2;
        }
        return replay(argc, argv);
    } catch (std::exception const& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
}

// Cartridge images held once per process. Consoles built from the same image (copies,
// pickles loaded in this process, the batch stepper's consoles, environments) share
// one read-only copy of its ROM instead of each holding its own; the last console
// that uses an image frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace NES {

struct SharedImage {
    uint64_t identity; // a hash of `bytes`, which snapshots carry to name their cartridge
    std::vector<unsigned char> bytes;
};

// The shared copy of the `size` bytes at `data`: the one already held when a live
// console uses the same bytes, else a new one.
std::shared_ptr<SharedImage const> share_image(unsigned char const* data, size_t size);

// The number of distinct images held now (for tests).
size_t shared_images_held();

} // namespace NES

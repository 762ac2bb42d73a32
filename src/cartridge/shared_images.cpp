#include "cartridge/shared_images.hpp"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "persistence/hash64.hpp"

namespace NES {

namespace {

// Entries of images that went away are swept out when this many have gathered.
constexpr size_t SWEEP_AT = 64;

struct Registry {
    std::mutex mutex;
    std::unordered_multimap<uint64_t, std::weak_ptr<SharedImage const>> images;

    void sweep() {
        for (auto it = images.begin(); it != images.end();)
            it = it->second.expired() ? images.erase(it) : std::next(it);
    }
};

// Never destroyed: a console may outlive static destruction at interpreter exit.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

bool same_bytes(SharedImage const& image, unsigned char const* data, size_t size) {
    return image.bytes.size() == size && std::memcmp(image.bytes.data(), data, size) == 0;
}

} // namespace

std::shared_ptr<SharedImage const> share_image(unsigned char const* data, size_t size) {
    uint64_t const identity = hash64(data, size);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto const [first, last] = r.images.equal_range(identity);
    for (auto it = first; it != last; ++it)
        if (auto held = it->second.lock(); held && same_bytes(*held, data, size)) return held;
    auto made = std::make_shared<SharedImage const>(
        SharedImage{identity, std::vector<unsigned char>(data, data + size)});
    if (r.images.size() >= SWEEP_AT) r.sweep();
    r.images.emplace(identity, made);
    return made;
}

size_t shared_images_held() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.sweep();
    return r.images.size();
}

} // namespace NES

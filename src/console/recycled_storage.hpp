// Storage for a console's large parts, kept for reuse when a part is freed.
//
// A console's CPU, PPU and APU take about 230 KiB. Programs that search copy, unpickle
// and drop consoles by the thousand, and fresh memory of that size comes from the
// system page by page, each page faulting in as it is first zeroed: three quarters of
// the cost of building a console. A part that inherits RecycledStorage takes its storage
// from the last few freed parts of its type instead, whose pages are already in place.
// At most KEPT are kept per type (under 2 MiB in all); their memory is held until the
// process ends.
#pragma once

#include <cstddef>
#include <mutex>
#include <new>
#include <vector>

namespace NES {

// Under AddressSanitizer nothing is kept, so that a part used after it was freed is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
#define VANDREL_RECYCLE_PARTS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANDREL_RECYCLE_PARTS 0
#endif
#endif
#ifndef VANDREL_RECYCLE_PARTS
#define VANDREL_RECYCLE_PARTS 1
#endif

template <typename Part> class RecycledStorage {
public:
    static constexpr size_t KEPT = VANDREL_RECYCLE_PARTS ? 8 : 0;

    static void* operator new(size_t size) {
        Pool& pool = pool_of();
        {
            std::lock_guard<std::mutex> lock(pool.mutex);
            if (!pool.freed.empty() && size == sizeof(Part)) {
                void* const storage = pool.freed.back();
                pool.freed.pop_back();
                return storage;
            }
        }
        return ::operator new(size);
    }

    static void operator delete(void* storage, size_t size) {
        Pool& pool = pool_of();
        {
            std::lock_guard<std::mutex> lock(pool.mutex);
            if (pool.freed.size() < KEPT && size == sizeof(Part)) {
                pool.freed.push_back(storage);
                return;
            }
        }
        ::operator delete(storage);
    }

private:
    struct Pool {
        std::mutex mutex;
        std::vector<void*> freed;
        Pool() { freed.reserve(KEPT); }
    };

    // Never destroyed: a part may be freed during static destruction at exit.
    static Pool& pool_of() {
        static Pool* const pool = new Pool;
        return *pool;
    }
};

} // namespace NES

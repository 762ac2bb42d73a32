#include "batch/worker_pool.hpp"

namespace NES {

WorkerPool::WorkerPool(int threads) {
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(&WorkerPool::work_loop, this);
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    start_signal.notify_all();
    for (std::thread& worker : workers)
        worker.join();
}

void WorkerPool::run(size_t count, std::function<void(size_t)> const& work) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        job = &work;
        job_size = count;
        next_index = 0;
        failure = nullptr;
        busy_workers = int(workers.size());
        ++generation;
    }
    start_signal.notify_all();
    take_indices();
    std::unique_lock<std::mutex> lock(mutex);
    done_signal.wait(lock, [&] { return busy_workers == 0; });
    job = nullptr;
    if (failure) std::rethrow_exception(failure);
}

// Indices are handed out one at a time, so a slow console never holds up the others'
// thread.
void WorkerPool::take_indices() {
    for (size_t i = next_index++; i < job_size; i = next_index++) {
        try {
            (*job)(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
        }
    }
}

void WorkerPool::work_loop() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            start_signal.wait(lock, [&] { return closing || generation != seen; });
            if (closing) return;
            seen = generation;
        }
        take_indices();
        {
            std::lock_guard<std::mutex> lock(mutex);
            --busy_workers;
        }
        done_signal.notify_all();
    }
}

} // namespace NES

// A fixed set of native threads that run one job over a range of indices at a time:
// the batch stepper's consoles are stepped this way, one console per index, each on
// whichever thread takes it first. The calling thread works too, so a pool of one
// thread is the caller alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace NES {

class WorkerPool {
public:
    // `threads` threads in all, the caller's included (at least one).
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(WorkerPool const&) = delete;
    WorkerPool& operator=(WorkerPool const&) = delete;

    int threads() const { return int(workers.size()) + 1; }
    // Calls job(i) for every i in [0, count) and returns when all have returned. The
    // first exception a job throws is thrown here once every job has ended.
    void run(size_t count, std::function<void(size_t)> const& job);

private:
    void work_loop();
    void take_indices();

    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable start_signal;
    std::condition_variable done_signal;
    uint64_t generation = 0; // bumped for every job; workers wait for a new one
    bool closing = false;
    int busy_workers = 0;

    // The job in progress.
    std::function<void(size_t)> const* job = nullptr;
    size_t job_size = 0;
    std::atomic<size_t> next_index{0};
    std::exception_ptr failure;
};

} // namespace NES

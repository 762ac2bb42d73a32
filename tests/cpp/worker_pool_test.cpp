// The batch stepper's worker pool: every index runs once, on any thread, and a failing
// job is reported once every job has ended.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "batch/worker_pool.hpp"

namespace {

class WorkerPools : public testing::TestWithParam<int> {};

TEST_P(WorkerPools, RunEveryIndexOnceJobAfterJob) {
    NES::WorkerPool pool(GetParam());
    EXPECT_EQ(pool.threads(), GetParam());
    for (size_t count : {0u, 1u, 7u, 64u}) {
        std::vector<std::atomic<int>> runs(count);
        pool.run(count, [&](size_t i) { ++runs[i]; });
        for (auto const& r : runs)
            EXPECT_EQ(r.load(), 1);
    }
}

TEST_P(WorkerPools, AFailingJobIsThrownAfterTheOthersHaveRun) {
    NES::WorkerPool pool(GetParam());
    std::atomic<int> done{0};
    EXPECT_THROW(pool.run(16,
                          [&](size_t i) {
                              if (i == 3) throw std::runtime_error("job 3");
                              ++done;
                          }),
                 std::runtime_error);
    EXPECT_EQ(done.load(), 15);
    pool.run(4, [&](size_t) { ++done; }); // the pool still works
    EXPECT_EQ(done.load(), 19);
}

INSTANTIATE_TEST_SUITE_P(Threads, WorkerPools, testing::Values(1, 2, 4));

TEST(WorkerPool, OneThreadIsTheCallerAlone) {
    NES::WorkerPool pool(1);
    std::thread::id seen;
    pool.run(1, [&](size_t) { seen = std::this_thread::get_id(); });
    EXPECT_EQ(seen, std::this_thread::get_id());
}

} // namespace

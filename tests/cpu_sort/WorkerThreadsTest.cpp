#include "cpu_sort/WorkerThreads.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(RunWorkers, runs_every_worker_once_with_its_number_and_the_count) {
    std::vector<std::thread> workers;
    std::vector<unsigned long> seen(7, 0);
    EvalCore::RunWorkers(workers, 7, [&](unsigned long t, unsigned long count) { seen[t] += count; });
    EXPECT_EQ(seen, std::vector<unsigned long>(7, 7));
    EXPECT_TRUE(workers.empty());
}

TEST(RunWorkers, joins_started_workers_before_reporting_a_failed_start) {
    for (unsigned long failing = 1; failing <= 4; ++failing) {
        std::vector<std::thread> workers;
        // Slow workers: an unjoined one would still be running (and racing
        // with the reads below) when the error arrives. A correct RunWorkers
        // joins before it throws, so the reads see every started worker
        // finished however slow the machine is; the sleep only makes a
        // missing join show outside the thread sanitizer, which reports it
        // as a race in any case.
        std::vector<int> finished(4, 0);
        EvalCore::Testing::failWorkerStartNumber = failing;
        EXPECT_THROW(EvalCore::RunWorkers(workers, 4,
                                          [&](unsigned long t, unsigned long) {
                                              std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                              finished[t] = 1;
                                          }),
                     std::system_error);
        for (unsigned long t = 0; t < 4; ++t) EXPECT_EQ(finished[t], t + 1 < failing ? 1 : 0) << "worker " << t;
        EXPECT_TRUE(workers.empty());
    }
    EXPECT_EQ(EvalCore::Testing::failWorkerStartNumber, 0u);
}

}  // namespace

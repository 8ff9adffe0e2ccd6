#pragma once

#include <system_error>
#include <thread>
#include <vector>

namespace EvalCore {

namespace Testing {
// Fault injection for tests. While nonzero, it counts down with every worker
// start made by the thread that set it, and the start that brings it to zero
// fails with std::system_error as if the system had no thread left to give.
inline thread_local unsigned long failWorkerStartNumber = 0;
}  // namespace Testing

// The one shape of every parallel loop in the engine: work(t, workerCount) runs
// on a new thread of its own for every t in 0 ... workerCount - 1, and
// RunWorkers returns once all of them have been joined, in order 0, 1, ...
//
// `workers` must be empty on entry and is empty again on return; it belongs to
// the caller so that one vector serves every phase of a sort. `work` must not
// throw. When a thread cannot be started (or the vector cannot grow), the
// threads already started are joined first, then the error propagates
// (std::system_error or std::bad_alloc): no worker is ever left running.
template <class Work>
void RunWorkers(std::vector<std::thread>& workers, unsigned long workerCount, const Work& work) {
    struct JoinAll {
        std::vector<std::thread>& threads;
        ~JoinAll() {
            for (std::thread& thread : threads) thread.join();
            threads.clear();
        }
    } joinAll{workers};

    workers.reserve(workerCount);
    for (unsigned long t = 0; t < workerCount; ++t) {
        if (Testing::failWorkerStartNumber != 0 && --Testing::failWorkerStartNumber == 0)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "Starting a sort worker: refused by fault injection");
        workers.emplace_back(work, t, workerCount);
    }
}

}  // namespace EvalCore

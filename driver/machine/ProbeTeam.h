#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

// Threads that run one piece of work at the same time, for the limits probe.
// They are started once and wait between pieces, so a timing holds no thread
// start; what it still holds is one wake-up (tens of microseconds), which is
// why every timed piece of the probe lasts a millisecond or more.
//
// The calling thread is member 0 and works too. Not copyable; one Run at a
// time, from the thread that made the team.
class ProbeTeam {
public:
    // Starts members - 1 threads (0 members are taken as 1). When one cannot
    // be started, the started ones are stopped and joined and std::system_error
    // propagates.
    explicit ProbeTeam(unsigned members);
    ProbeTeam(const ProbeTeam&) = delete;
    ProbeTeam& operator=(const ProbeTeam&) = delete;
    ~ProbeTeam();

    unsigned Members() const { return static_cast<unsigned>(threads.size()) + 1; }

    // Calls work(member) on every member at once; returns the seconds from
    // the start until the last member finished.
    double Run(const std::function<void(unsigned)>& work);

private:
    void Serve(unsigned member);
    void Stop();

    // Each Run counts one round up; a member waits for the round to change.
    std::atomic<std::uint64_t> round{0};
    std::atomic<unsigned> running{0};
    std::atomic<bool> stopping{false};
    const std::function<void(unsigned)>* work = nullptr;
    std::vector<std::thread> threads;
};

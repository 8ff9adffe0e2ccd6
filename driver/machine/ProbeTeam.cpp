#include "driver/machine/ProbeTeam.h"

#include <chrono>

#include "support/SecondsSince.h"

ProbeTeam::ProbeTeam(unsigned members) {
    const unsigned others = members > 1 ? members - 1 : 0;
    threads.reserve(others);
    try {
        for (unsigned member = 1; member <= others; ++member) threads.emplace_back([this, member] { Serve(member); });
    } catch (...) {
        Stop();
        throw;
    }
}

ProbeTeam::~ProbeTeam() { Stop(); }

void ProbeTeam::Stop() {
    stopping.store(true, std::memory_order_release);
    round.fetch_add(1, std::memory_order_acq_rel);
    round.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
}

void ProbeTeam::Serve(unsigned member) {
    std::uint64_t seen = 0;
    for (;;) {
        round.wait(seen, std::memory_order_acquire);
        seen = round.load(std::memory_order_acquire);
        if (stopping.load(std::memory_order_acquire)) return;
        (*work)(member);
        // The last member to finish wakes the caller.
        if (running.fetch_sub(1, std::memory_order_acq_rel) == 1) running.notify_one();
    }
}

double ProbeTeam::Run(const std::function<void(unsigned)>& piece) {
    running.store(Members(), std::memory_order_relaxed);
    work = &piece;
    const auto start = std::chrono::steady_clock::now();
    round.fetch_add(1, std::memory_order_acq_rel);
    round.notify_all();
    piece(0);
    if (running.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        for (unsigned left = running.load(std::memory_order_acquire); left != 0;
             left = running.load(std::memory_order_acquire))
            running.wait(left, std::memory_order_acquire);
    }
    return AppCore::SecondsSince(start);
}

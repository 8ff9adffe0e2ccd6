#include "driver/machine/LimitsProbe.h"

#include "driver/machine/AccessPatterns.h"
#include "driver/machine/ProbeTeam.h"
#include "driver/measuring/MemoryBudget.h"
#include "support/CharBuffer.h"
#include "support/HugePages.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <system_error>

namespace {

constexpr std::uint64_t kMinArrayBytes = 4096;
constexpr std::uint64_t kArrayBytesLimit = std::uint64_t{4} << 30;  // slots are 32-bit

// Index entries of a loads figure: over 64 MiB one thread needs about 17 ms
// for 2M random loads here, long beside a wake-up of the team and short beside
// the probe's budget. Their two index arrays take 8 MiB each.
constexpr std::uint64_t kLoadsPerFigure = std::uint64_t{1} << 21;

// Small arrays repeat their pass until a timing holds this many accesses, or
// copies this many bytes, so that no timing lasts much under a millisecond.
constexpr std::uint64_t kMinAccesses = std::uint64_t{1} << 20;
constexpr std::uint64_t kMinCopyBytes = std::uint64_t{16} << 20;

constexpr std::size_t kSmallFronts = 256;
constexpr std::size_t kLargeFronts = 65'536;

std::uint64_t PassesFor(std::uint64_t perPass, std::uint64_t atLeast) {
    return perPass >= atLeast ? 1 : (atLeast + perPass - 1) / perPass;
}

std::uint64_t IndexEntries(std::uint64_t arrayBytes, std::uint64_t keyBytes) {
    return std::min(arrayBytes / keyBytes, kLoadsPerFigure);
}

// The sizes sorted without repeats; empty when one is out of range.
std::vector<std::uint64_t> ValidSizes(std::vector<std::uint64_t> sizes) {
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    for (const std::uint64_t bytes : sizes)
        if (bytes < kMinArrayBytes || bytes >= kArrayBytesLimit) return {};
    return sizes;
}

std::string MiBText(std::uint64_t bytes) {
    return std::to_string((bytes + kLimitsMiB - 1) / kLimitsMiB) + " MiB";
}

unsigned OnlineCpus() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the probe works in. Every buffer is advised for huge pages, as the
// sort's are, and written once, so that no timing takes page faults.
struct Buffers {
    AppCore::CharBuffer array, destination, slots, positions4, positions8;

    explicit Buffers(std::uint64_t largest)
        : array(Touched(largest)),
          destination(Touched(largest)),
          slots(Touched(largest)),
          positions4(Touched(IndexEntries(largest, 4) * sizeof(std::uint32_t))),
          positions8(Touched(IndexEntries(largest, 8) * sizeof(std::uint32_t))) {}

    bool Complete() const {
        return array.data && destination.data && slots.data && positions4.data && positions8.data;
    }

    static AppCore::CharBuffer Touched(std::uint64_t bytes) {
        AppCore::CharBuffer buffer(bytes);
        if (buffer.data == nullptr) return buffer;
        AppCore::AdviseHugePages(buffer.data, buffer.size);
        std::memset(buffer.data, 1, buffer.size);
        return buffer;
    }

    template <class T>
    static T* As(const AppCore::CharBuffer& buffer) {
        return reinterpret_cast<T*>(buffer.data);
    }
};

// The work of one figure, for member `member` of `members` sharing it evenly.
using Piece = std::function<void(unsigned member, unsigned members)>;

class Probe {
public:
    Probe(Buffers& buffers, ProbeTeam& team, unsigned repeats) : buffers(buffers), team(team), repeats(repeats) {}

    ArrayLimits Measure(std::uint64_t arrayBytes) {
        ArrayLimits limits;
        limits.arrayBytes = arrayBytes;
        const bool several = team.Members() > 1;
        std::vector<Figure> figures;
        const auto add = [&](double work, double AccessRates::*rate, Piece piece) {
            figures.push_back({work, &limits.oneThread, rate, piece, false});
            if (several) figures.push_back({work, &limits.allCpus, rate, piece, true});
        };

        const std::uint64_t copyPasses = PassesFor(arrayBytes, kMinCopyBytes);
        add(2.0 * static_cast<double>(arrayBytes * copyPasses), &AccessRates::copyBytes, CopyPiece(arrayBytes, copyPasses));
        add(LoadsWork(arrayBytes, 4), &AccessRates::loads4, LoadsPiece<std::uint32_t>(arrayBytes, buffers.positions4));
        add(LoadsWork(arrayBytes, 8), &AccessRates::loads8, LoadsPiece<std::uint64_t>(arrayBytes, buffers.positions8));
        const std::uint64_t slotCount = arrayBytes / sizeof(std::uint32_t);
        const std::uint64_t storePasses = PassesFor(slotCount, kMinAccesses);
        add(static_cast<double>(slotCount * storePasses), &AccessRates::stores256, StoresPiece(slotCount, storePasses));
        const std::size_t smallFronts = figures.size();
        add(static_cast<double>(slotCount * storePasses), &AccessRates::stores65536, StoresPiece(slotCount, storePasses));

        // The store figures need their own slot layouts, so the figures of
        // each layout take turns among themselves.
        const std::uint64_t seed = arrayBytes;
        AccessPatterns::FillRandomPositions(As<std::uint32_t>(buffers.positions4), IndexEntries(arrayBytes, 4),
                                            arrayBytes / 4, seed);
        AccessPatterns::FillRandomPositions(As<std::uint32_t>(buffers.positions8), IndexEntries(arrayBytes, 8),
                                            arrayBytes / 8, seed + 1);
        AccessPatterns::LayOutFrontSlots(As<std::uint32_t>(buffers.slots), slotCount, kSmallFronts, team.Members(),
                                         seed + 2);
        TakeTurns(figures.data(), figures.data() + smallFronts);
        AccessPatterns::LayOutFrontSlots(As<std::uint32_t>(buffers.slots), slotCount, kLargeFronts, team.Members(),
                                         seed + 3);
        TakeTurns(figures.data() + smallFronts, figures.data() + figures.size());
        if (!several) limits.allCpus = limits.oneThread;
        return limits;
    }

private:
    struct Figure {
        double work;  // bytes or accesses of one timing
        AccessRates* rates;
        double AccessRates::*rate;
        Piece piece;
        bool allCpus;
    };

    template <class T>
    static T* As(const AppCore::CharBuffer& buffer) {
        return Buffers::As<T>(buffer);
    }

    void TakeTurns(Figure* first, Figure* last) {
        std::vector<double> best(static_cast<std::size_t>(last - first), std::numeric_limits<double>::infinity());
        for (unsigned repeat = 0; repeat < repeats; ++repeat)
            for (Figure* figure = first; figure != last; ++figure) {
                double& fastest = best[static_cast<std::size_t>(figure - first)];
                fastest = std::min(fastest, Time(*figure));
            }
        for (Figure* figure = first; figure != last; ++figure)
            figure->rates->*figure->rate = figure->work / best[static_cast<std::size_t>(figure - first)];
    }

    double Time(const Figure& figure) {
        if (figure.allCpus) {
            const unsigned members = team.Members();
            return team.Run([&](unsigned member) { figure.piece(member, members); });
        }
        const auto start = std::chrono::steady_clock::now();
        figure.piece(0, 1);
        return Seconds(start);
    }

    static double LoadsWork(std::uint64_t arrayBytes, std::uint64_t keyBytes) {
        const std::uint64_t entries = IndexEntries(arrayBytes, keyBytes);
        return static_cast<double>(entries * PassesFor(entries, kMinAccesses));
    }

    Piece CopyPiece(std::uint64_t bytes, std::uint64_t passes) {
        return [this, bytes, passes](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(bytes, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(bytes, members, member + 1);
            for (std::uint64_t pass = 0; pass < passes; ++pass)
                std::memcpy(buffers.destination.data + first, buffers.array.data + first, last - first);
        };
    }

    template <class Key>
    Piece LoadsPiece(std::uint64_t arrayBytes, const AppCore::CharBuffer& positions) {
        const std::uint64_t entries = IndexEntries(arrayBytes, sizeof(Key));
        const std::uint64_t passes = PassesFor(entries, kMinAccesses);
        return [this, entries, passes, &positions](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(entries, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(entries, members, member + 1);
            std::uint64_t sum = 0;
            for (std::uint64_t pass = 0; pass < passes; ++pass)
                sum += AccessPatterns::LoadThrough(As<Key>(buffers.array), As<std::uint32_t>(positions), first, last);
            checksum.fetch_add(sum, std::memory_order_relaxed);
        };
    }

    // Member m of M takes chunk m of the layout's M chunks; one member walks
    // all of them, as a one-thread pass walks its single chunk.
    Piece StoresPiece(std::uint64_t slotCount, std::uint64_t passes) {
        return [this, slotCount, passes](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(slotCount, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(slotCount, members, member + 1);
            for (std::uint64_t pass = 0; pass < passes; ++pass)
                AccessPatterns::StoreThrough(As<std::uint32_t>(buffers.destination), As<std::uint32_t>(buffers.slots),
                                             first, last);
        };
    }

    Buffers& buffers;
    ProbeTeam& team;
    unsigned repeats;
    std::atomic<std::uint64_t> checksum{0};
};

CpuLimits Skipped(std::string reason) {
    CpuLimits limits;
    limits.skipped = std::move(reason);
    return limits;
}

}  // namespace

std::uint64_t LimitsProbeBytes(const LimitsProbeOptions& options) {
    const std::vector<std::uint64_t> sizes = ValidSizes(options.arrayBytes);
    if (sizes.empty()) return 0;
    const std::uint64_t largest = sizes.back();
    return 3 * largest + (IndexEntries(largest, 4) + IndexEntries(largest, 8)) * sizeof(std::uint32_t);
}

CpuLimits ProbeCpuLimits(const LimitsProbeOptions& options) {
    const std::vector<std::uint64_t> sizes = ValidSizes(options.arrayBytes);
    if (sizes.empty()) return Skipped("array sizes must lie between 4 KiB and 4 GiB");
    const std::uint64_t needed = LimitsProbeBytes(options);
    const std::uint64_t available = options.availableBytes.value_or(AvailableMemoryBytes());
    if (needed > available)
        return Skipped("needs " + MiBText(needed) + " of memory, " + std::to_string(available / kLimitsMiB) +
                       " MiB available");

    Buffers buffers(sizes.back());
    if (!buffers.Complete()) return Skipped("cannot allocate " + MiBText(needed));
    const unsigned cpus = options.cpus > 0 ? options.cpus : OnlineCpus();
    try {
        ProbeTeam team(cpus);
        Probe probe(buffers, team, std::max(options.repeats, 1u));
        CpuLimits limits;
        limits.cpus = cpus;
        limits.repeats = std::max(options.repeats, 1u);
        for (const std::uint64_t bytes : sizes) limits.arrays.push_back(probe.Measure(bytes));
        return limits;
    } catch (const std::system_error& error) {
        return Skipped("cannot start " + std::to_string(cpus) + " threads: " + error.what());
    }
}

#include "driver/machine/ProbeTimings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "driver/machine/AccessPatterns.h"
#include "driver/machine/SlotWindows.h"
#include "support/SecondsSince.h"

namespace {

// Accesses of one timing, whatever the count of CPUs, and the entries of the
// index array: at 64 MiB one thread needs 6 to 7 ms for 1M random loads here,
// long beside a wake-up of the team and short beside the probe's budget.
// Small sizes repeat their work until a timing has this many; copies, until
// they have moved kMinCopyBytes.
constexpr std::uint64_t kTimingAccesses = std::uint64_t{1} << 20;
constexpr std::uint64_t kMinCopyBytes = std::uint64_t{16} << 20;

constexpr std::size_t kSmallFronts = 256;
constexpr std::size_t kLargeFronts = 65'536;

std::uint64_t PassesFor(std::uint64_t perPass, std::uint64_t atLeast) {
    return perPass >= atLeast ? 1 : (atLeast + perPass - 1) / perPass;
}

std::uint64_t IndexEntries(std::uint64_t arrayBytes) {
    return std::min(arrayBytes / sizeof(std::uint32_t), kTimingAccesses);
}

AppCore::CharBuffer Touched(std::uint64_t bytes) {
    AppCore::CharBuffer buffer(bytes);
    if (buffer.data == nullptr) return buffer;
    std::memset(buffer.data, 1, buffer.size);
    return buffer;
}

template <class T>
T* As(const AppCore::CharBuffer& buffer) {
    return reinterpret_cast<T*>(buffer.data);
}

// The work of one figure's timing, for member `member` of `members` sharing it.
using Piece = std::function<void(unsigned member, unsigned members)>;

class ArrayProbe {
public:
    ArrayProbe(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats)
        : buffers(buffers), team(team), repeats(repeats) {}

    // TimeArrayFigures.
    ArrayLimits Measure(std::uint64_t arrayBytes) {
        ArrayLimits limits;
        limits.arrayBytes = arrayBytes;
        const std::uint64_t entries = arrayBytes / sizeof(std::uint32_t);
        const std::uint64_t seed = arrayBytes;
        AccessPatterns::FillRandomPositions(As<std::uint32_t>(buffers.positions), IndexEntries(arrayBytes), entries,
                                            seed);
        SlotWindows windows(entries, team.Members(), kTimingAccesses);

        std::vector<Figure> figures;
        const auto add = [&](double work, double AccessRates::*rate, Piece piece) {
            figures.push_back({work, &limits.oneThread, rate, piece, false});
            if (team.Members() > 1) figures.push_back({work, &limits.allCpus, rate, piece, true});
        };
        const std::uint64_t copyPasses = PassesFor(arrayBytes, kMinCopyBytes);
        add(2.0 * static_cast<double>(arrayBytes * copyPasses), &AccessRates::copyBytes,
            CopyPiece(arrayBytes, copyPasses));
        add(LoadsWork(arrayBytes), &AccessRates::loads4, LoadsPiece<std::uint32_t>(arrayBytes));
        add(LoadsWork(arrayBytes), &AccessRates::loads8, LoadsPiece<std::uint64_t>(arrayBytes));
        add(windows.Work(), &AccessRates::stores256, WindowPiece(windows, WindowWork::Stores));
        add(windows.Work(), &AccessRates::moves4, WindowPiece(windows, WindowWork::Moves4));
        const std::size_t smallFronts = figures.size();
        add(windows.Work(), &AccessRates::stores65536, WindowPiece(windows, WindowWork::Stores));
        add(windows.Work(), &AccessRates::moves8, WindowPiece(windows, WindowWork::Moves8));

        // The figures of one slot layout take turns among themselves.
        windows.LayOut(As<std::uint32_t>(buffers.slots), kSmallFronts, seed + 1);
        TakeTurns(figures.data(), figures.data() + smallFronts, windows);
        windows.LayOut(As<std::uint32_t>(buffers.slots), kLargeFronts, seed + 2);
        TakeTurns(figures.data() + smallFronts, figures.data() + figures.size(), windows);
        if (team.Members() < 2) limits.allCpus = limits.oneThread;
        return limits;
    }

    // TimeWideCopy.
    ArrayLimits MeasureWideCopy(std::uint64_t arrayBytes) {
        ArrayLimits limits;
        const std::uint64_t bytes = 2 * arrayBytes;
        limits.arrayBytes = bytes;
        const std::uint64_t passes = PassesFor(bytes, kMinCopyBytes);
        const double work = 2.0 * static_cast<double>(bytes * passes);
        const Piece piece = [this, arrayBytes, bytes, passes](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(bytes, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(bytes, members, member + 1);
            const auto copy = [&](std::size_t from, std::size_t to) {
                if (from >= to) return;
                char* target =
                    from < arrayBytes ? buffers.destination.data + from : buffers.slots.data + (from - arrayBytes);
                std::memcpy(target, buffers.keys.data + from, to - from);
            };
            for (std::uint64_t pass = 0; pass < passes; ++pass) {
                copy(first, std::min<std::size_t>(last, arrayBytes));
                copy(std::max<std::size_t>(first, arrayBytes), last);
            }
        };
        std::vector<Figure> figures{{work, &limits.oneThread, &AccessRates::copyBytes, piece, false}};
        if (team.Members() > 1) figures.push_back({work, &limits.allCpus, &AccessRates::copyBytes, piece, true});
        SlotWindows windows(arrayBytes / sizeof(std::uint32_t), team.Members(), kTimingAccesses);
        TakeTurns(figures.data(), figures.data() + figures.size(), windows);
        if (team.Members() < 2) limits.allCpus = limits.oneThread;
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

    void TakeTurns(Figure* first, Figure* last, SlotWindows& windows) {
        std::vector<double> best(static_cast<std::size_t>(last - first), std::numeric_limits<double>::infinity());
        for (unsigned repeat = 0; repeat < repeats; ++repeat)
            for (Figure* figure = first; figure != last; ++figure) {
                firstWindow = windows.Take();
                double& fastest = best[static_cast<std::size_t>(figure - first)];
                fastest = std::min(fastest, TimeFigure(*figure));
            }
        for (Figure* figure = first; figure != last; ++figure)
            figure->rates->*figure->rate = figure->work / best[static_cast<std::size_t>(figure - first)];
    }

    double TimeFigure(const Figure& figure) {
        if (figure.allCpus) {
            const unsigned members = team.Members();
            return team.Run([&](unsigned member) { figure.piece(member, members); });
        }
        const auto start = std::chrono::steady_clock::now();
        figure.piece(0, 1);
        return AppCore::SecondsSince(start);
    }

    static double LoadsWork(std::uint64_t arrayBytes) {
        const std::uint64_t entries = IndexEntries(arrayBytes);
        return static_cast<double>(entries * PassesFor(entries, kTimingAccesses));
    }

    Piece CopyPiece(std::uint64_t bytes, std::uint64_t passes) {
        return [this, bytes, passes](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(bytes, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(bytes, members, member + 1);
            for (std::uint64_t pass = 0; pass < passes; ++pass)
                std::memcpy(buffers.destination.data + first, buffers.keys.data + first, last - first);
        };
    }

    template <class Key>
    Piece LoadsPiece(std::uint64_t arrayBytes) {
        const std::uint64_t entries = IndexEntries(arrayBytes);
        const std::uint64_t passes = PassesFor(entries, kTimingAccesses);
        return [this, entries, passes](unsigned member, unsigned members) {
            const std::size_t first = AccessPatterns::ChunkStart(entries, members, member);
            const std::size_t last = AccessPatterns::ChunkStart(entries, members, member + 1);
            std::uint64_t sum = 0;
            for (std::uint64_t pass = 0; pass < passes; ++pass)
                sum += AccessPatterns::LoadThrough(As<Key>(buffers.keys), As<std::uint32_t>(buffers.positions), first,
                                                   last);
            checksum.fetch_add(sum, std::memory_order_relaxed);
        };
    }

    enum class WindowWork { Stores, Moves4, Moves8 };

    // Stores alone, or moves of 4- or 8-byte keys, over the timing's windows:
    // each member of the team takes one; a lone thread walks them all.
    Piece WindowPiece(const SlotWindows& windows, WindowWork work) {
        return [this, &windows, work](unsigned member, unsigned members) {
            const unsigned cpus = windows.Cpus();
            const auto first = static_cast<unsigned>(AccessPatterns::ChunkStart(cpus, members, member));
            const auto last = static_cast<unsigned>(AccessPatterns::ChunkStart(cpus, members, member + 1));
            auto* destination = As<std::uint32_t>(buffers.destination);
            const auto* positions = As<std::uint32_t>(buffers.positions);
            std::uint64_t sum = 0;
            for (std::uint64_t pass = 0; pass < windows.Passes(); ++pass)
                for (unsigned w = first; w < last; ++w) {
                    const std::uint64_t window = firstWindow + w;
                    const std::uint32_t* slots = As<std::uint32_t>(buffers.slots) + windows.Start(window);
                    const std::size_t size = windows.Size(window);
                    if (work == WindowWork::Stores)
                        AccessPatterns::StoreThrough(destination, slots, size);
                    else if (work == WindowWork::Moves4)
                        sum += AccessPatterns::MoveThrough(As<std::uint32_t>(buffers.keys), positions, slots,
                                                           destination, size);
                    else
                        sum += AccessPatterns::MoveThrough(As<std::uint64_t>(buffers.keys), positions, slots,
                                                           destination, size);
                }
            checksum.fetch_add(sum, std::memory_order_relaxed);
        };
    }

    ProbeBuffers& buffers;
    ProbeTeam& team;
    unsigned repeats;
    std::uint64_t firstWindow = 0;  // of the timing under way
    std::atomic<std::uint64_t> checksum{0};
};

}  // namespace

ProbeBuffers::ProbeBuffers(std::uint64_t largest)
    : keys(Touched(2 * largest)),
      destination(Touched(largest)),
      slots(Touched(largest)),
      positions(Touched(IndexEntries(largest) * sizeof(std::uint32_t))) {}

std::uint64_t ProbeBufferBytes(std::uint64_t largest) {
    return 4 * largest + IndexEntries(largest) * sizeof(std::uint32_t);
}

ArrayLimits TimeArrayFigures(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t arrayBytes) {
    return ArrayProbe(buffers, team, repeats).Measure(arrayBytes);
}

ArrayLimits TimeWideCopy(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t arrayBytes) {
    return ArrayProbe(buffers, team, repeats).MeasureWideCopy(arrayBytes);
}

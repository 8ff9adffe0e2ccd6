#include "driver/machine/ProbeTimings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "cpu_sort/pairs/PairBucketPlan.h"
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

// The pair figures' timings last a millisecond or two each, short enough
// that a busy machine interrupts most of them: they take this many times the
// repeats, for about 0.1 s at 3 repeats on 2 CPUs.
constexpr unsigned kPairRepeats = 3;

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

    // The key-carrying sort's figures (PairRates) for a data set of `records`
    // records: the keys' buffer read, the destination written, and each
    // member's tables of its own. Unmeasured when those cannot be had.
    PairLimits MeasurePairs(std::uint64_t records) {
        PairLimits limits;
        const unsigned members = team.Members();
        const std::size_t leafPairs = static_cast<std::size_t>(
            std::min<std::uint64_t>(EvalCore::PairDetail::BucketTargetPairs(records),
                                    EvalCore::PairDetail::LeafMaxPairs(sizeof(std::uint64_t))));
        try {
            own.assign(members, MemberTables(leafPairs));
        } catch (const std::bad_alloc&) {
            return limits;
        }
        limits.leafBytes = leafPairs * sizeof(std::uint64_t);
        const std::uint64_t keys = 2 * records;  // the 4-byte keys the keys' buffer holds
        const std::uint64_t lines = records * sizeof(std::uint32_t) / EvalCore::PairDetail::kLineBytes;
        const Piece scatter = [this, keys, lines](unsigned member, unsigned members) {
            MemberTables& tables = own[member];
            const std::uint64_t firstLine = AccessPatterns::ChunkStart(lines, members, member);
            const std::uint64_t memberLines = AccessPatterns::ChunkStart(lines, members, member + 1) - firstLine;
            auto* destination = As<std::uint64_t>(buffers.destination) + firstLine * 8;
            // Each timing reads on where the last one stopped, as a sort's sweep reads keys it has not read.
            std::uint64_t left = AccessPatterns::ChunkStart(kTimingAccesses, members, member + 1) -
                                 AccessPatterns::ChunkStart(kTimingAccesses, members, member);
            while (left > 0) {
                if (tables.source == keys) tables.source = 0;
                const std::uint64_t run = std::min(left, keys - tables.source);
                AccessPatterns::ScatterThroughLines(As<std::uint32_t>(buffers.keys) + tables.source, run, destination,
                                                    memberLines, tables.Fronts());
                tables.source += run;
                left -= run;
            }
        };
        const unsigned planBits = EvalCore::PairDetail::PlanDigitBits(records);
        // The sort counts keys its range sweep has just read, which the
        // caches may still hold: every timing counts the same keys.
        const Piece planned = [this, keys, planBits](unsigned member, unsigned members) {
            MemberTables& tables = own[member];
            const std::uint64_t first = AccessPatterns::ChunkStart(kTimingAccesses, members, member);
            std::uint64_t left = AccessPatterns::ChunkStart(kTimingAccesses, members, member + 1) - first;
            std::uint64_t at = first % keys, sum = 0;
            while (left > 0) {
                const std::uint64_t run = std::min(left, keys - at);
                sum += AccessPatterns::CountThroughDigits(
                    As<std::uint32_t>(buffers.keys) + at, run, tables.planCounts.data(),
                    tables.planCounts.data() + EvalCore::PairDetail::kPlanDigits, planBits);
                at = 0;
                left -= run;
            }
            checksum.fetch_add(sum, std::memory_order_relaxed);
        };
        const std::uint64_t leafPasses = PassesFor(leafPairs, kTimingAccesses);
        const auto leafWork = [leafPasses](unsigned member, unsigned members) {
            return AccessPatterns::ChunkStart(leafPasses, members, member + 1) -
                   AccessPatterns::ChunkStart(leafPasses, members, member);
        };
        const Piece counts = [this, leafWork](unsigned member, unsigned members) {
            MemberTables& tables = own[member];
            for (std::uint64_t pass = leafWork(member, members); pass > 0; --pass)
                AccessPatterns::CountLeafDigits(tables.leaf.data(), tables.leaf.size(), tables.counters.data());
        };
        const Piece moves = [this, leafWork](unsigned member, unsigned members) {
            MemberTables& tables = own[member];
            for (std::uint64_t pass = leafWork(member, members); pass > 0; --pass) {
                std::copy(tables.starts.begin(), tables.starts.end(), tables.next.begin());
                AccessPatterns::MoveLeafPairs(tables.leaf.data(), tables.leaf.size(), tables.moved.data(),
                                              tables.next.data());
            }
        };
        const double leafPairsPerTiming = static_cast<double>(leafPasses * leafPairs);
        std::vector<Figure> figures;
        const auto add = [&](double work, double PairRates::*rate, Piece piece) {
            figures.push_back({work, nullptr, nullptr, piece, false, &limits.oneThread, rate});
            if (members > 1) figures.push_back({work, nullptr, nullptr, piece, true, &limits.allCpus, rate});
        };
        add(static_cast<double>(kTimingAccesses), &PairRates::planned, planned);
        add(static_cast<double>(kTimingAccesses), &PairRates::scattered, scatter);
        add(leafPairsPerTiming, &PairRates::counts, counts);
        add(leafPairsPerTiming, &PairRates::moves, moves);
        SlotWindows windows(records, members, kTimingAccesses);
        TakeTurns(figures.data(), figures.data() + figures.size(), windows, kPairRepeats);
        if (members < 2) limits.allCpus = limits.oneThread;
        own.clear();
        return limits;
    }

private:
    // One member's tables for the key-carrying sort's figures: its write
    // fronts and a leaf of random pairs with the starts of their low digit.
    struct MemberTables {
        static constexpr unsigned kFrontBits = 12;  // kMaxBuckets fronts
        static_assert(std::size_t{1} << kFrontBits == EvalCore::PairDetail::kMaxBuckets);
        std::vector<std::uint64_t> lines;  // one more line than the fronts, for alignment
        std::vector<std::uint8_t> filled;
        std::vector<std::uint64_t> written;
        std::uint64_t source = 0;  // the next key the scatter reads
        std::vector<std::uint32_t> planCounts;
        std::vector<std::uint64_t> leaf, moved;
        std::vector<std::uint32_t> counters, starts, next;

        explicit MemberTables(std::size_t leafPairs)
            : lines((std::size_t{1} << kFrontBits) * 8 + 8),
              filled(std::size_t{1} << kFrontBits),
              written(std::size_t{1} << kFrontBits),
              planCounts(2 * EvalCore::PairDetail::kPlanDigits),
              leaf(leafPairs),
              moved(leafPairs),
              counters(2 << EvalCore::PairDetail::kLeafDigitBits),
              starts(1 << EvalCore::PairDetail::kLeafDigitBits),
              next(1 << EvalCore::PairDetail::kLeafDigitBits) {
            std::uint64_t state = leafPairs;
            for (std::uint64_t& pair : leaf) {
                // splitmix64: any well-spread words do.
                std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
                pair = z ^ (z >> 31);
            }
            AccessPatterns::CountLeafDigits(leaf.data(), leaf.size(), counters.data());
            std::uint32_t sum = 0;
            for (std::size_t d = 0; d < starts.size(); ++d) {
                starts[d] = sum;
                sum += counters[d];
            }
        }

        AccessPatterns::LineFronts Fronts() {
            const auto address = reinterpret_cast<std::uintptr_t>(lines.data());
            const std::size_t skip = (64 - address % 64) % 64 / sizeof(std::uint64_t);
            return {lines.data() + skip, filled.data(), written.data(), kFrontBits};
        }
    };

    struct Figure {
        double work;  // bytes or accesses of one timing
        AccessRates* rates;
        double AccessRates::*rate;
        Piece piece;
        bool allCpus;
        PairRates* pairRates = nullptr;  // a pair figure's, instead of `rates`
        double PairRates::*pairRate = nullptr;
    };

    void TakeTurns(Figure* first, Figure* last, SlotWindows& windows, unsigned timesRepeats = 1) {
        std::vector<double> best(static_cast<std::size_t>(last - first), std::numeric_limits<double>::infinity());
        for (unsigned repeat = 0; repeat < repeats * timesRepeats; ++repeat)
            for (Figure* figure = first; figure != last; ++figure) {
                firstWindow = windows.Take();
                double& fastest = best[static_cast<std::size_t>(figure - first)];
                fastest = std::min(fastest, TimeFigure(*figure));
            }
        for (Figure* figure = first; figure != last; ++figure) {
            const double rate = figure->work / best[static_cast<std::size_t>(figure - first)];
            if (figure->pairRates != nullptr)
                figure->pairRates->*figure->pairRate = rate;
            else
                figure->rates->*figure->rate = rate;
        }
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
    std::vector<MemberTables> own;  // while the pair figures are timed
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

PairLimits TimePairFigures(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t records) {
    return ArrayProbe(buffers, team, repeats).MeasurePairs(records);
}

#include "driver/sorters/Peers.h"

#include <algorithm>
#include <thread>

std::vector<Peer> AllPeers() {
    std::vector<Peer> all;
    for (const PeerFacts& facts : kPeers) all.push_back(facts.peer);
    return all;
}

unsigned ParallelPeerThreads(int onlineCpus) {
    if (onlineCpus > 0) return static_cast<unsigned>(onlineCpus);
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned PeerThreadCount(Peer peer, unsigned parallelThreads) {
    return FactsOf(peer).threads == PeerThreads::One ? 1 : parallelThreads;
}

std::uint64_t PeerScratchBytes(Peer peer, std::uint64_t count, std::uint64_t keyBytes) {
    const PeerFacts& facts = FactsOf(peer);
    return count * (keyBytes == 4 ? facts.scratchPerRecord4 : facts.scratchPerRecord8);
}

std::uint64_t PeerLeakBytes(Peer peer, std::uint64_t count) { return count * FactsOf(peer).leakPerRecordPerSort; }

bool ParsePeerList(const std::string& list, std::vector<Peer>& out, std::string& error, std::string* repeated) {
    out.clear();
    if (repeated != nullptr) repeated->clear();
    const auto fail = [&error](const std::string& problem) {
        error = "-PEERS: " + problem + "; valid names: ";
        for (const PeerFacts& facts : kPeers) error += std::string(facts.name) + ", ";
        error += "all";
        return false;
    };
    if (list.empty()) return fail("empty peer list");
    std::vector<bool> named(kPeers.size(), false);
    std::vector<bool> listed(kPeers.size(), false);
    bool all = false;
    bool allRepeated = false;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name.empty()) return fail("empty peer name in '" + list + "'");
        if (name == "all") {
            allRepeated = allRepeated || all;
            all = true;
        } else {
            const auto known = std::find_if(kPeers.begin(), kPeers.end(),
                                            [&name](const PeerFacts& facts) { return name == facts.name; });
            if (known == kPeers.end()) return fail("unknown peer '" + name + "'");
            const auto index = static_cast<std::size_t>(known - kPeers.begin());
            if (named[index]) listed[index] = true;
            named[index] = true;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (std::size_t i = 0; i < kPeers.size(); ++i) {
        if (named[i] || all) out.push_back(kPeers[i].peer);
        // A name beside "all" runs once too.
        const bool again = listed[i] || (all && named[i]);
        if (again && repeated != nullptr) *repeated += (repeated->empty() ? "" : ", ") + std::string(kPeers[i].name);
    }
    if (allRepeated && repeated != nullptr) *repeated += (repeated->empty() ? "" : ", ") + std::string("all");
    return true;
}

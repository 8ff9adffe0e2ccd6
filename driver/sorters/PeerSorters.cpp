#include "driver/sorters/PeerSorters.h"

#include "driver/sorters/PeerScratchState.h"

PeerScratch::PeerScratch() : state(std::make_unique<State>()) {}
PeerScratch::PeerScratch(PeerScratch&&) noexcept = default;
PeerScratch& PeerScratch::operator=(PeerScratch&&) noexcept = default;
PeerScratch::~PeerScratch() = default;

void PeerScratch::Release() { state->pairs.Clear(); }

std::uint64_t PeerScratch::Bytes() const { return state->pairs.size; }

PeerScratch::State& PeerScratch::Inside() { return *state; }

std::uint64_t PeerPairBytes(std::uint64_t count, std::uint64_t keyBytes) {
    return count * (keyBytes == 4 ? sizeof(std::uint64_t) : sizeof(unsigned __int128));
}

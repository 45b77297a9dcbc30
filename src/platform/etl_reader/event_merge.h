// Delivery of the events of all processors oldest first: a k-way merge of the
// per-processor streams by raw time stamp, through a tournament tree of
// losers. In a busy trace the processors take turns every event or two, so
// the next event is rarely the same stream's: the tree finds it in log2(k)
// comparisons without a branch, where scanning every head takes k - 1.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/etl_reader/processor_stream.h"

namespace dormiscope {

// The order key of a stream's next event as one unsigned number: the stamp
// (its sign bit flipped, so that unsigned order is the stamp's order) above
// the rank. The rank is the processor, so equal stamps go to the lower
// processor first; a stream at its end ranks after every event, its rank
// above any processor keeping the keys of different streams distinct.
__extension__ using MergeKey = unsigned __int128;

inline constexpr std::uint64_t kLastProcessorRank = std::numeric_limits<std::uint16_t>::max();

inline MergeKey KeyOf(std::int64_t time, std::uint64_t rank) {
    return (MergeKey{static_cast<std::uint64_t>(time) ^ (std::uint64_t{1} << 63)} << 64) | rank;
}

inline bool Ended(MergeKey key) {
    return static_cast<std::uint64_t>(key) > kLastProcessorRank;
}

// Calls `deliver(const ProcessorStream&)` for every event of every stream, the
// stream standing at it, in time order; each stream's own order is kept. A stream that fails ends there and
// the others go on, so every event before the damage in each stream is
// delivered; the first such failure is returned at the end. A non-zero status
// of `deliver` stops everything at once and is returned.
template <typename Deliver>
ULONG MergeStreams(std::span<ProcessorStream> streams, Deliver&& deliver) {
    ULONG first_failure = ERROR_SUCCESS;
    // Leaves beyond the streams, and streams that ended, hold an ended key.
    const std::size_t leaves = std::bit_ceil(std::max<std::size_t>(streams.size(), 1));
    const auto ended = [](std::size_t leaf) {
        return KeyOf(std::numeric_limits<std::int64_t>::max(), kLastProcessorRank + 1 + leaf);
    };
    const auto advance = [&](std::size_t leaf) {
        ProcessorStream& stream = streams[leaf];
        const ULONG status = stream.Advance();
        if (status != ERROR_SUCCESS && first_failure == ERROR_SUCCESS) {
            first_failure = status;
        }
        return stream.HasEvent() ? KeyOf(stream.RawTime(), stream.Processor()) : ended(leaf);
    };
    std::vector<MergeKey> keys(leaves);
    for (std::size_t leaf = 0; leaf < leaves; ++leaf) {
        keys[leaf] = leaf < streams.size() ? advance(leaf) : ended(leaf);
    }
    // losers[node] is the leaf that lost the match played at that inner node
    // (nodes 1 .. leaves-1, children 2n and 2n+1, leaf i at node leaves+i).
    std::vector<std::uint32_t> losers(leaves);
    std::uint32_t winner = 0;
    {
        std::vector<std::uint32_t> winners(2 * leaves);
        for (std::size_t leaf = 0; leaf < leaves; ++leaf) {
            winners[leaves + leaf] = static_cast<std::uint32_t>(leaf);
        }
        for (std::size_t node = leaves - 1; node >= 1; --node) {
            const std::uint32_t left = winners[2 * node];
            const std::uint32_t right = winners[2 * node + 1];
            const bool left_loses = keys[left] > keys[right];
            losers[node] = left_loses ? left : right;
            winners[node] = left_loses ? right : left;
        }
        winner = winners[1];
    }
    MergeKey winning = keys[winner];
    while (!Ended(winning)) {
        if (const ULONG status = deliver(streams[winner]); status != ERROR_SUCCESS) {
            return status;
        }
        winning = advance(winner);
        keys[winner] = winning;
        // Replays the winner's path to the root against the losers stored on
        // it. Which side wins is a coin toss in a busy trace: selected by
        // masks, since a branch would be mispredicted half the time.
        for (std::size_t node = (leaves + winner) / 2; node >= 1; node /= 2) {
            const std::uint32_t loser = losers[node];
            const MergeKey challenger = keys[loser];
            const bool winner_loses = winning > challenger;
            const std::uint32_t mask = 0U - static_cast<std::uint32_t>(winner_loses);
            const MergeKey wide_mask = MergeKey{0} - static_cast<MergeKey>(winner_loses);
            losers[node] = loser ^ ((loser ^ winner) & mask);
            winner ^= (winner ^ loser) & mask;
            winning ^= (winning ^ challenger) & wide_mask;
        }
    }
    return first_failure;
}

}  // namespace dormiscope

// The periodic-disturbance computation of one thread exactly as its algorithm
// is written: every one of the 10 000 rounds, every period against every
// centroid. The reference the fast clustering is checked and measured against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "model/histogram.h"

namespace dormiscope::literal {

struct ClusterResult {
    std::vector<double> centroids;
    std::vector<std::size_t> assignment;
};

// How CentroidsEqual runs its `equal`. The algorithm runs it in parallel; the
// predicate is pure, so running it in sequence changes only the time taken
// (about 1.5 µs of thread hand-over per round, most of a small set's cost).
enum class EqualPolicy { Parallel, Sequential };

// Clusters around the eleven seed periods, 10 000 rounds at most, tolerance 2 ms.
ClusterResult Cluster(const std::vector<std::uint64_t>& periods, EqualPolicy policy = EqualPolicy::Parallel);

struct ThreadResult {
    ClusterResult clusters;
    HISTOGRAM histogram;
    std::set<std::int64_t> significant_periods;
};

// Cluster map, histogram and significant periods of a thread with more than
// eleven periods (the caller checks the count).
ThreadResult ComputeThread(const std::vector<std::uint64_t>& periods,
                           EqualPolicy policy = EqualPolicy::Parallel);

}  // namespace dormiscope::literal

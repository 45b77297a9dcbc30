// One-dimensional k-means over a thread's off-processor periods: eleven fixed
// seed periods, centroids within the tolerance of another or left without
// periods dropped, the survivors becoming the buckets of a period histogram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "model/histogram.h"

namespace dormiscope {

// The seed periods in 100-ns units: 1, 4, 8, 10, 15, 20, 30, 50, 100, 500 and 1000 ms.
inline constexpr std::array<double, 11> seed_centroids = {
    10000.0, 40000.0, 80000.0, 100000.0, 150000.0, 200000.0,
    300000.0, 500000.0, 1000000.0, 5000000.0, 10000000.0};

// Centroid value → the periods grouped with it, ascending (an ordered multiset
// kept as a sorted array: a node per period costs seconds for a busy thread);
// every dropped centroid shares the positive-infinity key.
using ClusterMap = std::map<double, std::vector<std::uint64_t>>;

class KMeans {
public:
    // Copies the seeds and sorts the copy ascending.
    explicit KMeans(std::span<const double> seeds);

    // Final centroids in seed order (positive infinity marks a dropped one) and,
    // per period, the index of the centroid it joined in the last iteration.
    // The result is exactly that of the plain loop of max_iterations rounds,
    // each assigning every period to its nearest centroid; it is reached by
    // stopping once a round reproduces its centroids bit for bit.
    void Cluster(const std::vector<std::uint64_t>& periods, std::vector<double>& final_centroids,
                 std::vector<std::size_t>& assignment) const;

    void BuildClusterMap(const std::vector<std::uint64_t>& periods, ClusterMap& cluster_map) const;

    std::vector<double> centroids;
    std::int32_t max_iterations = 10000;
    double tolerance = 20000.0;
};

// Each of the first k centroids becomes the mean of the periods assigned to it
// (summed in period order), or positive infinity when none is.
void UpdateCentroids(const std::vector<std::uint64_t>& periods, const std::vector<std::size_t>& assignment,
                     std::vector<double>& centroids, std::size_t k);

// Drops (sets to positive infinity) every centroid within the tolerance of
// another one still present; of two such centroids the lower index goes.
void DropNearDuplicates(std::vector<double>& centroids, double tolerance);

// True when every pair of centroids at the same index lies within the
// tolerance; a dropped centroid never compares equal.
bool CentroidsEqual(const std::vector<double>& a, const std::vector<double>& b, double tolerance);

// One bucket per finite centroid: its value in whole milliseconds, counting the
// periods grouped with it.
void ToHistogram(const ClusterMap& cluster_map, HISTOGRAM& histogram);

}  // namespace dormiscope

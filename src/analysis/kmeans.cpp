#include "analysis/kmeans.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "analysis/period_sort.h"

namespace dormiscope {

namespace {

constexpr double kDropped = std::numeric_limits<double>::infinity();

// Rounds over sorted periods give the very doubles of rounds in period order when
// (1) all periods together sum to at most 2^53: every partial sum is then an
// exact integer in double, whatever the order of addition, and a mean is one
// rounded division, lying between the smallest and largest of its periods; so
// finite centroids stay ascending by index and at least 1 apart (their periods
// are distinct integers); and (2) periods and centroids stay below 2^50, where
// a distance is rounded by at most 1/8: a centroid farther by 1 or more stays
// strictly farther after rounding. Each period then goes to one of the two
// centroids around it, and each centroid takes a contiguous run of periods.
constexpr std::uint64_t kLargestSortablePeriod = std::uint64_t{1} << 50;
constexpr double kLargestSortableCentroid = 1125899906842624.0;  // 2^50
constexpr std::uint64_t kLargestExactSum = std::uint64_t{1} << 53;

bool BitwiseEqual(const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
        return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    });
}

// The loop of rounds. While any centroid is finite a round's outcome depends on
// the centroids alone (with none finite, no period is left to move), so a round
// that leaves them bit-identical would be repeated unchanged by every later
// one: stopping there gives the same centroids and assignment as running on to
// max_iterations.
template <typename Round>
void RunRounds(std::vector<double>& current, std::int32_t max_iterations, double tolerance, Round round) {
    std::vector<double> previous(current.size(), 0.0);
    for (std::int32_t iteration = 0; iteration < max_iterations; ++iteration) {
        if (CentroidsEqual(current, previous, tolerance)) {
            return;
        }
        previous = current;
        round(current);
        DropNearDuplicates(current, tolerance);
        if (BitwiseEqual(current, previous)) {
            return;
        }
    }
}

// Whether the periods and the starting centroids meet the bounds above.
bool SortedRoundsAreExact(const std::vector<double>& centroids, const std::vector<std::uint64_t>& periods) {
    std::uint64_t sum = 0;
    for (const std::uint64_t period : periods) {
        if (period > kLargestSortablePeriod) {
            return false;
        }
        sum += period;
        if (sum > kLargestExactSum) {
            return false;
        }
    }
    for (std::size_t i = 0; i < centroids.size(); ++i) {
        const double centroid = centroids[i];
        if (!(centroid >= 0.0 && centroid <= kLargestSortableCentroid)) {
            return false;
        }
        if (i > 0 && !(centroid - centroids[i - 1] >= 1.0)) {
            return false;
        }
    }
    return true;
}

// The periods of one centroid: a run [begin, end) of the sorted periods.
struct PeriodRange {
    std::size_t centroid;
    std::size_t begin;
    std::size_t end;
};

// With finite centroids ascending by index and at least 1 apart, each period
// goes to one of the two centroids around it, so every centroid receives a
// contiguous run of the sorted periods; the run boundaries are found by binary
// search with the same distance comparison as the plain assignment (a tie
// keeps the lower centroid).
std::vector<PeriodRange> AssignSortedPeriods(const std::vector<double>& current,
                                             const std::vector<std::uint64_t>& sorted_periods) {
    std::vector<PeriodRange> ranges;
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (std::isfinite(current[i])) {
            ranges.push_back({i, 0, 0});
        }
    }
    std::size_t begin = 0;
    for (std::size_t q = 0; q < ranges.size(); ++q) {
        std::size_t end = sorted_periods.size();
        if (q + 1 < ranges.size()) {
            const double lower = current[ranges[q].centroid];
            const double upper = current[ranges[q + 1].centroid];
            const auto first_upper = std::partition_point(
                sorted_periods.begin() + static_cast<std::ptrdiff_t>(begin), sorted_periods.end(),
                [lower, upper](std::uint64_t period) {
                    const auto x = static_cast<double>(period);
                    return !(std::abs(upper - x) < std::abs(lower - x));
                });
            end = static_cast<std::size_t>(first_upper - sorted_periods.begin());
        }
        ranges[q].begin = begin;
        ranges[q].end = end;
        begin = end;
    }
    return ranges;
}

// The rounds over the sorted periods: the runs of the last assignment, which
// cover every period once a round has run.
struct SortedClustering {
    std::vector<std::uint64_t> sorted_periods;
    std::vector<PeriodRange> runs;
    bool assigned = false;
};

SortedClustering ClusterSortedPeriods(const KMeans& kmeans, const std::vector<std::uint64_t>& periods,
                                      std::vector<double>& current) {
    SortedClustering clustering{periods, {}, false};
    const std::vector<std::uint64_t>& sorted_periods = clustering.sorted_periods;
    SortPeriods(clustering.sorted_periods);
    std::vector<std::uint64_t> prefix_sums(sorted_periods.size() + 1, 0);
    for (std::size_t j = 0; j < sorted_periods.size(); ++j) {
        prefix_sums[j + 1] = prefix_sums[j] + sorted_periods[j];
    }

    RunRounds(current, kmeans.max_iterations, kmeans.tolerance, [&](std::vector<double>& centroids) {
        std::vector<PeriodRange> ranges = AssignSortedPeriods(centroids, sorted_periods);
        // With every centroid dropped the periods keep their last centroids.
        if (!ranges.empty() || !clustering.assigned) {
            clustering.runs = std::move(ranges);
        }
        clustering.assigned = true;
        std::fill(centroids.begin(), centroids.end(), kDropped);
        for (const PeriodRange& range : clustering.runs) {
            if (range.end > range.begin) {
                const std::uint64_t sum = prefix_sums[range.end] - prefix_sums[range.begin];
                centroids[range.centroid] =
                    static_cast<double>(sum) / static_cast<double>(range.end - range.begin);
            }
        }
    });
    return clustering;
}

// Equal periods share a centroid, so a period's centroid is that of the last
// run starting at or below it.
void AssignFromRuns(const SortedClustering& clustering, const std::vector<std::uint64_t>& periods,
                    std::vector<std::size_t>& assignment) {
    std::vector<std::uint64_t> run_starts;
    std::vector<std::size_t> run_centroids;
    for (const PeriodRange& range : clustering.runs) {
        if (range.end > range.begin) {
            run_starts.push_back(clustering.sorted_periods[range.begin]);
            run_centroids.push_back(range.centroid);
        }
    }
    assignment.resize(periods.size());
    for (std::size_t j = 0; j < periods.size(); ++j) {
        const auto run = std::upper_bound(run_starts.begin(), run_starts.end(), periods[j]) - run_starts.begin();
        assignment[j] = run_centroids[static_cast<std::size_t>(run - 1)];
    }
}

void AssignInPeriodOrder(const std::vector<double>& current, const std::vector<std::uint64_t>& periods,
                         std::vector<std::size_t>& assignment) {
    assignment.resize(periods.size());
    for (std::size_t j = 0; j < periods.size(); ++j) {
        const auto x = static_cast<double>(periods[j]);
        double best = kDropped;
        for (std::size_t i = 0; i < current.size(); ++i) {
            const double distance = std::abs(current[i] - x);
            if (distance < best) {
                best = distance;
                assignment[j] = i;
            }
        }
    }
}

// For periods whose sums could round: every round in full, in period order.
void ClusterInPeriodOrder(const KMeans& kmeans, const std::vector<std::uint64_t>& periods,
                          std::vector<double>& current, std::vector<std::size_t>& assignment) {
    RunRounds(current, kmeans.max_iterations, kmeans.tolerance, [&](std::vector<double>& centroids) {
        AssignInPeriodOrder(centroids, periods, assignment);
        UpdateCentroids(periods, assignment, centroids, centroids.size());
    });
}

// The centroid truncated to whole 100-ns units. A mean lies between 0 and the
// largest period, but a period near 2^64 rounds up to 2^64 as a double; seeds
// that no round replaced may be anything.
std::uint64_t CentroidToUnits(double centroid) {
    constexpr double kTwoTo64 = 18446744073709551616.0;
    if (!(centroid >= 0.0)) {
        return 0;
    }
    if (centroid >= kTwoTo64) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(centroid);
}

}  // namespace

KMeans::KMeans(std::span<const double> seeds) : centroids(seeds.begin(), seeds.end()) {
    std::sort(centroids.begin(), centroids.end());
}

void KMeans::Cluster(const std::vector<std::uint64_t>& periods, std::vector<double>& final_centroids,
                     std::vector<std::size_t>& assignment) const {
    final_centroids = centroids;
    assignment.clear();
    if (SortedRoundsAreExact(centroids, periods)) {
        const SortedClustering clustering = ClusterSortedPeriods(*this, periods, final_centroids);
        if (clustering.assigned) {
            AssignFromRuns(clustering, periods, assignment);
        }
    } else {
        ClusterInPeriodOrder(*this, periods, final_centroids, assignment);
    }
}

void KMeans::BuildClusterMap(const std::vector<std::uint64_t>& periods, ClusterMap& cluster_map) const {
    cluster_map.clear();
    std::vector<double> final_centroids = centroids;
    if (SortedRoundsAreExact(centroids, periods)) {
        const SortedClustering clustering = ClusterSortedPeriods(*this, periods, final_centroids);
        for (const double centroid : final_centroids) {
            cluster_map[centroid];
        }
        // Runs are ascending and each lies above the one before, so members
        // come out sorted even where runs share a key.
        for (const PeriodRange& run : clustering.runs) {
            std::vector<std::uint64_t>& members = cluster_map[final_centroids[run.centroid]];
            members.insert(members.end(), clustering.sorted_periods.begin() + static_cast<std::ptrdiff_t>(run.begin),
                           clustering.sorted_periods.begin() + static_cast<std::ptrdiff_t>(run.end));
        }
        return;
    }
    std::vector<std::size_t> assignment;
    ClusterInPeriodOrder(*this, periods, final_centroids, assignment);
    std::vector<std::vector<std::uint64_t>*> members_of_centroid;
    for (const double centroid : final_centroids) {
        members_of_centroid.push_back(&cluster_map[centroid]);
    }
    for (std::size_t j = 0; j < assignment.size(); ++j) {
        members_of_centroid[assignment[j]]->push_back(periods[j]);
    }
    for (auto& [centroid, members] : cluster_map) {
        SortPeriods(members);
    }
}

void UpdateCentroids(const std::vector<std::uint64_t>& periods, const std::vector<std::size_t>& assignment,
                     std::vector<double>& centroids, std::size_t k) {
    std::vector<double> sums(k, 0.0);
    std::vector<std::size_t> counts(k, 0);
    for (std::size_t j = 0; j < periods.size(); ++j) {
        sums[assignment[j]] += static_cast<double>(periods[j]);
        ++counts[assignment[j]];
    }
    for (std::size_t i = 0; i < k; ++i) {
        centroids[i] = counts[i] == 0 ? kDropped : sums[i] / static_cast<double>(counts[i]);
    }
}

void DropNearDuplicates(std::vector<double>& centroids, double tolerance) {
    for (std::size_t j = 0; j < centroids.size(); ++j) {
        for (std::size_t i = 0; i < centroids.size(); ++i) {
            if (i != j && std::abs(centroids[j] - centroids[i]) <= tolerance) {
                centroids[j] = kDropped;
                break;
            }
        }
    }
}

bool CentroidsEqual(const std::vector<double>& a, const std::vector<double>& b, double tolerance) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [tolerance](double x, double y) { return tolerance >= std::abs(x - y); });
}

void ToHistogram(const ClusterMap& cluster_map, HISTOGRAM& histogram) {
    HISTOGRAM::BucketMap buckets;
    for (const auto& [centroid, members] : cluster_map) {
        if (std::isinf(centroid)) {
            continue;
        }
        const auto value = static_cast<std::int64_t>(CentroidToUnits(centroid) / 10000);
        buckets.try_emplace(value, value, members.size());
    }
    histogram.SetBuckets(std::move(buckets), L"ms");
}

}  // namespace dormiscope

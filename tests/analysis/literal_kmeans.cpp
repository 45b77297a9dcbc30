#include "literal_kmeans.h"

#include <algorithm>
#include <cmath>
#include <execution>
#include <limits>
#include <map>

namespace dormiscope::literal {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::int32_t kMaxIterations = 10000;
constexpr double kTolerance = 20000.0;

std::vector<double> SortedSeeds() {
    std::vector<double> seeds = {10000.0,  40000.0,  80000.0,   100000.0,  150000.0, 200000.0,
                                 300000.0, 500000.0, 1000000.0, 5000000.0, 10000000.0};
    std::sort(std::execution::par, seeds.begin(), seeds.end());
    return seeds;
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
        centroids[i] = counts[i] == 0 ? kInfinity : sums[i] / static_cast<double>(counts[i]);
    }
}

void DropNearDuplicates(std::vector<double>& centroids, double tolerance) {
    const std::size_t k = centroids.size();
    for (std::size_t j = 0; j < k; ++j) {
        for (std::size_t i = 0; i < k; ++i) {
            if (i == j) {
                continue;
            }
            if (std::abs(centroids[j] - centroids[i]) <= tolerance) {
                centroids[j] = kInfinity;
                break;
            }
        }
    }
}

bool CentroidsEqual(const std::vector<double>& a, const std::vector<double>& b, double tolerance,
                    EqualPolicy policy) {
    const auto within = [tolerance](double x, double y) { return tolerance >= std::abs(x - y); };
    if (policy == EqualPolicy::Parallel) {
        return std::equal(std::execution::par, a.begin(), a.end(), b.begin(), within);
    }
    return std::equal(std::execution::seq, a.begin(), a.end(), b.begin(), within);
}

}  // namespace

ClusterResult Cluster(const std::vector<std::uint64_t>& periods, EqualPolicy policy) {
    std::vector<double> current = SortedSeeds();
    const std::size_t k = current.size();
    std::vector<double> previous(k, 0.0);
    std::vector<std::size_t> assignment;
    for (std::int32_t t = 0; t < kMaxIterations; ++t) {
        if (CentroidsEqual(current, previous, kTolerance, policy)) {
            break;
        }
        previous = current;
        assignment.resize(periods.size());
        for (std::size_t j = 0; j < periods.size(); ++j) {
            const auto x = static_cast<double>(periods[j]);
            double best = kInfinity;
            for (std::size_t i = 0; i < k; ++i) {
                const double d = std::abs(current[i] - x);
                if (d < best) {
                    best = d;
                    assignment[j] = i;
                }
            }
        }
        UpdateCentroids(periods, assignment, current, k);
        DropNearDuplicates(current, kTolerance);
    }
    return {current, assignment};
}

ThreadResult ComputeThread(const std::vector<std::uint64_t>& periods, EqualPolicy policy) {
    ThreadResult result;
    result.clusters = Cluster(periods, policy);

    std::map<double, std::multiset<std::uint64_t>> cluster_map;
    for (const double centroid : result.clusters.centroids) {
        if (cluster_map.find(centroid) == cluster_map.end()) {
            cluster_map[centroid] = {};
        }
    }
    for (std::size_t j = 0; j < periods.size(); ++j) {
        cluster_map[result.clusters.centroids[result.clusters.assignment[j]]].insert(periods[j]);
    }

    HISTOGRAM::BucketMap buckets;
    for (const auto& [centroid, members] : cluster_map) {
        if (std::isinf(centroid)) {
            continue;
        }
        const auto value = static_cast<std::int64_t>(static_cast<std::uint64_t>(centroid) / 10000);
        if (buckets.find(value) == buckets.end()) {
            buckets.emplace(value, BUCKET<std::int64_t>(value, members.size()));
        }
    }
    result.histogram.SetBuckets(buckets, L"ms");
    result.histogram.SelectSignificant(result.significant_periods, 1.0 / 11);
    return result;
}

}  // namespace dormiscope::literal

#include "analysis/periodic_disturbances.h"

#include <algorithm>
#include <execution>
#include <vector>

#include "analysis/kmeans.h"

namespace dormiscope {

void ComputePeriodicDisturbances(std::unordered_map<std::uint64_t, ThreadEntry*>& thread_list) {
    // The parallel algorithms run serially over the map's forward iterators, so
    // the entries are walked through a random-access list of their addresses.
    // Each step writes only its own ThreadEntry and needs no lock.
    std::vector<std::pair<const std::uint64_t, ThreadEntry*>*> entries;
    entries.reserve(thread_list.size());
    for (auto& entry : thread_list) {
        entries.push_back(&entry);
    }
    std::for_each(std::execution::par, entries.begin(), entries.end(),
                  [](std::pair<const std::uint64_t, ThreadEntry*>* entry) { ComputeThreadHistogram(*entry); });
}

void ComputeThreadHistogram(std::pair<const std::uint64_t, ThreadEntry*>& entry) {
    ThreadEntry& thread = *entry.second;
    const KMeans kmeans(seed_centroids);
    if (thread.periods.size() <= seed_centroids.size()) {
        return;
    }
    ClusterMap cluster_map;
    kmeans.BuildClusterMap(thread.periods, cluster_map);
    ToHistogram(cluster_map, thread.period_histogram);
    thread.period_histogram.SelectSignificant(thread.significant_periods,
                                              1.0 / static_cast<double>(seed_centroids.size()));
}

}  // namespace dormiscope

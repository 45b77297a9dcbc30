#include "model/histogram.h"

#include <utility>

namespace dormiscope {

void HISTOGRAM::SetBuckets(BucketMap new_buckets, std::wstring new_unit) {
    total = 0;
    buckets = std::move(new_buckets);
    unit = std::move(new_unit);
    for (const auto& [value, bucket] : buckets) {
        total += bucket.count;
    }
}

void HISTOGRAM::SelectSignificant(std::set<std::int64_t>& significant, double fraction) const {
    significant.clear();
    const auto threshold = static_cast<std::uint64_t>(static_cast<double>(total) * fraction);
    for (const auto& [value, bucket] : buckets) {
        if (bucket.count >= threshold) {
            significant.insert(bucket.value);
        }
    }
}

}  // namespace dormiscope

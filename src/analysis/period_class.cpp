#include "analysis/period_class.h"

#include <array>
#include <utility>

namespace dormiscope {

namespace {

// Upper bound of each class's bucket values, searched from the top.
constexpr std::array<std::pair<std::int64_t, std::int64_t>, 11> kClassBounds = {{
    {2, 1}, {5, 4}, {8, 8}, {12, 10}, {16, 15}, {30, 20},
    {35, 30}, {60, 50}, {300, 100}, {600, 500}, {5000, 1000},
}};
constexpr std::int64_t kLargestClass = 10000;

// The product wraps like the two's-complement narrowing of the 64-bit product,
// without signed overflow.
std::int32_t WeightAsInt32(std::uint64_t count, std::int64_t period_class) {
    return static_cast<std::int32_t>(count * static_cast<std::uint64_t>(period_class));
}

}  // namespace

std::int64_t PeriodClass(std::int64_t bucket_value) {
    for (const auto& [bound, period_class] : kClassBounds) {
        if (bucket_value <= bound) {
            return period_class;
        }
    }
    return kLargestClass;
}

BucketClasses ClassifyBuckets(const HISTOGRAM::BucketMap& buckets) {
    BucketClasses result;
    std::int32_t best = 0;
    for (const auto& [value, bucket] : buckets) {
        const std::int64_t period_class = PeriodClass(bucket.value);
        result.class_bins[period_class] += bucket.count;
        const std::int32_t weight = WeightAsInt32(bucket.count, period_class);
        if (weight > best) {
            best = weight;
            result.periodicity = static_cast<std::int32_t>(period_class);
        }
    }
    return result;
}

}  // namespace dormiscope

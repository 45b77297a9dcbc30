// Snapping of a thread's buckets to nominal period classes, and the class that
// names the thread's periodicity.
#pragma once

#include <cstdint>
#include <map>

#include "model/histogram.h"

namespace dormiscope {

// The nominal class (1, 4, 8, 10, 15, 20, 30, 50, 100, 500, 1000 or 10000 ms)
// of a bucket value in milliseconds.
std::int64_t PeriodClass(std::int64_t bucket_value);

struct BucketClasses {
    // Class → summed bucket counts; only classes that received a bucket.
    std::map<std::int64_t, std::uint64_t> class_bins;
    // The class of the bucket whose count times its class, taken as a signed
    // 32-bit number, is largest and positive (the lower bucket on ties); 0 when
    // no bucket's product is positive.
    std::int32_t periodicity = 0;
};

BucketClasses ClassifyBuckets(const HISTOGRAM::BucketMap& buckets);

}  // namespace dormiscope

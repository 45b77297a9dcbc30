// A thread's period histogram: buckets of representative periods (whole
// milliseconds) with the number of off-processor intervals each one counts.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace dormiscope {

template <typename T>
class BUCKET {
public:
    BUCKET(T value, std::uint64_t count) : value(value), count(count) {}
    virtual void Increment() { ++count; }
    virtual ~BUCKET() = default;
    BUCKET(const BUCKET&) = default;
    BUCKET& operator=(const BUCKET&) = default;

    T value;
    std::uint64_t count;
};

class HISTOGRAM {
public:
    using BucketMap = std::map<std::int64_t, BUCKET<std::int64_t>>;

    // Replaces every bucket and recomputes the total.
    void SetBuckets(BucketMap new_buckets, std::wstring new_unit);
    std::uint64_t GetNumBuckets() const { return buckets.size(); }
    // Values of the buckets holding at least trunc(total × fraction) periods.
    void SelectSignificant(std::set<std::int64_t>& significant, double fraction) const;

    const BucketMap& Buckets() const { return buckets; }
    std::uint64_t Total() const { return total; }
    const std::wstring& Unit() const { return unit; }

private:
    BucketMap buckets;
    std::uint64_t total = 0;
    std::wstring unit;
};

}  // namespace dormiscope

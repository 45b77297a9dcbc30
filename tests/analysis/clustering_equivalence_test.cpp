// The fast clustering against the literal algorithm: final centroids bit for
// bit (infinities included), assignment, buckets and significant periods.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/kmeans.h"
#include "literal_kmeans.h"

namespace dormiscope {
namespace {

using Periods = std::vector<std::uint64_t>;

constexpr std::uint64_t kMinPeriod = 10000;
constexpr std::uint64_t kMaxPeriod = 10000000;

std::uint64_t Uniform(std::mt19937_64& random, std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
}

std::size_t Count(std::mt19937_64& random, std::size_t low, std::size_t high) {
    return static_cast<std::size_t>(Uniform(random, low, high));
}

Periods UniformPeriods(std::mt19937_64& random) {
    Periods periods(Count(random, 12, 20));
    for (auto& period : periods) {
        period = Uniform(random, kMinPeriod, kMaxPeriod);
    }
    return periods;
}

// Most real periods are short: spread them evenly over the decades.
Periods LogUniformPeriods(std::mt19937_64& random) {
    Periods periods(Count(random, 12, 20));
    std::uniform_real_distribution<double> exponent(4.0, 7.0);
    for (auto& period : periods) {
        period = static_cast<std::uint64_t>(std::pow(10.0, exponent(random)));
    }
    return periods;
}

// A few distinct values repeated, as a timer-driven thread produces.
Periods FewValues(std::mt19937_64& random) {
    Periods values(Count(random, 1, 4));
    for (auto& value : values) {
        value = Uniform(random, kMinPeriod, 1200000);
    }
    Periods periods(Count(random, 12, 24));
    for (auto& period : periods) {
        period = values[Count(random, 0, values.size() - 1)];
    }
    return periods;
}

constexpr std::uint64_t kGroupCentres[] = {10000,  40000,  75000,   110000,  150000, 200000,
                                           300000, 500000, 1000000, 5000000, 10000000};

// Periods near every seed keep all eleven centroids alive, so the literal loop
// stops early on CentroidsEqual, usually before its centroids have settled.
Periods AroundEverySeed(std::mt19937_64& random) {
    const std::uint64_t spread = Uniform(random, 0, 5000);
    Periods periods;
    for (const std::uint64_t centre : kGroupCentres) {
        const std::size_t copies = Count(random, 1, 3);
        for (std::size_t i = 0; i < copies; ++i) {
            periods.push_back(centre - spread + Uniform(random, 0, 2 * spread));
        }
    }
    std::shuffle(periods.begin(), periods.end(), random);
    return periods;
}

// As above, with groups of equal periods and a few periods exactly halfway
// between two neighbouring groups.
Periods HalfwayBetweenLiveGroups(std::mt19937_64& random) {
    Periods periods;
    for (const std::uint64_t centre : kGroupCentres) {
        periods.insert(periods.end(), Count(random, 1, 3), centre);
    }
    const std::size_t extra = Count(random, 1, 3);
    for (std::size_t i = 0; i < extra; ++i) {
        const std::size_t group = Count(random, 0, 9);
        periods.push_back((kGroupCentres[group] + kGroupCentres[group + 1]) / 2);
    }
    std::shuffle(periods.begin(), periods.end(), random);
    return periods;
}

// Periods exactly halfway between two seeds, or between two groups.
Periods Halfway(std::mt19937_64& random) {
    static constexpr std::uint64_t kSeeds[] = {10000,  40000,  80000,   100000,  150000, 200000,
                                               300000, 500000, 1000000, 5000000, 10000000};
    Periods periods;
    const std::size_t n = Count(random, 12, 16);
    const std::uint64_t low = Uniform(random, kMinPeriod, 2000000) * 2;
    const std::uint64_t gap = Uniform(random, 1, 40000) * 2;
    while (periods.size() < n) {
        switch (Count(random, 0, 2)) {
        case 0: {
            const std::size_t i = Count(random, 0, 9);
            periods.push_back((kSeeds[i] + kSeeds[i + 1]) / 2);
            break;
        }
        case 1:
            periods.push_back(low);
            periods.push_back(low + gap);
            break;
        default:
            periods.push_back(low + gap / 2);
        }
    }
    std::shuffle(periods.begin(), periods.end(), random);
    return periods;
}

// Two groups whose means end 20000 apart, give or take one.
Periods TwoMillisecondsApart(std::mt19937_64& random) {
    const std::uint64_t low = Uniform(random, kMinPeriod, 3000000);
    const std::uint64_t high = low + 20000 + Uniform(random, 0, 2) - 1;
    Periods periods(Count(random, 6, 8), low);
    periods.insert(periods.end(), Count(random, 6, 8), high);
    std::shuffle(periods.begin(), periods.end(), random);
    return periods;
}

Periods TwelveEqual(std::mt19937_64& random) {
    return Periods(12, Uniform(random, kMinPeriod, kMaxPeriod));
}

Periods AllEqual(std::mt19937_64& random) {
    return Periods(Count(random, 12, 30), Uniform(random, 0, kMaxPeriod));
}

// Beyond the range where sorting is exact: the clustering takes the long way.
Periods HugePeriods(std::mt19937_64& random) {
    Periods periods(Count(random, 12, 16));
    for (auto& period : periods) {
        period = Count(random, 0, 3) == 0 ? Uniform(random, 0, kMaxPeriod)
                                          : Uniform(random, std::uint64_t{1} << 49, std::uint64_t{1} << 62);
    }
    return periods;
}

struct Outcome {
    std::vector<std::uint64_t> centroid_bits;
    std::vector<std::size_t> assignment;
    std::map<std::int64_t, std::uint64_t> buckets;
    std::set<std::int64_t> significant;
    bool operator==(const Outcome&) const = default;
};

std::vector<std::uint64_t> Bits(const std::vector<double>& centroids) {
    std::vector<std::uint64_t> bits;
    for (const double centroid : centroids) {
        bits.push_back(std::bit_cast<std::uint64_t>(centroid));
    }
    return bits;
}

std::map<std::int64_t, std::uint64_t> Counts(const HISTOGRAM& histogram) {
    std::map<std::int64_t, std::uint64_t> counts;
    for (const auto& [value, bucket] : histogram.Buckets()) {
        counts[value] = bucket.count;
    }
    return counts;
}

Outcome FastOutcome(const Periods& periods) {
    const KMeans kmeans(seed_centroids);
    Outcome outcome;
    std::vector<double> centroids;
    kmeans.Cluster(periods, centroids, outcome.assignment);
    outcome.centroid_bits = Bits(centroids);
    ClusterMap cluster_map;
    kmeans.BuildClusterMap(periods, cluster_map);
    HISTOGRAM histogram;
    ToHistogram(cluster_map, histogram);
    histogram.SelectSignificant(outcome.significant, 1.0 / 11);
    outcome.buckets = Counts(histogram);
    return outcome;
}

Outcome LiteralOutcome(const Periods& periods, literal::EqualPolicy policy) {
    const literal::ThreadResult result = literal::ComputeThread(periods, policy);
    return {Bits(result.clusters.centroids), result.clusters.assignment, Counts(result.histogram),
            result.significant_periods};
}

std::string Describe(const Periods& periods) {
    std::string text;
    for (const std::uint64_t period : periods) {
        text += std::to_string(period) + " ";
    }
    return text;
}

struct Family {
    const char* name;
    Periods (*generate)(std::mt19937_64&);
    int sets;
};

constexpr Family kFamilies[] = {
    // Sets that lose a centroid cost the literal loop all 10 000 rounds.
    {"Uniform", UniformPeriods, 150},
    {"LogUniform", LogUniformPeriods, 200},
    {"FewValues", FewValues, 150},
    {"Halfway", Halfway, 200},
    {"TwoMillisecondsApart", TwoMillisecondsApart, 150},
    {"TwelveEqual", TwelveEqual, 100},
    {"AllEqual", AllEqual, 80},
    {"Huge", HugePeriods, 50},
    // Sets that keep every centroid stop after a few rounds.
    {"AroundEverySeed", AroundEverySeed, 4500},
    {"HalfwayBetweenLiveGroups", HalfwayBetweenLiveGroups, 4500},
};

constexpr int TotalSets() {
    int total = 0;
    for (const Family& family : kFamilies) {
        total += family.sets;
    }
    return total;
}
static_assert(TotalSets() >= 10000);

class ClusteringEquivalenceTest : public testing::TestWithParam<Family> {};

TEST_P(ClusteringEquivalenceTest, FastClusteringEqualsTheLiteralAlgorithm) {
    const Family& family = GetParam();
    std::mt19937_64 random(std::hash<std::string>{}(family.name));
    for (int set = 0; set < family.sets; ++set) {
        const Periods periods = family.generate(random);
        ASSERT_EQ(FastOutcome(periods), LiteralOutcome(periods, literal::EqualPolicy::Sequential))
            << "set " << set << ": " << Describe(periods);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, ClusteringEquivalenceTest, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

TEST(ClusteringEquivalenceLargeTest, AMillionPeriodsEqualTheLiteralAlgorithm) {
    // Every seed keeps its periods, so the literal loop stops after a few rounds.
    std::mt19937_64 random(7);
    Periods periods;
    periods.reserve(1000000);
    while (periods.size() < 1000000) {
        const Periods around = AroundEverySeed(random);
        periods.insert(periods.end(), around.begin(), around.end());
    }
    periods.resize(1000000);
    const Outcome fast = FastOutcome(periods);
    EXPECT_EQ(fast.buckets.size(), 11u);
    EXPECT_TRUE(fast == LiteralOutcome(periods, literal::EqualPolicy::Parallel));
}

}  // namespace
}  // namespace dormiscope

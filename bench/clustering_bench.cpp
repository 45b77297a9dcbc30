// The fast exact clustering against the literal 10 000-round algorithm on the
// same period sets; prints the speed-up for each set size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "analysis/kmeans.h"
#include "literal_kmeans.h"

namespace {

using dormiscope::KMeans;

// Off-processor periods (100-ns units) of two kinds of thread. A busy mixture:
// mostly the 15.6 ms timer tick, some 1 ms and 100 ms timers, a few 1 s ones,
// the rest spread over the whole range, so every seed keeps periods and the
// literal loop stops after a few rounds. A timer thread: the 15.6 ms tick and
// 1 ms wakes only, so seeds are dropped and the literal loop runs all rounds.
enum Kind : std::int64_t { kBusyMixture = 0, kTimerThread = 1 };

std::vector<std::uint64_t> RealisticPeriods(std::size_t count, std::int64_t kind) {
    std::mt19937_64 random(count);
    std::normal_distribution<double> jitter(0.0, 2000.0);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::uniform_real_distribution<double> exponent(4.0, 7.0);
    std::vector<std::uint64_t> periods;
    periods.reserve(count);
    while (periods.size() < count) {
        const double pick = kind == kTimerThread ? share(random) * 0.65 : share(random);
        double period = 0;
        if (pick < 0.45) {
            period = 156250 + jitter(random);
        } else if (pick < 0.65) {
            period = 10000 + std::abs(jitter(random));
        } else if (pick < 0.80) {
            period = 1000000 + jitter(random);
        } else if (pick < 0.85) {
            period = 10000000 - std::abs(jitter(random));
        } else {
            period = std::pow(10.0, exponent(random));
        }
        periods.push_back(static_cast<std::uint64_t>(std::clamp(period, 10000.0, 10000000.0)));
    }
    return periods;
}

void BM_FastClustering(benchmark::State& state) {
    const auto periods = RealisticPeriods(static_cast<std::size_t>(state.range(0)), state.range(1));
    const KMeans kmeans(dormiscope::seed_centroids);
    std::vector<double> centroids;
    std::vector<std::size_t> assignment;
    for (auto _ : state) {
        kmeans.Cluster(periods, centroids, assignment);
        benchmark::DoNotOptimize(centroids.data());
        benchmark::DoNotOptimize(assignment.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LiteralClustering(benchmark::State& state) {
    const auto periods = RealisticPeriods(static_cast<std::size_t>(state.range(0)), state.range(1));
    for (auto _ : state) {
        auto result = dormiscope::literal::Cluster(periods);
        benchmark::DoNotOptimize(result.centroids.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_FastClustering)
    ->ArgsProduct({{100, 1000, 10000}, {kBusyMixture, kTimerThread}})
    ->ArgNames({"periods", "timer"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiteralClustering)
    ->ArgsProduct({{100, 1000, 10000}, {kBusyMixture, kTimerThread}})
    ->ArgNames({"periods", "timer"})
    ->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration and prints the literal/fast ratio per set.
class SpeedUpReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                seconds_[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, fast] : seconds_) {
            const std::string prefix = "BM_FastClustering/";
            if (name.rfind(prefix, 0) != 0) {
                continue;
            }
            const std::string size = name.substr(prefix.size());
            const auto literal = seconds_.find("BM_LiteralClustering/" + size);
            if (literal != seconds_.end() && fast > 0) {
                std::printf("Speed-up of the fast clustering over the literal one, %s: %.0fx\n",
                            size.c_str(), literal->second / fast);
            }
        }
    }

private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SpeedUpReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

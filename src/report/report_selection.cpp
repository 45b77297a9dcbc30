#include "report/report_selection.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <utility>

namespace dormiscope {
namespace {

// Smallest significant period over the process's threads, compared unsigned;
// a process without any comes last.
std::uint64_t ProcessOrderKey(const ProcessEntry& process) {
    std::uint64_t key = std::numeric_limits<std::uint64_t>::max();
    for (const auto& [sequence, thread] : process.threads) {
        for (const std::int64_t period : thread.significant_periods) {
            key = std::min(key, static_cast<std::uint64_t>(period));
        }
    }
    return key;
}

std::int64_t ThreadOrderKey(const ThreadEntry& thread) {
    return thread.significant_periods.empty() ? std::numeric_limits<std::int64_t>::max()
                                              : *thread.significant_periods.begin();
}

std::vector<const ProcessEntry*> ProcessOrder(const TraceModel& model) {
    std::vector<std::pair<std::uint64_t, const ProcessEntry*>> keyed;
    for (const auto& [process_id, process] : model.ProcessList) {
        keyed.emplace_back(ProcessOrderKey(process), &process);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    std::vector<const ProcessEntry*> order;
    for (const auto& [key, process] : keyed) {
        order.push_back(process);
    }
    return order;
}

std::vector<const ThreadEntry*> ThreadOrder(const ProcessEntry& process) {
    std::vector<const ThreadEntry*> order;
    for (const auto& [sequence, thread] : process.threads) {
        order.push_back(&thread);
    }
    std::stable_sort(order.begin(), order.end(), [](const ThreadEntry* left, const ThreadEntry* right) {
        return ThreadOrderKey(*left) < ThreadOrderKey(*right);
    });
    return order;
}

}  // namespace

std::vector<ProcessSelection> SelectReportedThreads(const TraceModel& model) {
    std::vector<ProcessSelection> selection;
    for (const ProcessEntry* process : ProcessOrder(model)) {
        ProcessSelection& chosen = selection.emplace_back(ProcessSelection{process, {}});
        std::set<std::int64_t> reported_maxima;
        for (const ThreadEntry* thread : ThreadOrder(*process)) {
            // A histogram always yields a significant period; a thread without
            // one has nothing to be reported under.
            ReportVerdict verdict = ReportVerdict::kNotPeriodic;
            if (thread->period_histogram.GetNumBuckets() != 0 && !thread->significant_periods.empty()) {
                verdict = reported_maxima.insert(*thread->significant_periods.rbegin()).second
                              ? ReportVerdict::kWritten
                              : ReportVerdict::kRepeatsLargestPeriod;
            }
            chosen.threads.push_back({thread, verdict});
        }
    }
    return selection;
}

}  // namespace dormiscope

#include "report/report_writer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "analysis/period_class.h"
#include "log/logger.h"
#include "report/name_text.h"

namespace dormiscope {

namespace {

// The same bytes on every system: no text-mode translation is relied on.
void EndLine(std::wostream& out) {
    out << L"\r\n" << std::flush;
}

std::wstring Spaces(std::size_t count) {
    return std::wstring(count, L' ');
}

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

void WriteProcessHeader(std::wostream& out, const ProcessEntry& process, bool& first_process) {
    if (first_process) {
        first_process = false;
        out << Spaces(13) << L'{';
    } else {
        out << L',';
        EndLine(out);
        out << Spaces(14) << L'{';
    }
    EndLine(out);
    out << Spaces(15) << L"\"name\":\"" << JsonStringContent(NameText(process.ImageFileName)) << L"\",";
    EndLine(out);
    out << Spaces(15) << L"\"pid\":\"" << process.ProcessId << L"\",";
    EndLine(out);
    out << Spaces(15) << L"\"buckets\": [";
    EndLine(out);
}

// The thread's entry from its opening brace to its closing brace, without a
// line end after it.
void WriteThread(std::wostream& out, const ThreadEntry& thread) {
    out << Spaces(19) << L'{';
    EndLine(out);
    const HISTOGRAM::BucketMap histogram_map = thread.period_histogram.Buckets();
    Logger::Instance().Stream(LEVEL_DEBUG) << " histogram_map :" << static_cast<std::uint64_t>(histogram_map.size())
                                           << "Thread ID" << thread.TThreadId << "\n";
    const BucketClasses classes = ClassifyBuckets(histogram_map);

    out << Spaces(20) << L"\"threadID\":\"" << thread.TThreadId << L"\",";
    EndLine(out);
    out << Spaces(20) << L"\"periodicity\":\"" << classes.periodicity << L"ms\",";
    EndLine(out);
    out << Spaces(20) << L"\"histogram\": [";
    EndLine(out);
    bool first_entry = true;
    for (const auto& [period_class, count] : classes.class_bins) {
        if (!first_entry) {
            out << L',';
            EndLine(out);
        }
        first_entry = false;
        // The count is written as its low 32 bits, signed.
        out << Spaces(34) << L"{\"" << period_class << L" ms\": " << static_cast<std::int32_t>(count) << L'}';
    }
    out << Spaces(20);
    EndLine(out);
    out << Spaces(32) << L']';
    EndLine(out);
    out << Spaces(19) << L'}';
}

}  // namespace

std::wostream& WriteReport(std::wostream& out, const TraceModel& model) {
    out << L"{\"processes\":" << L'[';
    EndLine(out);
    bool first_process = true;
    for (const ProcessEntry* process : ProcessOrder(model)) {
        bool header_pending = true;
        bool first_thread = true;
        bool process_opened = false;
        std::set<std::int64_t> reported_maxima;
        for (const ThreadEntry* thread : ThreadOrder(*process)) {
            Logger::Instance().Stream(LEVEL_DEBUG) << "Generating Histogram for TThreadId :" << thread->TThreadId
                                                   << "\n";
            Logger::Instance().Stream(LEVEL_DEBUG) << "thread_entry.period_histogram.GetNumBuckets() :"
                                                   << thread->period_histogram.GetNumBuckets() << "\n";
            // A histogram always yields a significant period; a thread without
            // one has nothing to be reported under.
            if (thread->period_histogram.GetNumBuckets() == 0 || thread->significant_periods.empty()) {
                continue;
            }
            if (header_pending) {
                WriteProcessHeader(out, *process, first_process);
                header_pending = false;
            }
            if (!reported_maxima.insert(*thread->significant_periods.rbegin()).second) {
                process_opened = true;
                continue;
            }
            if (first_thread) {
                first_thread = false;
            } else {
                out << L',';
                EndLine(out);
            }
            WriteThread(out, *thread);
            process_opened = true;
        }
        if (process_opened) {
            EndLine(out);
            out << Spaces(19) << L']';
            EndLine(out);
            out << Spaces(11) << L'}';
        }
    }
    out << L']';
    EndLine(out);
    out << L'}';
    EndLine(out);
    return out;
}

}  // namespace dormiscope

#include "view/wake_figures.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "analysis/period_class.h"
#include "report/name_text.h"
#include "report/report_selection.h"

namespace dormiscope::view {
namespace {

constexpr std::uint32_t kIdleThreadId = 0;

double PerSecond(std::uint64_t count, std::uint64_t duration) {
    return duration == 0 ? 0.0 : static_cast<double>(count) * 1e7 / static_cast<double>(duration);
}

std::wstring ProcessName(const TraceModel& model, std::uint32_t process_id) {
    const auto found = model.ProcessIndex.find(process_id);
    return found == model.ProcessIndex.end() ? std::wstring() : NameText(found->second->ImageFileName);
}

std::vector<ReadierFigure> TopReadiers(const TraceModel& model, const ThreadWakes& wakes) {
    std::vector<ReadierFigure> readiers;
    for (const auto& [id, count] : wakes.readiers) {
        ReadierFigure readier{id.kind, id.thread_id, id.process_id, {}, count, std::nullopt};
        if (id.kind == ReadierKind::kThread) {
            readier.process_name = ProcessName(model, id.process_id);
        }
        readiers.push_back(std::move(readier));
    }
    // Most readies first; the map's order settles ties.
    std::stable_sort(readiers.begin(), readiers.end(),
                     [](const ReadierFigure& left, const ReadierFigure& right) { return left.count > right.count; });
    if (readiers.size() > kTopReadiers) {
        readiers.resize(kTopReadiers);
    }
    return readiers;
}

// The index of the p-th percentile (0 < p ≤ 100) by nearest rank among `count` sorted values.
std::size_t RankIndex(std::size_t count, unsigned percent) {
    const std::size_t rank = (count * percent + 99) / 100;
    return rank == 0 ? 0 : rank - 1;
}

// Reorders the values.
std::optional<IntervalFigure> Intervals(std::vector<std::uint32_t>& values) {
    if (values.empty()) {
        return std::nullopt;
    }
    const std::size_t p10 = RankIndex(values.size(), 10);
    const std::size_t median = RankIndex(values.size(), 50);
    const std::size_t p90 = RankIndex(values.size(), 90);
    const auto at = [&](std::size_t index) { return values.begin() + static_cast<std::ptrdiff_t>(index); };
    // Once the median is in place, the other two are looked for on their side of it.
    std::nth_element(values.begin(), at(median), values.end());
    std::nth_element(values.begin(), at(p10), at(median));
    if (p90 > median) {
        std::nth_element(at(median + 1), at(p90), values.end());
    }
    return IntervalFigure{values.size(), values[p10], values[median], values[p90]};
}

double Regularity(const BucketClasses& classes) {
    std::uint64_t total = 0;
    for (const auto& [period_class, count] : classes.class_bins) {
        total += count;
    }
    const auto in_class = classes.class_bins.find(classes.periodicity);
    if (total == 0 || in_class == classes.class_bins.end()) {
        return 0.0;
    }
    return static_cast<double>(in_class->second) / static_cast<double>(total);
}

ThreadFigures FiguresOf(const TraceModel& model, const ThreadEntry& thread, ThreadWakes* wakes,
                        std::uint64_t duration, bool readies_recorded, bool reported) {
    ThreadFigures figures;
    figures.thread_id = thread.TThreadId;
    if (thread.period_histogram.GetNumBuckets() != 0) {
        const BucketClasses classes = ClassifyBuckets(thread.period_histogram.Buckets());
        figures.period_classes = classes.class_bins;
        if (reported) {
            figures.periodicity_ms = classes.periodicity;
            figures.regularity = Regularity(classes);
        }
    }
    if (readies_recorded) {
        figures.top_readiers.emplace();
    }
    if (wakes == nullptr) {
        return figures;
    }
    figures.name.assign(wakes->name.begin(), wakes->name.end());
    figures.wakes = wakes->wakes;
    figures.wakes_per_second = PerSecond(wakes->wakes, duration);
    figures.idle_wakes = wakes->idle_wakes;
    figures.idle_wakes_by_cstate = wakes->idle_wakes_by_cstate;
    figures.on_processor = wakes->on_processor;
    figures.intervals = Intervals(wakes->off_processor_intervals);
    if (readies_recorded) {
        figures.top_readiers = TopReadiers(model, *wakes);
    }
    figures.timeline = wakes->timeline;
    return figures;
}

std::string CutShortNote(const TraceCoverage& coverage, std::uint64_t duration) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(duration) / 1e7);
    return "The file holds " + std::to_string(coverage.buffers_read) + " of the " +
           std::to_string(coverage.buffers_written) + " buffers its header counts: the recording was cut short. " +
           "Rates are over the " + seconds + " s its events cover.";
}

std::vector<std::string> CoverageNotes(const TraceFigures& figures, const TraceCoverage& coverage) {
    std::vector<std::string> notes;
    if (coverage.CutShort()) {
        notes.push_back(CutShortNote(coverage, figures.duration));
    }
    if (figures.events_lost > 0 || figures.buffers_lost > 0) {
        notes.push_back("The trace lost " + std::to_string(figures.events_lost) + " events and " +
                        std::to_string(figures.buffers_lost) +
                        " buffers: every count is a lower bound, and intervals may span the gaps.");
    }
    if (figures.context_switches == 0) {
        notes.push_back(
            "The trace has no context-switch events: wakes, idle wakes, C-states, on-processor time, "
            "intervals, periodicity and timelines are missing.");
    }
    if (figures.ready_events == 0) {
        notes.push_back("The trace has no ReadyThread events: who readied each thread is not recorded.");
    }
    return notes;
}

}  // namespace

TraceFigures BuildFigures(const TraceModel& model, std::uint64_t duration, WakeReading& reading) {
    WakeCollector& collector = *reading.collector;
    TraceFigures figures;
    figures.duration = duration;
    figures.processors = reading.header.processors;
    figures.events = collector.events();
    figures.context_switches = collector.context_switches();
    figures.ready_events = collector.ready_events();
    figures.wakes = collector.wakes();
    figures.wakes_per_second = PerSecond(collector.wakes(), duration);
    figures.idle_wakes = collector.idle_wakes();
    std::vector<std::uint64_t> idle_wakes = collector.IdleWakesByProcessor();
    idle_wakes.resize(std::max<std::size_t>(idle_wakes.size(), figures.processors), 0);
    for (const std::uint64_t count : idle_wakes) {
        figures.idle_wakes_per_second_by_processor.push_back(PerSecond(count, duration));
    }
    figures.idle_exit_cstates = collector.idle_exit_cstates();
    figures.events_lost = reading.header.events_lost;
    figures.buffers_lost = reading.header.buffers_lost;
    figures.timer_resolution = reading.header.timer_resolution;
    figures.coverage_notes = CoverageNotes(figures, reading.coverage);

    const bool readies_recorded = figures.ready_events > 0;
    for (const ProcessSelection& selection : SelectReportedThreads(model)) {
        ProcessFigures process;
        process.process_id = selection.process->ProcessId;
        process.name = NameText(selection.process->ImageFileName);
        for (const auto& [thread, verdict] : selection.threads) {
            // Each processor's idle thread has id 0; leaving idle is not a wake.
            if (thread->TThreadId == kIdleThreadId) {
                continue;
            }
            process.threads.push_back(FiguresOf(model, *thread, collector.WakesOf(*thread), duration,
                                                readies_recorded, verdict == ReportVerdict::kWritten));
            process.wakes += process.threads.back().wakes;
        }
        if (process.threads.empty()) {
            continue;
        }
        process.wakes_per_second = PerSecond(process.wakes, duration);
        std::stable_sort(process.threads.begin(), process.threads.end(), [](const auto& left, const auto& right) {
            return left.wakes != right.wakes ? left.wakes > right.wakes : left.thread_id < right.thread_id;
        });
        figures.processes.push_back(std::move(process));
    }
    std::stable_sort(figures.processes.begin(), figures.processes.end(), [](const auto& left, const auto& right) {
        return left.wakes != right.wakes ? left.wakes > right.wakes : left.process_id < right.process_id;
    });
    return figures;
}

}  // namespace dormiscope::view

#include "view/collect/build_figures.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>

#include "analysis/period_class.h"
#include "report/name_text.h"
#include "report/report_selection.h"
#include "view/figures/number_text.h"

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

// What the figures need of the trace's code: the modules, and the routines
// and stacks by the ids the collector gave them, resolved once each.
class CodeNames {
public:
    CodeNames(const WakeCollector& collector, ModuleMaps& modules) : collector_(collector), modules_(modules) {
        for (const RoutineRuns& runs : collector.credits().routines()) {
            routines_.push_back(modules.Resolve(kKernelProcess, runs.address, runs.first_start));
        }
    }

    std::optional<ResolvedFrame> Routine(RoutineId id) const {
        return id < routines_.size() ? std::optional<ResolvedFrame>(routines_[id]) : std::nullopt;
    }
    const std::vector<ResolvedFrame>& Stack(StackId id) {
        auto [found, added] = stacks_.try_emplace(id);
        if (added) {
            found->second = collector_.stacks().Frames(id, modules_);
        }
        return found->second;
    }

private:
    static constexpr std::uint32_t kKernelProcess = 0;

    const WakeCollector& collector_;
    ModuleMaps& modules_;
    std::vector<ResolvedFrame> routines_;  // by RoutineId
    std::unordered_map<StackId, std::vector<ResolvedFrame>> stacks_;
};

// Frames that read alike have one key: the module (none where no module
// covered the address, which then reads as itself) and the offset.
using FrameKey = std::pair<std::uintptr_t, std::uint64_t>;

FrameKey KeyOf(const ResolvedFrame& frame) {
    return {reinterpret_cast<std::uintptr_t>(frame.module), frame.offset};
}

std::string TextOf(const std::vector<ResolvedFrame>& frames) {
    std::string text;
    for (const ResolvedFrame& frame : frames) {
        text += FrameText(frame);
        text += '\n';
    }
    return text;
}

// A stack's figure and its frames, named once the figures' order is final.
struct UnnamedStack {
    StackFigure figure;
    std::vector<ResolvedFrame> frames;
};

// The most frequent stacks, counted per wake; stacks that read the same
// (the same addresses at other times, the same cached stack under two keys,
// addresses no module covered) are one.
std::vector<UnnamedStack> TopStacks(const StackCounts& counts, std::uint64_t wakes, CodeNames& names) {
    std::unordered_map<std::string, UnnamedStack> by_text;
    for (const auto& [id, count] : counts) {
        if (count == 0) {
            continue;
        }
        const std::vector<ResolvedFrame>& frames = names.Stack(id);
        if (frames.empty()) {
            continue;
        }
        const auto [stack, added] = by_text.try_emplace(TextOf(frames), UnnamedStack{{}, frames});
        stack->second.figure.count += count;
    }
    std::vector<std::pair<std::string, UnnamedStack>> ordered(std::make_move_iterator(by_text.begin()),
                                                              std::make_move_iterator(by_text.end()));
    std::sort(ordered.begin(), ordered.end(), [](const auto& left, const auto& right) {
        return left.second.figure.count != right.second.figure.count
                   ? left.second.figure.count > right.second.figure.count
                   : left.first < right.first;
    });
    std::vector<UnnamedStack> top;
    for (std::size_t index = 0; index < ordered.size() && index < kTopStacks; ++index) {
        UnnamedStack& stack = ordered[index].second;
        stack.figure.share =
            wakes == 0 ? 0.0 : static_cast<double>(stack.figure.count) / static_cast<double>(wakes);
        top.push_back(std::move(stack));
    }
    return top;
}

// Every distinct combination of a thread's wakes that showed a stack, idle or
// not, with its frames named later.
struct UnnamedWakeStack {
    WakeStackFigure figure;
    const std::vector<ResolvedFrame>* wait;
    const std::vector<ResolvedFrame>* readying;
};

std::vector<UnnamedWakeStack> AllWakeStacks(const TraceModel& model, const WakeStackCounts& joint, CodeNames& names) {
    struct Combination {
        StackId wait;
        StackId readying;
        bool readied;
        ReadierId readier;
        auto operator<=>(const Combination&) const = default;
    };
    std::map<Combination, std::pair<std::uint64_t, std::uint64_t>> merged;  // wakes, idle wakes
    for (const auto& [key, count] : joint.counts) {
        if (count == 0 || (key.wait == kNoStack && key.readying == kNoStack)) {
            continue;
        }
        auto& [wakes, idle_wakes] = merged[{key.wait, key.readying, key.readied, key.readier}];
        wakes += count;
        idle_wakes += key.idle ? count : 0;
    }
    std::vector<UnnamedWakeStack> all;
    all.reserve(merged.size());
    for (const auto& [combination, counts] : merged) {
        UnnamedWakeStack stack{{{}, {}, std::nullopt, counts.first, counts.second},
                               &names.Stack(combination.wait), &names.Stack(combination.readying)};
        if (stack.wait->empty() && stack.readying->empty()) {
            continue;
        }
        if (combination.readied) {
            const ReadierId& id = combination.readier;
            stack.figure.readier = ReadierFigure{id.kind, id.thread_id, id.process_id, {}, 0, std::nullopt};
            if (id.kind == ReadierKind::kThread) {
                stack.figure.readier->process_name = ProcessName(model, id.process_id);
            }
        }
        all.push_back(std::move(stack));
    }
    // The map's order settles ties.
    std::stable_sort(all.begin(), all.end(), [](const UnnamedWakeStack& left, const UnnamedWakeStack& right) {
        return left.figure.wakes > right.figure.wakes;
    });
    return all;
}

// Where kernel code lies: the upper half of a 64-bit address space, or of a
// 32-bit one. It only tells colours apart, so a guess at the edge costs little.
bool IsKernelAddress(std::uint64_t address) {
    return address >= 0xFFFF'8000'0000'0000ULL || (address >= 0x8000'0000ULL && address <= 0xFFFF'FFFFULL);
}

// The frames of the wake stacks, each named once, in the order first met.
class CodeFrameTable {
public:
    explicit CodeFrameTable(FrameNames& frame_names) : frame_names_(frame_names) {}

    std::vector<std::uint32_t> Indices(const std::vector<ResolvedFrame>& frames, bool root_first) {
        std::vector<std::uint32_t> indices;
        indices.reserve(frames.size());
        for (const ResolvedFrame& frame : frames) {
            indices.push_back(Index(frame));
        }
        if (root_first) {
            std::reverse(indices.begin(), indices.end());
        }
        return indices;
    }
    std::vector<CodeFrame> Take() { return std::move(frames_); }

private:
    std::uint32_t Index(const ResolvedFrame& frame) {
        const auto [found, added] =
            indices_.try_emplace({frame.module, frame.offset}, static_cast<std::uint32_t>(frames_.size()));
        if (added) {
            const std::uint64_t address =
                frame.module != nullptr ? frame.module->image_base + frame.offset : frame.offset;
            frames_.push_back({frame_names_.Name(frame), ModuleText(frame), IsKernelAddress(address)});
        }
        return found->second;
    }

    FrameNames& frame_names_;
    std::map<std::pair<const ModuleIdentity*, std::uint64_t>, std::uint32_t> indices_;
    std::vector<CodeFrame> frames_;
};

std::vector<WakeStackFigure> Named(std::vector<UnnamedWakeStack>& stacks, CodeFrameTable& table) {
    std::vector<WakeStackFigure> named;
    named.reserve(stacks.size());
    for (UnnamedWakeStack& stack : stacks) {
        stack.figure.wait = table.Indices(*stack.wait, true);
        stack.figure.readying = table.Indices(*stack.readying, false);
        named.push_back(std::move(stack.figure));
    }
    return named;
}

// A readier's figure and, for a DPC, its routine, named once the figures' order is final.
struct UnnamedReadier {
    ReadierFigure figure;
    std::optional<ResolvedFrame> routine;  // none for a thread, or a DPC no event covered
};

std::vector<UnnamedReadier> TopReadiers(const TraceModel& model, const ThreadWakes& wakes, const CodeNames& names) {
    std::vector<UnnamedReadier> readiers;
    // Routine addresses that resolve alike are one readier; a routine the
    // collector does not know is keyed apart from every frame.
    std::map<std::optional<FrameKey>, std::size_t> dpc_readiers;
    for (const auto& [id, count] : wakes.readiers) {
        UnnamedReadier readier{{id.kind, id.thread_id, id.process_id, {}, count, std::nullopt}, std::nullopt};
        if (id.kind == ReadierKind::kThread) {
            readier.figure.process_name = ProcessName(model, id.process_id);
        }
        if (id.kind == ReadierKind::kDpc) {
            readier.routine = names.Routine(id.routine);
            const std::optional<FrameKey> key =
                readier.routine ? std::optional<FrameKey>(KeyOf(*readier.routine)) : std::nullopt;
            const auto [same, added] = dpc_readiers.try_emplace(key, readiers.size());
            if (!added) {
                readiers[same->second].figure.count += count;
                continue;
            }
        }
        readiers.push_back(std::move(readier));
    }
    // Most readies first; the map's order settles ties.
    std::stable_sort(readiers.begin(), readiers.end(), [](const UnnamedReadier& left, const UnnamedReadier& right) {
        return left.figure.count > right.figure.count;
    });
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

// A thread's figures with the frames of its readiers and stacks still unnamed.
struct UnnamedThread {
    ThreadFigures figures;
    std::optional<ResolvedFrame> start;
    std::optional<std::vector<UnnamedReadier>> readiers;
    std::vector<UnnamedStack> wait_stacks;
    std::vector<UnnamedStack> readying_stacks;
    std::vector<UnnamedWakeStack> wake_stacks;
};

// The start address in the module that held it when the thread was first
// seen, or, for a thread the trace never showed starting, at the trace's end.
std::optional<ResolvedFrame> StartFrame(const ThreadEntry& thread, WakeReading& reading) {
    if (thread.Win32StartAddr == 0) {
        return std::nullopt;
    }
    const auto seen = reading.thread_seen_at.find(&thread);
    const std::int64_t time = seen == reading.thread_seen_at.end() ? kAfterTrace - 1 : seen->second;
    return reading.modules.Resolve(thread.ProcessId, thread.Win32StartAddr, time);
}

UnnamedThread FiguresOf(const TraceModel& model, const ThreadEntry& thread, ThreadWakes* wakes,
                        std::uint64_t duration, bool readies_recorded, bool reported, CodeNames& names) {
    UnnamedThread unnamed;
    ThreadFigures& figures = unnamed.figures;
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
        unnamed.readiers.emplace();
    }
    if (wakes == nullptr) {
        return unnamed;
    }
    figures.name.assign(wakes->name.begin(), wakes->name.end());
    figures.wakes = wakes->wakes;
    figures.wakes_per_second = PerSecond(wakes->wakes, duration);
    figures.idle_wakes = wakes->idle_wakes;
    figures.idle_wakes_by_cstate = wakes->idle_wakes_by_cstate;
    figures.on_processor = wakes->on_processor;
    figures.intervals = Intervals(wakes->off_processor_intervals);
    if (readies_recorded) {
        unnamed.readiers = TopReadiers(model, *wakes, names);
    }
    unnamed.wait_stacks = TopStacks(wakes->wait_stacks, wakes->wakes, names);
    unnamed.readying_stacks = TopStacks(wakes->readying_stacks, wakes->wakes, names);
    unnamed.wake_stacks = AllWakeStacks(model, wakes->wake_stacks, names);
    figures.timeline = wakes->timeline;
    return unnamed;
}

std::vector<StackFigure> Named(std::vector<UnnamedStack>& stacks, FrameNames& frame_names) {
    std::vector<StackFigure> named;
    for (UnnamedStack& stack : stacks) {
        for (const ResolvedFrame& frame : stack.frames) {
            stack.figure.frames.push_back(frame_names.Name(frame));
        }
        named.push_back(std::move(stack.figure));
    }
    return named;
}

// In the order the document lists them: a symbol-backed namer meets the
// modules, and so lists missing PDBs, as the page does.
ThreadFigures Named(UnnamedThread& thread, FrameNames& frame_names) {
    if (thread.start) {
        thread.figures.start = frame_names.Name(*thread.start);
    }
    if (thread.readiers) {
        thread.figures.top_readiers.emplace();
        for (UnnamedReadier& readier : *thread.readiers) {
            if (readier.routine) {
                readier.figure.routine = frame_names.Name(*readier.routine);
            }
            thread.figures.top_readiers->push_back(std::move(readier.figure));
        }
    }
    thread.figures.wait_stacks = Named(thread.wait_stacks, frame_names);
    thread.figures.readying_stacks = Named(thread.readying_stacks, frame_names);
    return std::move(thread.figures);
}

std::string CutShortNote(const TraceCoverage& coverage, std::uint64_t duration) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(duration) / 1e7);
    return "The file holds " + Grouped(std::uint64_t{coverage.buffers_read}) + " of the " +
           Grouped(std::uint64_t{coverage.buffers_written}) + " buffers its header counts: the recording was cut short. " +
           "Rates are over the " + seconds + " s its events cover.";
}

CodeFigures CodeFiguresOf(const WakeReading& reading) {
    const StackEventCounts& stacks = reading.collector->stacks().counts();
    const RoutineEventCounts& routines = reading.collector->credits().counts();
    const ModuleMapDamage& images = reading.modules.damage();
    CodeFigures code;
    code.images = reading.images;
    code.image_identities = reading.image_identities;
    code.stacks = stacks.stacks;
    code.stacks_matched = stacks.matched;
    code.stacks_of_other_events = stacks.of_other_events;
    code.stacks_unmatched = stacks.unmatched;
    code.stack_keys_undefined = reading.collector->stacks().undefined_references();
    code.stacks_damaged = stacks.damaged;
    code.images_ignored = images.empty_images + images.overlapping_images;
    code.dpcs = routines.dpcs;
    code.interrupts = routines.interrupts;
    code.readies_from_dpc = routines.readies_from_dpc;
    code.readies_from_dpc_not_recorded = routines.readies_not_recorded;
    return code;
}

// One figure per routine as it reads (kind, module and offset); most runs first.
std::vector<RoutineFigure> Routines(const std::vector<RoutineRuns>& all_runs, const CodeNames& names,
                                    std::uint64_t duration, FrameNames& frame_names) {
    std::vector<RoutineFigure> routines;
    std::vector<ResolvedFrame> frames;  // by routine
    std::vector<std::vector<std::uint32_t>> durations;
    std::map<std::pair<RoutineKind, FrameKey>, std::size_t> index_of;
    for (RoutineId id = 0; id < all_runs.size(); ++id) {
        const RoutineRuns& runs = all_runs[id];
        const ResolvedFrame frame = *names.Routine(id);
        const auto [found, added] = index_of.try_emplace({runs.kind, KeyOf(frame)}, routines.size());
        const std::size_t same = found->second;
        if (added) {
            routines.push_back({runs.kind, {}, {}, 0, 0, 0, 0, 0, 0});
            frames.push_back(frame);
            durations.emplace_back();
        }
        RoutineFigure& routine = routines[same];
        routine.count += runs.count;
        routine.total += runs.total;
        routine.readied += runs.readied;
        routine.started_idle += runs.started_idle;
        std::vector<std::uint32_t>& kept = durations[same];
        kept.insert(kept.end(), runs.durations.begin(), runs.durations.end());
    }
    std::vector<std::pair<std::string, std::size_t>> order;
    order.reserve(routines.size());
    for (std::size_t index = 0; index < routines.size(); ++index) {
        routines[index].per_second = PerSecond(routines[index].count, duration);
        if (const std::optional<IntervalFigure> runs = Intervals(durations[index])) {
            routines[index].median = runs->median;
        }
        order.emplace_back(FrameText(frames[index]), index);
    }
    std::sort(order.begin(), order.end(), [&](const auto& left, const auto& right) {
        const RoutineFigure& a = routines[left.second];
        const RoutineFigure& b = routines[right.second];
        if (a.count != b.count) {
            return a.count > b.count;
        }
        return left.first != right.first ? left.first < right.first : a.kind < b.kind;
    });
    std::vector<RoutineFigure> sorted;
    sorted.reserve(order.size());
    for (const auto& [text, index] : order) {
        sorted.push_back(std::move(routines[index]));
        sorted.back().routine = frame_names.Name(frames[index]);
        sorted.back().module = ModuleText(frames[index]);
    }
    return sorted;
}

// What of the code the trace did not record (and the switch that records it),
// and what it recorded but could not be used.
void AddCodeNotes(std::vector<std::string>& notes, const CodeFigures& code, bool clock_known) {
    if (code.stacks == 0) {
        notes.push_back(
            "The trace has no stacks on context switches and readies: where threads wait and what readies them "
            "is not recorded. Record with dormiscope.wprp, or add -stackwalk CSwitch+ReadyThread to xperf.");
    }
    if (code.images == 0) {
        notes.push_back(
            "The trace has no image events: no address is named by its module. Record with dormiscope.wprp, "
            "or add LOADER to xperf's kernel flags.");
    }
    if (code.dpcs == 0 && code.interrupts == 0) {
        notes.push_back(
            "The trace has no DPC or interrupt events: which routine readied a thread is not recorded. Record "
            "with dormiscope.wprp, or add DPC+INTERRUPT to xperf's kernel flags.");
    }
    if (!clock_known && (code.stacks > 0 || code.dpcs > 0 || code.interrupts > 0)) {
        notes.push_back(
            "The trace reader does not tell the trace's clock: no stack or routine could be matched to its event.");
    }
    if (code.stacks_of_other_events > 0) {
        notes.push_back(CountOf(code.stacks_of_other_events, "stack belongs", "stacks belong") +
                        " to events the page does not use (such as profiling samples or disk I/O): not shown.");
    }
    if (code.stacks_unmatched > 0) {
        notes.push_back(CountOf(code.stacks_unmatched, "stack matches", "stacks match") +
                        " no event of the trace: left out.");
    }
    if (code.stack_keys_undefined > 0) {
        notes.push_back(CountOf(code.stack_keys_undefined, "stack names a cache key", "stacks name cache keys") +
                        " the trace never defines: left out.");
    }
    if (code.stacks_damaged > 0) {
        notes.push_back(CountOf(code.stacks_damaged, "stack event is", "stack events are") +
                        " truncated, oversized or unreadable: left out.");
    }
    if (code.images_ignored > 0) {
        notes.push_back(CountOf(code.images_ignored, "image event was", "image events were") +
                        " empty or overlapped a loaded module: empty ones are ignored, and where two overlap the "
                        "later one names the addresses.");
    }
}

void AddTimerNotes(std::vector<std::string>& notes, const TimerResolutionFigures& timer) {
    if (timer.events == 0 && timer.unknown_layout == 0) {
        notes.push_back(
            "The trace has no timer-resolution events: which process raised the timer resolution is not "
            "recorded. Record with dormiscope.wprp, or add Microsoft-Windows-Kernel-Power:0x4 with stacks and "
            "its rundown to xperf.");
    }
    if (timer.unknown_layout > 0) {
        notes.push_back(CountOf(timer.unknown_layout, "timer-resolution event", "timer-resolution events") +
                        " of an unknown layout: left out.");
    }
}

// Only data the trace misses makes it incomplete.
std::vector<std::string> CoverageNotes(const TraceFigures& figures, const TraceCoverage& coverage) {
    std::vector<std::string> notes;
    if (coverage.CutShort()) {
        notes.push_back(CutShortNote(coverage, figures.duration));
    }
    if (figures.events_lost > 0 || figures.buffers_lost > 0) {
        notes.push_back("The trace lost " + CountOf(figures.events_lost, "event", "events") + " and " +
                        CountOf(figures.buffers_lost, "buffer", "buffers") +
                        ": every count is a lower bound, and intervals may span the gaps.");
    }
    return notes;
}

// What the recording did not ask for, and what it recorded that the page cannot use.
std::vector<std::string> TraceNotes(const TraceFigures& figures, bool clock_known) {
    std::vector<std::string> notes;
    if (figures.context_switches == 0) {
        notes.push_back(
            "The trace has no context-switch events: wakes, idle wakes, C-states, on-processor time, "
            "intervals, periodicity and timelines are missing. Record with dormiscope.wprp, or add CSWITCH to "
            "xperf's kernel flags.");
    }
    if (figures.ready_events == 0) {
        notes.push_back(
            "The trace has no ReadyThread events: who readied each thread is not recorded. Record with "
            "dormiscope.wprp, or add DISPATCHER to xperf's kernel flags.");
    }
    AddCodeNotes(notes, figures.code, clock_known);
    AddTimerNotes(notes, figures.timer_requests);
    return notes;
}

}  // namespace

TraceFigures BuildFigures(const TraceModel& model, std::uint64_t duration, WakeReading& reading,
                          FrameNames& frame_names) {
    WakeCollector& collector = *reading.collector;
    TraceFigures figures;
    figures.duration = duration;
    figures.processors = reading.header.processors;
    figures.pointer_size = reading.header.pointer_size;
    figures.events = collector.events();
    figures.context_switches = collector.context_switches();
    figures.ready_events = collector.ready_events();
    figures.wakes = collector.wakes();
    figures.wakes_per_second = PerSecond(collector.wakes(), duration);
    figures.idle_wakes = collector.idle_wakes();
    std::vector<std::uint64_t> idle_wakes = collector.IdleWakesByProcessor();
    idle_wakes.resize(std::max<std::size_t>(idle_wakes.size(), figures.processors), 0);
    const std::vector<bool> with_events = collector.ProcessorsWithEvents();
    for (std::uint32_t processor = 0; processor < idle_wakes.size(); ++processor) {
        figures.idle_wakes_per_second_by_processor.push_back(PerSecond(idle_wakes[processor], duration));
        if (processor >= with_events.size() || !with_events[processor]) {
            figures.processors_without_events.push_back(processor);
        }
    }
    figures.idle_exit_cstates = collector.idle_exit_cstates();
    figures.events_lost = reading.header.events_lost;
    figures.buffers_lost = reading.header.buffers_lost;
    figures.timer_resolution = reading.header.timer_resolution;
    figures.timer_requests = reading.timer_requests.Figures(model, reading.modules, frame_names);
    figures.code = CodeFiguresOf(reading);
    CodeNames names(collector, reading.modules);
    figures.routines = Routines(collector.credits().routines(), names, duration, frame_names);
    figures.coverage_notes = CoverageNotes(figures, reading.coverage);
    figures.trace_notes = TraceNotes(figures, reading.clock_known);

    const bool readies_recorded = figures.ready_events > 0;
    struct UnnamedProcess {
        ProcessFigures figures;
        std::vector<UnnamedThread> threads;
    };
    std::vector<UnnamedProcess> processes;
    for (const ProcessSelection& selection : SelectReportedThreads(model)) {
        UnnamedProcess process;
        process.figures.process_id = selection.process->ProcessId;
        process.figures.name = NameText(selection.process->ImageFileName);
        process.figures.command_line.assign(selection.process->CommandLine.begin(),
                                            selection.process->CommandLine.end());
        for (const auto& [thread, verdict] : selection.threads) {
            // Each processor's idle thread has id 0; leaving idle is not a wake.
            if (thread->TThreadId == kIdleThreadId) {
                continue;
            }
            process.threads.push_back(FiguresOf(model, *thread, collector.WakesOf(*thread), duration,
                                                readies_recorded, verdict == ReportVerdict::kWritten, names));
            process.threads.back().start = StartFrame(*thread, reading);
            process.figures.wakes += process.threads.back().figures.wakes;
        }
        if (process.threads.empty()) {
            continue;
        }
        process.figures.wakes_per_second = PerSecond(process.figures.wakes, duration);
        std::stable_sort(process.threads.begin(), process.threads.end(), [](const auto& left, const auto& right) {
            return left.figures.wakes != right.figures.wakes ? left.figures.wakes > right.figures.wakes
                                                             : left.figures.thread_id < right.figures.thread_id;
        });
        processes.push_back(std::move(process));
    }
    std::stable_sort(processes.begin(), processes.end(), [](const auto& left, const auto& right) {
        return left.figures.wakes != right.figures.wakes ? left.figures.wakes > right.figures.wakes
                                                         : left.figures.process_id < right.figures.process_id;
    });
    for (UnnamedProcess& process : processes) {
        for (UnnamedThread& thread : process.threads) {
            process.figures.threads.push_back(Named(thread, frame_names));
        }
        figures.processes.push_back(std::move(process.figures));
    }
    // The flame graphs' and the exports' frames, after the document's.
    CodeFrameTable table(frame_names);
    for (std::size_t process = 0; process < processes.size(); ++process) {
        for (std::size_t thread = 0; thread < processes[process].threads.size(); ++thread) {
            figures.processes[process].threads[thread].wake_stacks =
                Named(processes[process].threads[thread].wake_stacks, table);
        }
    }
    figures.code_frames = table.Take();
    figures.symbols = frame_names.Summary();
    return figures;
}

}  // namespace dormiscope::view

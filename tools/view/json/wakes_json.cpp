#include "view/json/wakes_json.h"

#include <optional>
#include <string_view>

#include "view/json/json_out.h"
#include "view/json/kind_names.h"

namespace dormiscope::view {
namespace {

void WriteReaders(JsonOut& json, const std::optional<std::vector<ReadierFigure>>& readiers) {
    if (!readiers) {
        json.Null();
        return;
    }
    json.Open('[');
    for (const ReadierFigure& readier : *readiers) {
        json.Open('{').Key("kind").Ascii(ReadierKindName(readier.kind));
        if (readier.kind == ReadierKind::kThread) {
            json.Key("tid").Unsigned(readier.thread_id).Key("pid").Unsigned(readier.process_id);
            json.Key("process").Text(readier.process_name);
        }
        if (readier.kind == ReadierKind::kDpc) {
            json.Key("routine").Utf8(readier.routine ? *readier.routine : "not recorded");
        }
        json.Key("count").Unsigned(readier.count).Close('}');
    }
    json.Close(']');
}

void WriteStacks(JsonOut& json, const std::vector<StackFigure>& stacks) {
    json.Open('[');
    for (const StackFigure& stack : stacks) {
        json.Open('{').Key("count").Unsigned(stack.count).Key("share").Decimal(stack.share);
        json.Key("frames").Open('[');
        for (const std::string& frame : stack.frames) {
            json.Utf8(frame);
        }
        json.Close(']').Close('}');
    }
    json.Close(']');
}

void WriteThread(JsonOut& json, const ThreadFigures& thread) {
    json.Open('{');
    json.Key("tid").Unsigned(thread.thread_id);
    json.Key("name").Text(thread.name);
    json.Key("start");
    if (thread.start) {
        json.Utf8(*thread.start);
    } else {
        json.Null();
    }
    json.Key("wakes").Unsigned(thread.wakes);
    json.Key("wakes_per_s").Decimal(thread.wakes_per_second);
    json.Key("idle_wakes").Unsigned(thread.idle_wakes);
    json.Key("idle_wakes_by_cstate");
    CountMap(json, thread.idle_wakes_by_cstate);
    json.Key("on_processor_ms").Milliseconds(thread.on_processor);
    json.Key("off_processor_ms");
    if (thread.intervals) {
        json.Open('{').Key("count").Unsigned(thread.intervals->count);
        json.Key("p10").Milliseconds(thread.intervals->p10);
        json.Key("median").Milliseconds(thread.intervals->median);
        json.Key("p90").Milliseconds(thread.intervals->p90).Close('}');
    } else {
        json.Null();
    }
    json.Key("periodicity");
    if (thread.periodicity_ms) {
        json.Ascii(std::to_string(*thread.periodicity_ms) + "ms");
    } else {
        json.Null();
    }
    json.Key("regularity");
    if (thread.regularity) {
        json.Decimal(*thread.regularity);
    } else {
        json.Null();
    }
    json.Key("period_classes");
    CountMap(json, thread.period_classes);
    json.Key("readiers");
    WriteReaders(json, thread.top_readiers);
    json.Key("wait_stacks");
    WriteStacks(json, thread.wait_stacks);
    json.Key("readying_stacks");
    WriteStacks(json, thread.readying_stacks);
    json.Key("timeline").Open('[');
    for (const std::uint32_t count : thread.timeline) {
        json.Unsigned(count);
    }
    json.Close(']');
    json.Close('}');
}

void WriteCode(JsonOut& json, const CodeFigures& code) {
    json.Key("code").Open('{');
    json.Key("images").Unsigned(code.images);
    json.Key("image_identities").Unsigned(code.image_identities);
    json.Key("stacks").Unsigned(code.stacks);
    json.Key("stacks_matched").Unsigned(code.stacks_matched);
    json.Key("stacks_unmatched").Unsigned(code.stacks_unmatched);
    json.Key("stacks_of_other_events").Unsigned(code.stacks_of_other_events);
    json.Key("stack_keys_undefined").Unsigned(code.stack_keys_undefined);
    json.Key("stacks_damaged").Unsigned(code.stacks_damaged);
    json.Key("images_ignored").Unsigned(code.images_ignored);
    json.Key("dpcs").Unsigned(code.dpcs);
    json.Key("interrupts").Unsigned(code.interrupts);
    json.Key("readies_from_dpc").Unsigned(code.readies_from_dpc);
    json.Key("readies_from_dpc_not_recorded").Unsigned(code.readies_from_dpc_not_recorded);
    json.Close('}');
}

void WriteRoutines(JsonOut& json, const std::vector<RoutineFigure>& routines) {
    json.Open('[');
    for (const RoutineFigure& routine : routines) {
        json.Open('{').Key("kind").Ascii(RoutineKindName(routine.kind));
        json.Key("routine").Utf8(routine.routine);
        json.Key("module").Utf8(routine.module);
        json.Key("count").Unsigned(routine.count);
        json.Key("per_s").Decimal(routine.per_second);
        json.Key("total_ms").Milliseconds(routine.total);
        json.Key("median_ms").Milliseconds(routine.median);
        json.Key("readied").Unsigned(routine.readied);
        json.Key("started_idle").Unsigned(routine.started_idle);
        json.Close('}');
    }
    json.Close(']');
}

template <typename Value>
void OptionalDecimal(JsonOut& json, const std::optional<Value>& value) {
    if (value) {
        json.Decimal(*value);
    } else {
        json.Null();
    }
}

void WriteTimerRequests(JsonOut& json, const TimerResolutionFigures& timer) {
    json.Key("timer_requests").Open('{');
    json.Key("events").Unsigned(timer.events);
    json.Key("unknown_layout").Unsigned(timer.unknown_layout);
    json.Key("finest_ms");
    if (timer.finest) {
        json.Milliseconds(*timer.finest);
    } else {
        json.Null();
    }
    json.Key("idle_wakes_per_s_at_finest");
    OptionalDecimal(json, timer.idle_wakes_per_second_at_finest);
    json.Key("idle_wakes_per_s_otherwise");
    OptionalDecimal(json, timer.idle_wakes_per_second_otherwise);
    json.Key("effective").Open('[');
    for (const ResolutionStep& step : timer.effective) {
        json.Open('{').Key("at_ms").Milliseconds(step.at).Key("resolution_ms").Milliseconds(step.resolution);
        json.Close('}');
    }
    json.Close(']');
    json.Key("kernel_changes").Open('[');
    for (const KernelResolutionChange& change : timer.kernel_changes) {
        json.Open('{').Key("at_ms").Milliseconds(change.at).Key("requested_ms").Milliseconds(change.requested);
        json.Close('}');
    }
    json.Close(']');
    json.Key("processes").Open('[');
    for (const TimerRequestFigure& request : timer.requests) {
        json.Open('{').Key("pid").Unsigned(request.process_id).Key("name").Text(request.name);
        json.Key("resolutions").Open('[');
        for (const TimerHoldFigure& hold : request.holds) {
            json.Open('{').Key("resolution_ms").Milliseconds(hold.resolution);
            json.Key("held_s").Decimal(static_cast<double>(hold.held) / 1e7).Key("share").Decimal(hold.share);
            json.Close('}');
        }
        json.Close(']');
        json.Key("changes").Unsigned(request.changes).Key("changes_per_s").Decimal(request.changes_per_second);
        json.Key("held_at_start").Bool(request.held_at_start);
        json.Key("held_at_end").Bool(request.held_at_end);
        json.Key("stack").Open('[');
        for (const std::string& frame : request.stack) {
            json.Utf8(frame);
        }
        json.Close(']').Close('}');
    }
    json.Close(']').Close('}');
}

void WritePdbs(JsonOut& json, std::string_view key, const std::vector<symbols::PdbIdentity>& pdbs) {
    json.Key(key).Open('[');
    for (const symbols::PdbIdentity& pdb : pdbs) {
        json.Open('{').Key("pdb").Utf8(symbols::PdbFileName(pdb));
        json.Key("guid").Ascii(symbols::GuidText(pdb));
        json.Key("age").Unsigned(pdb.age).Close('}');
    }
    json.Close(']');
}

void WriteSymbols(JsonOut& json, const std::optional<symbols::SymbolSummary>& summary) {
    if (!summary) {
        json.Null();
        return;
    }
    json.Open('{').Key("modules").Unsigned(summary->modules);
    json.Key("modules_with_symbols").Unsigned(summary->modules_with_symbols);
    WritePdbs(json, "missing", summary->missing);
    WritePdbs(json, "unreadable", summary->unreadable);
    json.Key("without_identity").Open('[');
    for (const std::string& module : summary->without_identity) {
        json.Utf8(module);
    }
    json.Close(']').Close('}');
}

}  // namespace

std::string WakesJson(const TraceFigures& figures) {
    std::string out;
    JsonOut json(out);
    json.Open('{').Key("format").Ascii(kWakesFormat).Key("format_version").Unsigned(kWakesFormatVersion);
    json.Key("trace").Open('{');
    json.Key("duration_ms").Milliseconds(figures.duration);
    json.Key("processors").Unsigned(figures.processors);
    json.Key("pointer_size").Unsigned(figures.pointer_size);
    json.Key("events").Unsigned(figures.events);
    json.Key("context_switches").Unsigned(figures.context_switches);
    json.Key("ready_events").Unsigned(figures.ready_events);
    json.Key("wakes").Unsigned(figures.wakes);
    json.Key("wakes_per_s").Decimal(figures.wakes_per_second);
    json.Key("idle_wakes").Unsigned(figures.idle_wakes);
    json.Key("idle_wakes_per_s_by_processor").Open('[');
    for (const double rate : figures.idle_wakes_per_second_by_processor) {
        json.Decimal(rate);
    }
    json.Close(']');
    json.Key("processors_without_events").Open('[');
    for (const std::uint32_t processor : figures.processors_without_events) {
        json.Unsigned(processor);
    }
    json.Close(']');
    json.Key("idle_exit_cstates");
    CountMap(json, figures.idle_exit_cstates);
    json.Key("events_lost").Unsigned(figures.events_lost);
    json.Key("buffers_lost").Unsigned(figures.buffers_lost);
    json.Key("timeline_slices").Unsigned(kTimelineSlices);
    json.Key("timer_resolution_ms").Milliseconds(figures.timer_resolution);
    WriteTimerRequests(json, figures.timer_requests);
    WriteCode(json, figures.code);
    json.Key("symbols");
    WriteSymbols(json, figures.symbols);
    json.Key("routines");
    WriteRoutines(json, figures.routines);
    json.Key("coverage").Open('[');
    for (const std::string& note : figures.coverage_notes) {
        json.Utf8(note);
    }
    json.Close(']');
    json.Key("notes").Open('[');
    for (const std::string& note : figures.trace_notes) {
        json.Utf8(note);
    }
    json.Close(']');
    json.Close('}');
    json.LineBreak().Key("processes").Open('[');
    for (const ProcessFigures& process : figures.processes) {
        json.LineBreak().Open('{');
        json.Key("pid").Unsigned(process.process_id);
        json.Key("name").Text(process.name);
        json.Key("command_line").Text(process.command_line);
        json.Key("wakes").Unsigned(process.wakes);
        json.Key("wakes_per_s").Decimal(process.wakes_per_second);
        json.Key("threads").Open('[');
        for (const ThreadFigures& thread : process.threads) {
            WriteThread(json, thread);
        }
        json.Close(']').Close('}');
    }
    json.Close(']').Close('}');
    out += '\n';
    return out;
}

}  // namespace dormiscope::view

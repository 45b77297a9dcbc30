#include "view/json/comparison_json.h"

#include "view/json/json_out.h"
#include "view/json/kind_names.h"

namespace dormiscope::view {
namespace {

std::string_view PresenceName(Presence presence) {
    switch (presence) {
        case Presence::kNew:
            return "new";
        case Presence::kGone:
            return "gone";
        case Presence::kBoth:
            break;
    }
    return "both";
}

std::string_view KeyKindName(ThreadGroupComparison::KeyKind kind) {
    switch (kind) {
        case ThreadGroupComparison::KeyKind::kName:
            return "name";
        case ThreadGroupComparison::KeyKind::kStart:
            return "start";
        case ThreadGroupComparison::KeyKind::kNone:
            break;
    }
    return "none";
}

// The counts, rates, change and noise mark of one row, as keys of its object.
void WriteChange(JsonOut& json, const CountChange& change, std::string_view counted) {
    json.Key(std::string(counted) + "_before").Unsigned(change.before);
    json.Key(std::string(counted) + "_after").Unsigned(change.after);
    json.Key("before_per_s").Decimal(change.before_per_second);
    json.Key("after_per_s").Decimal(change.after_per_second);
    json.Key("change_per_s").Decimal(change.change_per_second);
    json.Key("ratio");
    if (change.ratio) {
        json.Decimal(*change.ratio);
    } else {
        json.Null();
    }
    json.Key("beyond_noise").Bool(change.beyond_noise);
}

void WritePeriodicity(JsonOut& json, const std::optional<std::int32_t>& periodicity) {
    if (periodicity) {
        json.Ascii(std::to_string(*periodicity) + "ms");
    } else {
        json.Null();
    }
}

void WriteStackChanges(JsonOut& json, const std::vector<StackChange>& stacks) {
    json.Open('[');
    for (const StackChange& stack : stacks) {
        json.Open('{').Key("frames").Open('[');
        for (const std::string& frame : stack.frames) {
            json.Utf8(frame);
        }
        json.Close(']');
        json.Key("before_per_s").Decimal(stack.before_per_second);
        json.Key("after_per_s").Decimal(stack.after_per_second).Close('}');
    }
    json.Close(']');
}

void WriteGroup(JsonOut& json, const ThreadGroupComparison& group) {
    json.Open('{');
    json.Key("key_kind").Ascii(KeyKindName(group.key_kind));
    json.Key("key").Text(group.key);
    json.Key("threads_before").Unsigned(group.threads_before);
    json.Key("threads_after").Unsigned(group.threads_after);
    json.Key("status").Ascii(PresenceName(group.presence));
    WriteChange(json, group.wakes, "wakes");
    json.Key("periodicity_before");
    WritePeriodicity(json, group.periodicity_before_ms);
    json.Key("periodicity_after");
    WritePeriodicity(json, group.periodicity_after_ms);
    json.Key("wait_stacks");
    WriteStackChanges(json, group.wait_stacks);
    json.Key("readying_stacks");
    WriteStackChanges(json, group.readying_stacks);
    json.Close('}');
}

void WriteSide(JsonOut& json, const SideSummary& side, const CountChange& wakes, const CountChange& idle_wakes,
               bool before) {
    json.Open('{');
    json.Key("duration_ms").Milliseconds(side.duration);
    json.Key("processors").Unsigned(side.processors);
    json.Key("pointer_size").Unsigned(side.pointer_size);
    json.Key("wakes").Unsigned(before ? wakes.before : wakes.after);
    json.Key("wakes_per_s").Decimal(before ? wakes.before_per_second : wakes.after_per_second);
    json.Key("idle_wakes").Unsigned(before ? idle_wakes.before : idle_wakes.after);
    json.Key("idle_wakes_per_s").Decimal(before ? idle_wakes.before_per_second : idle_wakes.after_per_second);
    json.Key("idle_wakes_per_s_by_processor").Open('[');
    for (const double rate : side.idle_wakes_per_second_by_processor) {
        json.Decimal(rate);
    }
    json.Close(']');
    json.Key("idle_exit_cstates");
    CountMap(json, side.idle_exit_cstates);
    json.Key("timer_resolution_ms").Milliseconds(side.timer_resolution);
    json.Key("coverage").Open('[');
    for (const std::string& note : side.coverage_notes) {
        json.Utf8(note);
    }
    json.Close(']').Close('}');
}

void WriteTotal(JsonOut& json, std::string_view key, const CountChange& change) {
    json.Key(key).Open('{');
    json.Key("change_per_s").Decimal(change.change_per_second);
    json.Key("ratio");
    if (change.ratio) {
        json.Decimal(*change.ratio);
    } else {
        json.Null();
    }
    json.Key("beyond_noise").Bool(change.beyond_noise).Close('}');
}

}  // namespace

std::string ComparisonJson(const Comparison& comparison) {
    std::string out;
    JsonOut json(out);
    json.Open('{').Key("format").Ascii(kComparisonFormat).Key("format_version").Unsigned(kComparisonFormatVersion);
    json.LineBreak().Key("before");
    WriteSide(json, comparison.before, comparison.wakes, comparison.idle_wakes, true);
    json.LineBreak().Key("after");
    WriteSide(json, comparison.after, comparison.wakes, comparison.idle_wakes, false);
    json.LineBreak();
    WriteTotal(json, "wakes", comparison.wakes);
    WriteTotal(json, "idle_wakes", comparison.idle_wakes);
    json.Key("notes").Open('[');
    for (const std::string& note : comparison.notes) {
        json.Utf8(note);
    }
    json.Close(']');
    json.LineBreak().Key("processes").Open('[');
    for (const ProcessComparison& process : comparison.processes) {
        json.LineBreak().Open('{');
        json.Key("name").Text(process.name);
        json.Key("command_line");
        if (process.command_line) {
            json.Text(*process.command_line);
        } else {
            json.Null();
        }
        json.Key("processes_before").Unsigned(process.processes_before);
        json.Key("processes_after").Unsigned(process.processes_after);
        json.Key("status").Ascii(PresenceName(process.presence));
        WriteChange(json, process.wakes, "wakes");
        json.Key("threads").Open('[');
        for (const ThreadGroupComparison& group : process.groups) {
            WriteGroup(json, group);
        }
        json.Close(']').Close('}');
    }
    json.Close(']');
    json.LineBreak().Key("routines").Open('[');
    for (const RoutineComparison& routine : comparison.routines) {
        json.LineBreak().Open('{').Key("kind").Ascii(RoutineKindName(routine.kind));
        json.Key("routine").Utf8(routine.routine);
        json.Key("module").Utf8(routine.module);
        json.Key("status").Ascii(PresenceName(routine.presence));
        WriteChange(json, routine.runs, "runs");
        json.Close('}');
    }
    json.Close(']').Close('}');
    out += '\n';
    return out;
}

}  // namespace dormiscope::view

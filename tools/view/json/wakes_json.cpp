#include "view/json/wakes_json.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string_view>

#include "report/name_text.h"
#include "view/json/kind_names.h"

namespace dormiscope::view {
namespace {

// UTF-8 as UTF-16 code units; a malformed sequence becomes U+FFFD.
std::wstring Utf16Of(std::string_view utf8) {
    std::wstring units;
    for (std::size_t index = 0; index < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[index]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length != 0 && index + length <= utf8.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto unit = static_cast<unsigned char>(utf8[index + next]);
            valid = (unit & 0xC0) == 0x80;
            code = (code << 6) | (unit & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            units += static_cast<wchar_t>(0xFFFD);
            ++index;
            continue;
        }
        if (code >= 0x10000) {
            units += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<wchar_t>(code);
        }
        index += length;
    }
    return units;
}

// A surrogate without its other half is no character, and JSON readers
// refuse it: it becomes U+FFFD, as a malformed UTF-8 sequence does.
std::wstring WithoutLoneSurrogates(std::wstring_view utf16) {
    const auto high = [](wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto low = [](wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::wstring units;
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        const wchar_t unit = utf16[index];
        if (high(unit) && index + 1 < utf16.size() && low(utf16[index + 1])) {
            units += unit;
            units += utf16[++index];
        } else {
            units += high(unit) || low(unit) ? static_cast<wchar_t>(0xFFFD) : unit;
        }
    }
    return units;
}

class JsonOut {
public:
    explicit JsonOut(std::string& out) : out_(out) {}

    JsonOut& Raw(std::string_view text) {
        out_ += text;
        return *this;
    }
    JsonOut& Key(std::string_view key) {
        Separate();
        out_ += '"';
        out_ += key;
        out_ += "\":";
        pending_value_ = true;
        return *this;
    }
    JsonOut& Open(char bracket) {
        Separate();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    JsonOut& Close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    JsonOut& Unsigned(std::uint64_t value) { return Value(std::to_string(value)); }
    JsonOut& Signed(std::int64_t value) { return Value(std::to_string(value)); }
    // Rates and shares: three decimals.
    JsonOut& Decimal(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", value);
        return Value(text);
    }
    // 100-ns units as milliseconds, exactly: four decimals.
    JsonOut& Milliseconds(std::uint64_t units) {
        char text[48];
        std::snprintf(text, sizeof text, "%" PRIu64 ".%04" PRIu64, units / 10000, units % 10000);
        return Value(text);
    }
    JsonOut& Text(std::wstring_view utf16) {
        Separate();
        out_ += '"';
        for (const wchar_t unit : JsonStringContent(WithoutLoneSurrogates(utf16))) {
            out_ += static_cast<char>(unit);
        }
        out_ += '"';
        return *this;
    }
    JsonOut& Ascii(std::string_view text) { return Text(std::wstring(text.begin(), text.end())); }
    // Frame and module texts are UTF-8; they are escaped like names.
    JsonOut& Utf8(std::string_view text) { return Text(Utf16Of(text)); }
    JsonOut& Null() { return Value("null"); }
    JsonOut& Bool(bool value) { return Value(value ? "true" : "false"); }
    // The next element starts a new line, so that documents diff by process.
    JsonOut& LineBreak() {
        break_next_ = true;
        return *this;
    }

private:
    JsonOut& Value(std::string_view text) {
        Separate();
        out_ += text;
        return *this;
    }
    // A comma before every element but the first of its object or array.
    void Separate() {
        if (pending_value_) {
            pending_value_ = false;
            return;
        }
        if (!first_) {
            out_ += ',';
        }
        if (break_next_) {
            out_ += '\n';
            break_next_ = false;
        }
        first_ = false;
    }

    std::string& out_;
    bool first_ = true;
    bool pending_value_ = false;
    bool break_next_ = false;
};

template <typename Key>
void CountMap(JsonOut& json, const std::map<Key, std::uint64_t>& counts) {
    json.Open('{');
    for (const auto& [key, count] : counts) {
        json.Key(std::to_string(key)).Unsigned(count);
    }
    json.Close('}');
}

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
        json.Ascii(note);
    }
    json.Close(']');
    json.Close('}');
    json.LineBreak().Key("processes").Open('[');
    for (const ProcessFigures& process : figures.processes) {
        json.LineBreak().Open('{');
        json.Key("pid").Unsigned(process.process_id);
        json.Key("name").Text(process.name);
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

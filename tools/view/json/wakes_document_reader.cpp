#include "view/json/wakes_document_reader.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <map>

#include "report/name_text.h"
#include "view/json/json_tokens.h"
#include "view/json/kind_names.h"
#include "view/json/token_cursor.h"
#include "view/json/wakes_json.h"

namespace dormiscope::view {
namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
// The deepest a document nests: a frame's list in a stack of a thread of a process.
constexpr std::size_t kDocumentDepth = 8;
// Rates and shares beyond this would not print with three decimals in the
// writer's buffer; no count over any duration reaches it.
constexpr double kLargestRate = 1e30;
// 100-ns units per millisecond: times are written with four decimals.
constexpr unsigned kMillisecondDecimals = 4;

double Rate(TokenCursor& in) {
    const double value = in.Number();
    if (value < 0 || value >= kLargestRate) {
        in.Refuse("expected a rate or share of 0 or more, below 1e30");
    }
    return value;
}

// Names as UTF-16 code units, as the figures hold the trace's names.
std::wstring Name(TokenCursor& in) {
    return NameText(in.Text());
}

// A whole number as std::to_string writes it, in the given range.
std::optional<std::int64_t> WholeNumber(std::string_view text, std::int64_t smallest, std::int64_t largest) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || std::to_string(value) != text ||
        value < smallest || value > largest) {
        return std::nullopt;
    }
    return value;
}

// Class and C-state keys are numbers.
template <typename Key>
Key NumberKey(const TokenCursor& in, std::string_view key, std::int64_t smallest, std::int64_t largest) {
    const std::optional<std::int64_t> value = WholeNumber(key, smallest, largest);
    if (!value) {
        in.Refuse("expected a whole number from " + std::to_string(smallest) + " to " + std::to_string(largest) +
                  " as the key");
    }
    return static_cast<Key>(*value);
}

template <typename Key>
std::map<Key, std::uint64_t> Counts(TokenCursor& in, std::int64_t smallest, std::int64_t largest) {
    std::map<Key, std::uint64_t> counts;
    in.Entries([&](std::string_view key) {
        const Key number = NumberKey<Key>(in, key, smallest, largest);
        if (!counts.emplace(number, in.Unsigned(kMax64)).second) {
            in.Refuse("the same class given twice");
        }
    });
    return counts;
}

std::map<std::uint8_t, std::uint64_t> CStateCounts(TokenCursor& in) {
    return Counts<std::uint8_t>(in, 0, std::numeric_limits<std::uint8_t>::max());
}

std::uint64_t Milliseconds(TokenCursor& in) {
    return in.Scaled(kMillisecondDecimals);
}

CodeFigures Code(TokenCursor& in) {
    CodeFigures code;
    std::map<std::string_view, std::uint64_t*> counts = {
        {"images", &code.images},
        {"image_identities", &code.image_identities},
        {"stacks", &code.stacks},
        {"stacks_matched", &code.stacks_matched},
        {"stacks_unmatched", &code.stacks_unmatched},
        {"stacks_of_other_events", &code.stacks_of_other_events},
        {"stack_keys_undefined", &code.stack_keys_undefined},
        {"stacks_damaged", &code.stacks_damaged},
        {"images_ignored", &code.images_ignored},
        {"dpcs", &code.dpcs},
        {"interrupts", &code.interrupts},
        {"readies_from_dpc", &code.readies_from_dpc},
        {"readies_from_dpc_not_recorded", &code.readies_from_dpc_not_recorded},
    };
    in.Object({"images", "image_identities", "stacks", "stacks_matched", "stacks_unmatched", "stacks_of_other_events",
               "stack_keys_undefined", "stacks_damaged", "images_ignored", "dpcs", "interrupts", "readies_from_dpc",
               "readies_from_dpc_not_recorded"},
              [&](std::string_view key) { *counts.at(key) = in.Unsigned(kMax64); });
    return code;
}

symbols::PdbIdentity Pdb(TokenCursor& in) {
    symbols::PdbIdentity pdb;
    in.Object({"pdb", "guid", "age"}, [&](std::string_view field) {
        if (field == "pdb") {
            pdb.pdb_name = in.Text();
            if (pdb.pdb_name.find_first_of("\\/") != std::string::npos) {
                in.Refuse("expected a PDB's file name, found a path");
            }
        } else if (field == "guid") {
            const std::optional<std::array<std::uint8_t, 16>> guid = symbols::GuidFromText(in.Text());
            if (!guid) {
                in.Refuse("expected a GUID such as {12345678-9ABC-DEF0-1234-56789ABCDEF0}");
            }
            pdb.guid = *guid;
        } else {
            pdb.age = static_cast<std::uint32_t>(in.Unsigned(kMax32));
        }
    });
    return pdb;
}

std::optional<symbols::SymbolSummary> Symbols(TokenCursor& in) {
    if (in.Null()) {
        return std::nullopt;
    }
    symbols::SymbolSummary summary;
    in.Object({"modules", "modules_with_symbols", "missing", "unreadable", "without_identity"},
              [&](std::string_view key) {
                  if (key == "modules") {
                      summary.modules = in.Unsigned(std::numeric_limits<std::size_t>::max());
                  } else if (key == "modules_with_symbols") {
                      summary.modules_with_symbols = in.Unsigned(std::numeric_limits<std::size_t>::max());
                  } else if (key == "without_identity") {
                      in.Array([&] { summary.without_identity.emplace_back(in.Text()); });
                  } else {
                      std::vector<symbols::PdbIdentity>& pdbs = key == "missing" ? summary.missing : summary.unreadable;
                      in.Array([&] { pdbs.push_back(Pdb(in)); });
                  }
              });
    return summary;
}

std::optional<double> OptionalRate(TokenCursor& in) {
    return in.Null() ? std::nullopt : std::optional<double>(Rate(in));
}

// A resolution in milliseconds, as 100-ns units.
std::uint32_t Resolution(TokenCursor& in) {
    const std::uint64_t units = Milliseconds(in);
    if (units > kMax32) {
        in.Refuse("expected a resolution up to 429496.7295 ms");
    }
    return static_cast<std::uint32_t>(units);
}

TimerRequestFigure TimerRequest(TokenCursor& in) {
    TimerRequestFigure request;
    in.Object({"pid", "name", "resolutions", "changes", "changes_per_s", "held_at_start", "held_at_end", "stack"},
              [&](std::string_view key) {
                  if (key == "pid") {
                      request.process_id = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "name") {
                      request.name = Name(in);
                  } else if (key == "resolutions") {
                      in.Array([&] {
                          TimerHoldFigure& hold = request.holds.emplace_back();
                          in.Object({"resolution_ms", "held_s", "share"}, [&](std::string_view field) {
                              if (field == "resolution_ms") {
                                  hold.resolution = Resolution(in);
                              } else if (field == "held_s") {
                                  // Seconds with three decimals, kept in 100-ns units.
                                  const std::uint64_t milliseconds = in.Scaled(3);
                                  if (milliseconds > kMax64 / 10'000) {
                                      in.Refuse("expected a time the recording can hold");
                                  }
                                  hold.held = milliseconds * 10'000;
                              } else {
                                  hold.share = Rate(in);
                              }
                          });
                      });
                  } else if (key == "changes") {
                      request.changes = in.Unsigned(kMax64);
                  } else if (key == "changes_per_s") {
                      request.changes_per_second = Rate(in);
                  } else if (key == "held_at_start") {
                      request.held_at_start = in.Bool();
                  } else if (key == "held_at_end") {
                      request.held_at_end = in.Bool();
                  } else {
                      in.Array([&] { request.stack.emplace_back(in.Text()); });
                  }
              });
    return request;
}

TimerResolutionFigures TimerRequests(TokenCursor& in) {
    TimerResolutionFigures timer;
    in.Object({"events", "unknown_layout", "finest_ms", "idle_wakes_per_s_at_finest", "idle_wakes_per_s_otherwise",
               "effective", "kernel_changes", "processes"},
              [&](std::string_view key) {
                  if (key == "events") {
                      timer.events = in.Unsigned(kMax64);
                  } else if (key == "unknown_layout") {
                      timer.unknown_layout = in.Unsigned(kMax64);
                  } else if (key == "finest_ms") {
                      if (!in.Null()) {
                          timer.finest = Resolution(in);
                      }
                  } else if (key == "idle_wakes_per_s_at_finest") {
                      timer.idle_wakes_per_second_at_finest = OptionalRate(in);
                  } else if (key == "idle_wakes_per_s_otherwise") {
                      timer.idle_wakes_per_second_otherwise = OptionalRate(in);
                  } else if (key == "effective") {
                      in.Array([&] {
                          ResolutionStep& step = timer.effective.emplace_back();
                          in.Object({"at_ms", "resolution_ms"}, [&](std::string_view field) {
                              if (field == "at_ms") {
                                  step.at = Milliseconds(in);
                              } else {
                                  step.resolution = Resolution(in);
                              }
                          });
                      });
                  } else if (key == "kernel_changes") {
                      in.Array([&] {
                          KernelResolutionChange& change = timer.kernel_changes.emplace_back();
                          in.Object({"at_ms", "requested_ms"}, [&](std::string_view field) {
                              if (field == "at_ms") {
                                  change.at = Milliseconds(in);
                              } else {
                                  change.requested = Resolution(in);
                              }
                          });
                      });
                  } else {
                      in.Array([&] { timer.requests.push_back(TimerRequest(in)); });
                  }
              });
    return timer;
}

RoutineFigure Routine(TokenCursor& in) {
    RoutineFigure routine;
    in.Object({"kind", "routine", "module", "count", "per_s", "total_ms", "median_ms", "readied", "started_idle"},
              [&](std::string_view key) {
                  if (key == "kind") {
                      const std::optional<RoutineKind> kind = RoutineKindNamed(in.Text());
                      if (!kind) {
                          in.Refuse("expected \"dpc\", \"threaded_dpc\", \"timer_dpc\" or \"interrupt\"");
                      }
                      routine.kind = *kind;
                  } else if (key == "routine") {
                      routine.routine = in.Text();
                  } else if (key == "module") {
                      routine.module = in.Text();
                  } else if (key == "count") {
                      routine.count = in.Unsigned(kMax64);
                  } else if (key == "per_s") {
                      routine.per_second = Rate(in);
                  } else if (key == "total_ms") {
                      routine.total = Milliseconds(in);
                  } else if (key == "median_ms") {
                      routine.median = Milliseconds(in);
                  } else if (key == "readied") {
                      routine.readied = in.Unsigned(kMax64);
                  } else {
                      routine.started_idle = in.Unsigned(kMax64);
                  }
              });
    return routine;
}

void Trace(TokenCursor& in, TraceFigures& figures) {
    in.Object({"duration_ms", "processors", "pointer_size", "events", "context_switches", "ready_events", "wakes", "wakes_per_s",
               "idle_wakes", "idle_wakes_per_s_by_processor", "processors_without_events", "idle_exit_cstates",
               "events_lost", "buffers_lost", "timeline_slices", "timer_resolution_ms", "timer_requests", "code",
               "symbols", "routines", "coverage", "notes"},
              [&](std::string_view key) {
                  if (key == "duration_ms") {
                      figures.duration = Milliseconds(in);
                  } else if (key == "processors") {
                      figures.processors = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "pointer_size") {
                      figures.pointer_size = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "events") {
                      figures.events = in.Unsigned(kMax64);
                  } else if (key == "context_switches") {
                      figures.context_switches = in.Unsigned(kMax64);
                  } else if (key == "ready_events") {
                      figures.ready_events = in.Unsigned(kMax64);
                  } else if (key == "wakes") {
                      figures.wakes = in.Unsigned(kMax64);
                  } else if (key == "wakes_per_s") {
                      figures.wakes_per_second = Rate(in);
                  } else if (key == "idle_wakes") {
                      figures.idle_wakes = in.Unsigned(kMax64);
                  } else if (key == "idle_wakes_per_s_by_processor") {
                      in.Array([&] { figures.idle_wakes_per_second_by_processor.push_back(Rate(in)); });
                  } else if (key == "processors_without_events") {
                      in.Array([&] {
                          figures.processors_without_events.push_back(static_cast<std::uint32_t>(in.Unsigned(kMax32)));
                      });
                  } else if (key == "idle_exit_cstates") {
                      figures.idle_exit_cstates = CStateCounts(in);
                  } else if (key == "events_lost") {
                      figures.events_lost = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "buffers_lost") {
                      figures.buffers_lost = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "timeline_slices") {
                      if (in.Unsigned(kMax64) != kTimelineSlices) {
                          in.Refuse("this version's timelines have " + std::to_string(kTimelineSlices) + " slices");
                      }
                  } else if (key == "timer_resolution_ms") {
                      figures.timer_resolution = Milliseconds(in);
                  } else if (key == "timer_requests") {
                      figures.timer_requests = TimerRequests(in);
                  } else if (key == "code") {
                      figures.code = Code(in);
                  } else if (key == "symbols") {
                      figures.symbols = Symbols(in);
                  } else if (key == "routines") {
                      in.Array([&] { figures.routines.push_back(Routine(in)); });
                  } else if (key == "coverage") {
                      in.Array([&] { figures.coverage_notes.emplace_back(in.Text()); });
                  } else {
                      in.Array([&] { figures.trace_notes.emplace_back(in.Text()); });
                  }
              });
}

std::optional<IntervalFigure> Intervals(TokenCursor& in) {
    if (in.Null()) {
        return std::nullopt;
    }
    IntervalFigure intervals;
    in.Object({"count", "p10", "median", "p90"}, [&](std::string_view key) {
        if (key == "count") {
            intervals.count = in.Unsigned(kMax64);
        } else {
            (key == "p10" ? intervals.p10 : key == "median" ? intervals.median : intervals.p90) = Milliseconds(in);
        }
    });
    return intervals;
}

// "15ms", as the report names a periodicity.
std::optional<std::int32_t> Periodicity(TokenCursor& in) {
    if (in.Null()) {
        return std::nullopt;
    }
    const std::string_view text = in.Text();
    constexpr std::string_view kUnit = "ms";
    const std::optional<std::int64_t> period =
        text.ends_with(kUnit) ? WholeNumber(text.substr(0, text.size() - kUnit.size()),
                                            std::numeric_limits<std::int32_t>::min(),
                                            std::numeric_limits<std::int32_t>::max())
                              : std::nullopt;
    if (!period) {
        in.Refuse("expected a periodicity such as \"15ms\"");
    }
    return static_cast<std::int32_t>(*period);
}

ReadierFigure Readier(TokenCursor& in) {
    ReadierFigure readier;
    std::optional<ReadierKind> kind;
    in.Peek("kind", [&] { kind = ReadierKindNamed(in.Text()); });
    if (!kind) {
        in.Refuse("expected a \"kind\" of \"thread\", \"dpc\" or \"unknown\"");
    }
    readier.kind = *kind;
    const auto read = [&](std::string_view key) {
        if (key == "kind") {
            in.Text();
        } else if (key == "tid") {
            readier.thread_id = static_cast<std::uint32_t>(in.Unsigned(kMax32));
        } else if (key == "pid") {
            readier.process_id = static_cast<std::uint32_t>(in.Unsigned(kMax32));
        } else if (key == "process") {
            readier.process_name = Name(in);
        } else if (key == "routine") {
            const std::string_view routine = in.Text();
            if (routine != "not recorded") {
                readier.routine = routine;
            }
        } else {
            readier.count = in.Unsigned(kMax64);
        }
    };
    switch (readier.kind) {
        case ReadierKind::kThread:
            in.Object({"kind", "tid", "pid", "process", "count"}, read);
            break;
        case ReadierKind::kDpc:
            in.Object({"kind", "routine", "count"}, read);
            break;
        case ReadierKind::kUnknown:
            in.Object({"kind", "count"}, read);
            break;
    }
    return readier;
}

StackFigure Stack(TokenCursor& in) {
    StackFigure stack;
    in.Object({"count", "share", "frames"}, [&](std::string_view key) {
        if (key == "count") {
            stack.count = in.Unsigned(kMax64);
        } else if (key == "share") {
            stack.share = Rate(in);
        } else {
            in.Array([&] { stack.frames.emplace_back(in.Text()); });
        }
    });
    return stack;
}

std::vector<StackFigure> Stacks(TokenCursor& in) {
    std::vector<StackFigure> stacks;
    in.Array([&] { stacks.push_back(Stack(in)); });
    return stacks;
}

ThreadFigures Thread(TokenCursor& in) {
    ThreadFigures thread;
    in.Object({"tid", "name", "start", "wakes", "wakes_per_s", "idle_wakes", "idle_wakes_by_cstate", "on_processor_ms",
               "off_processor_ms", "periodicity", "regularity", "period_classes", "readiers", "wait_stacks",
               "readying_stacks", "timeline"},
              [&](std::string_view key) {
                  if (key == "tid") {
                      thread.thread_id = static_cast<std::uint32_t>(in.Unsigned(kMax32));
                  } else if (key == "name") {
                      thread.name = Name(in);
                  } else if (key == "start") {
                      thread.start = in.Null() ? std::nullopt : std::optional<std::string>(in.Text());
                  } else if (key == "wakes") {
                      thread.wakes = in.Unsigned(kMax64);
                  } else if (key == "wakes_per_s") {
                      thread.wakes_per_second = Rate(in);
                  } else if (key == "idle_wakes") {
                      thread.idle_wakes = in.Unsigned(kMax64);
                  } else if (key == "idle_wakes_by_cstate") {
                      thread.idle_wakes_by_cstate = CStateCounts(in);
                  } else if (key == "on_processor_ms") {
                      thread.on_processor = Milliseconds(in);
                  } else if (key == "off_processor_ms") {
                      thread.intervals = Intervals(in);
                  } else if (key == "periodicity") {
                      thread.periodicity_ms = Periodicity(in);
                  } else if (key == "regularity") {
                      thread.regularity = in.Null() ? std::nullopt : std::optional<double>(Rate(in));
                  } else if (key == "period_classes") {
                      thread.period_classes = Counts<std::int64_t>(in, std::numeric_limits<std::int64_t>::min(),
                                                                   std::numeric_limits<std::int64_t>::max());
                  } else if (key == "readiers") {
                      if (!in.Null()) {
                          thread.top_readiers.emplace();
                          in.Array([&] { thread.top_readiers->push_back(Readier(in)); });
                      }
                  } else if (key == "wait_stacks") {
                      thread.wait_stacks = Stacks(in);
                  } else if (key == "readying_stacks") {
                      thread.readying_stacks = Stacks(in);
                  } else {
                      in.Array([&] { thread.timeline.push_back(static_cast<std::uint32_t>(in.Unsigned(kMax32))); });
                      if (!thread.timeline.empty() && thread.timeline.size() != kTimelineSlices) {
                          in.Refuse("expected " + std::to_string(kTimelineSlices) + " slices, or none, found " +
                                    std::to_string(thread.timeline.size()));
                      }
                  }
              });
    return thread;
}

ProcessFigures Process(TokenCursor& in) {
    ProcessFigures process;
    in.Object({"pid", "name", "command_line", "wakes", "wakes_per_s", "threads"}, [&](std::string_view key) {
        if (key == "pid") {
            process.process_id = static_cast<std::uint32_t>(in.Unsigned(kMax32));
        } else if (key == "name") {
            process.name = Name(in);
        } else if (key == "command_line") {
            process.command_line = Name(in);
        } else if (key == "wakes") {
            process.wakes = in.Unsigned(kMax64);
        } else if (key == "wakes_per_s") {
            process.wakes_per_second = Rate(in);
        } else {
            in.Array([&] { process.threads.push_back(Thread(in)); });
        }
    });
    return process;
}

// The format first, so that another document is named as such rather than by
// the first key it does not share.
void CheckFormat(TokenCursor& in) {
    std::string format;
    if (!in.Peek("format", [&] { format = in.Text(); })) {
        in.Refuse("no \"format\" key: not a wakes document written by dormiscope-view --json");
    }
    if (format != kWakesFormat) {
        in.Refuse("the format is \"" + format + "\", not \"" + std::string(kWakesFormat) + "\"");
    }
    std::uint64_t version = 0;
    if (!in.Peek("format_version", [&] { version = in.Unsigned(kMax64); })) {
        in.Refuse("no \"format_version\" key");
    }
    if (version != kWakesFormatVersion) {
        in.Refuse("format version " + std::to_string(version) + "; this dormiscope-view reads version " +
                  std::to_string(kWakesFormatVersion));
    }
}

}  // namespace

WakesDocument ReadWakesDocument(std::string_view text) {
    const JsonTokens tokens = TokenizeJson(text, kDocumentDepth);
    if (!tokens.error.empty()) {
        return {std::nullopt, tokens.error};
    }
    TraceFigures figures;
    try {
        TokenCursor document(tokens);
        CheckFormat(document);
        document.Object({"format", "format_version", "trace", "processes"}, [&](std::string_view key) {
            if (key == "format") {
                document.Text();
            } else if (key == "format_version") {
                document.Unsigned(kMax64);
            } else if (key == "trace") {
                Trace(document, figures);
            } else {
                document.Array([&] { figures.processes.push_back(Process(document)); });
            }
        });
    } catch (const DocumentRefusal& refusal) {
        return {std::nullopt, refusal.what()};
    }
    return {std::move(figures), {}};
}

}  // namespace dormiscope::view

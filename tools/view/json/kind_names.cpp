#include "view/json/kind_names.h"

namespace dormiscope::view {

std::string_view ReadierKindName(ReadierKind kind) {
    switch (kind) {
        case ReadierKind::kThread:
            return "thread";
        case ReadierKind::kDpc:
            return "dpc";
        case ReadierKind::kUnknown:
            break;
    }
    return "unknown";
}

std::string_view RoutineKindName(RoutineKind kind) {
    switch (kind) {
        case RoutineKind::kThreadedDpc:
            return "threaded_dpc";
        case RoutineKind::kTimerDpc:
            return "timer_dpc";
        case RoutineKind::kInterrupt:
            return "interrupt";
        case RoutineKind::kDpc:
            break;
    }
    return "dpc";
}

std::optional<ReadierKind> ReadierKindNamed(std::string_view name) {
    for (const ReadierKind kind : {ReadierKind::kThread, ReadierKind::kDpc, ReadierKind::kUnknown}) {
        if (ReadierKindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<RoutineKind> RoutineKindNamed(std::string_view name) {
    for (const RoutineKind kind :
         {RoutineKind::kDpc, RoutineKind::kThreadedDpc, RoutineKind::kTimerDpc, RoutineKind::kInterrupt}) {
        if (RoutineKindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

}  // namespace dormiscope::view

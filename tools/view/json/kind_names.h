// The document's texts for the kinds of readiers and routines, for the writer
// and the reader alike.
#pragma once

#include <optional>
#include <string_view>

#include "view/figures/wake_kinds.h"

namespace dormiscope::view {

std::string_view ReadierKindName(ReadierKind kind);
std::string_view RoutineKindName(RoutineKind kind);

// The kind a text names; none for a text no kind has.
std::optional<ReadierKind> ReadierKindNamed(std::string_view name);
std::optional<RoutineKind> RoutineKindNamed(std::string_view name);

}  // namespace dormiscope::view

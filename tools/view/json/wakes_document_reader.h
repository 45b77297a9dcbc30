// A wakes document written by `--json`, read back into the figures it was
// written from: WakesJson of the figures read gives the document's bytes
// again. What the comparison of two recordings reads a stored side with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

struct WakesDocument {
    std::optional<TraceFigures> figures;  // none when refused
    std::string refusal;                  // what is wrong, and at which key path
};

// Refuses a document of another format or version, one that is not JSON or
// is cut short, and any key missing, unknown, given twice or of the wrong
// type or range. The figures read have no summary notes (the page's own).
WakesDocument ReadWakesDocument(std::string_view text);

}  // namespace dormiscope::view

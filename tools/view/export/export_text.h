// Names and readiers as the exports write them: UTF-8 text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "view/figures/utf8_text.h"
#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// "app.exe (pid 720) tid 96", "DPC ntoskrnl.exe+0x9000", "DPC (routine not
// recorded)", "unknown".
std::string ReadierText(const ReadierFigure& readier);

// Who readied the wakes of one of a thread's stack combinations: as
// ReadierText, but "DPC or interrupt" for any DPC (its readying stack names
// the routine) and "no ready seen" when no ready came before the wakes.
std::string WakerText(const std::optional<ReadierFigure>& readier);

}  // namespace dormiscope::view

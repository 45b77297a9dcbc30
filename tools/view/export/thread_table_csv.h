// The page's thread table as CSV (RFC 4180): a heading row, then one row per
// thread, grouped by process as the figures order them, lines ended by CRLF.
// Fields holding a comma, a quote, CR or LF are quoted, quotes doubled; text
// is UTF-8. Times are in milliseconds; a figure the thread lacks is empty.
#pragma once

#include <string>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

std::string ThreadTableCsv(const TraceFigures& figures);

}  // namespace dormiscope::view

// The style sheet and the scripts of the wake page, kept in the page itself so
// that it works offline and asks the network for nothing. The scripts run as
// one function body in the order below: the table script builds on the
// cells' helpers.
#pragma once

#include <string_view>

namespace dormiscope::view {

extern const std::string_view kPageStyle;
// What one thread's row shows: numbers, the period and its regularity, the
// period-class bars, the timeline, the readiers.
extern const std::string_view kCellScript;
// The table from the JSON document in the element "wake-data": which
// processes are shown, sorting from the headings, threads that never woke
// folded per process.
extern const std::string_view kTableScript;
// The tooltip that shows the name of a bar or slice under the pointer.
extern const std::string_view kTooltipScript;

}  // namespace dormiscope::view

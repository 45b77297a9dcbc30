// The style sheet and the scripts of the wake page, kept in the page itself so
// that it works offline and asks the network for nothing. The scripts run as
// one function body in the order below: the later scripts build on the
// helpers of the earlier ones, and the table script reads the document.
#pragma once

#include <string_view>

namespace dormiscope::view {

extern const std::string_view kPageStyle;
// What one thread's row shows: numbers, the period and its regularity, the
// period-class bars, the timeline, the readiers.
extern const std::string_view kCellScript;
// Headings that sort a table, from the mouse and the keyboard.
extern const std::string_view kSortingScript;
// A thread's wait and readying stacks in a detail row opened from its row.
extern const std::string_view kStackScript;
// The table from the JSON document in the element "wake-data": which
// processes are shown, sorting from the headings, threads that never woke
// folded per process.
extern const std::string_view kTableScript;
// The DPCs and interrupts by routine, shown when the trace recorded any.
extern const std::string_view kRoutineScript;
// Summary cards drawn from the document: the timer resolution.
extern const std::string_view kSummaryScript;
// The tooltip that shows the name of a bar or slice under the pointer.
extern const std::string_view kTooltipScript;

}  // namespace dormiscope::view

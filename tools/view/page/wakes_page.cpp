#include "view/page/wakes_page.h"

#include "report/name_text.h"
#include "view/page/page_assets.h"
#include "view/page/page_text.h"
#include "view/page/summary_section.h"

namespace dormiscope::view {
namespace {

std::string Seconds(std::uint64_t units) {
    return Grouped(static_cast<double>(units) / 1e7, 3);
}

void AppendCoverageBanner(std::string& out, const TraceFigures& figures) {
    if (figures.coverage_notes.empty()) {
        return;
    }
    out += "<div class=\"banner\" id=\"coverage\" role=\"alert\"><b>Incomplete trace.</b>";
    for (const std::string& note : figures.coverage_notes) {
        out += "<p>" + HtmlText(NameText(note)) + "</p>";
    }
    out += "</div>";
}

// The table itself is filled in by the page's script; the legend comes first
// so that it is read before fifty processes of rows.
void AppendThreadSection(std::string& out) {
    out += "<section id=\"threads\"><h2>Processes and threads</h2><div class=\"legend\" id=\"table-legend\"><p>"
           "Every thread of the trace, grouped by process. The 50 busiest processes (most wakes) are shown "
           "whatever the sort, and \xE2\x80\x9CShow all\xE2\x80\x9D adds the rest; threads that never woke are "
           "folded under their process behind their count. Sort by a column with its heading (click, or Enter "
           "on it); again to reverse.</p><p>Wakes are switch-ins; idle wakes are those on a processor whose "
           "previous thread was its idle thread, by the C-state index it left. Off-processor times run from a "
           "switch-out to the thread's next switch-in: median with the 10th\xE2\x80\x93" "90th percentile range. "
           "Period is the dormiscope report's periodicity (\xE2\x80\x94 where the report leaves the thread out), "
           "with the share of the thread's period-class intervals that fall in its class; below half, the "
           "thread is marked irregular.</p><p>Period classes: intervals per class, 1 ms to 10 s from left to "
           "right. Only off-processor intervals from 1 ms to 1 s are counted, the ones dormiscope clusters, so "
           "a thread waking every millisecond shows fewer intervals than wakes (those just under 1 ms are left "
           "out). Timeline: wakes across the trace, darker is more; hover a bar or a slice for its figures. "
           "Readiers come from ReadyThread events; \xE2\x80\x9C" "DPC/interrupt\xE2\x80\x9D is a ready logged "
           "by a deferred procedure call.</p></div>"
           "<noscript><p>The table needs JavaScript; the same figures are in the JSON document inside this page."
           "</p></noscript><div class=\"table-box\"><table id=\"wake-table\"><thead id=\"wake-head\"></thead>"
           "<tbody id=\"wake-rows\"></tbody></table></div><button id=\"show-all\" type=\"button\" hidden></button>"
           "</section>";
}

// Filled and shown by the page's script only when the trace recorded DPCs or interrupts.
void AppendRoutineSection(std::string& out) {
    out += "<section id=\"routines\" hidden><h2>DPCs and interrupts</h2><p class=\"legend\">Deferred procedure "
           "calls and interrupt service routines by the code they ran (module and routine, "
           "\xE2\x80\x9Cunknown\xE2\x80\x9D where no loaded image held it): runs, runs per second, the time they "
           "took in all and the median run, and how many readied a thread or began on a processor that was idle; "
           "sort by a column with its heading.</p><div class=\"table-box\"><table id=\"routine-table\"><thead id=\"routine-head\"></thead>"
           "<tbody id=\"routine-rows\"></tbody></table></div></section>";
}

void AppendData(std::string& out, std::string_view json) {
    out += "<script type=\"application/json\" id=\"wake-data\">";
    // Inside a script element only "<" could end it early; JSON strings take its escape.
    for (const char character : json) {
        if (character == '<') {
            out += "\\u003c";
        } else {
            out += character;
        }
    }
    out += "</script>";
}

}  // namespace

std::string WakesPage(const TraceFigures& figures, std::string_view json, std::string_view trace_name) {
    const std::string source = HtmlText(NameText(trace_name));
    std::string out;
    out.reserve(json.size() + 64 * 1024);
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
           "script-src 'unsafe-inline'\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>Wakes: " +
           source + "</title><style>";
    out += kPageStyle;
    out += "</style></head><body><header><h1>Who wakes this machine</h1><p class=\"source\">" + source + " \xC2\xB7 " +
           Seconds(figures.duration) + " s \xC2\xB7 " + CountOf(figures.processors, "processor", "processors") +
           "</p></header>";
    AppendCoverageBanner(out, figures);
    AppendSummary(out, figures);
    AppendThreadSection(out);
    AppendRoutineSection(out);
    AppendData(out, json);
    out += "<script>(function () {\n\"use strict\";\n";
    out += kCellScript;
    out += kSortingScript;
    out += kStackScript;
    out += kTableScript;
    out += kRoutineScript;
    out += kSummaryScript;
    out += kTooltipScript;
    out += "})();</script></body></html>\n";
    return out;
}

}  // namespace dormiscope::view

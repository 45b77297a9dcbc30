#include "view/page/summary_section.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "report/name_text.h"
#include "view/page/page_text.h"

namespace dormiscope::view {
namespace {

constexpr const char* kCStateColours[] = {"#2f6fde", "#5aa469", "#e0a526", "#d2452f", "#8c5bd6", "#3aa6b9"};

// SVG coordinates: one decimal is finer than a pixel.
std::string Coordinate(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

void Card(std::string& out, const std::string& value, std::string_view label) {
    out += "<div class=\"card\"><b>" + value + "</b><span>";
    out += label;
    out += "</span></div>";
}

void CountCard(std::string& out, std::uint64_t count, std::string_view singular, std::string_view plural) {
    Card(out, Grouped(count), count == 1 ? singular : plural);
}

// Idle exits by C-state index as one bar of shares, with its legend.
void CStateChart(std::string& out, const TraceFigures& figures) {
    constexpr double kWidth = 480;
    out += "<figure><svg width=\"480\" height=\"44\" viewBox=\"0 0 480 44\" role=\"group\" "
           "aria-label=\"Idle exits by C-state index\"><rect width=\"480\" height=\"20\" fill=\"#eef2f9\"/>";
    std::string legend;
    double x = 0;
    std::size_t colour = 0;
    for (const auto& [cstate, count] : figures.idle_exit_cstates) {
        const double share = static_cast<double>(count) / static_cast<double>(figures.idle_wakes);
        const char* fill = kCStateColours[colour++ % std::size(kCStateColours)];
        // Built piece by piece: GCC 12 warns falsely on a chain of + starting from a literal here.
        std::string label = "C";
        label += std::to_string(cstate);
        label += ": ";
        label += CountOf(count, "idle exit", "idle exits");
        label += " (";
        label += Grouped(share * 100, 1);
        label += " %)";
        out += "<rect x=\"" + Coordinate(x) + "\" width=\"" + Coordinate(share * kWidth) +
               "\" height=\"20\" fill=\"" + fill + "\" role=\"img\" aria-label=\"" + label + "\"/>";
        x += share * kWidth;
        legend += "<span style=\"color:" + std::string(fill) + "\">&#9632;</span> " + label + " ";
    }
    out += "<text x=\"0\" y=\"34\" font-size=\"10\" fill=\"#5b6475\" aria-hidden=\"true\">0 %</text>"
           "<text x=\"480\" y=\"34\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\" aria-hidden=\"true\">"
           "100 % of " +
           CountOf(figures.idle_wakes, "idle wake", "idle wakes") +
           "</text></svg><figcaption>C-state mix: the share of idle exits by the C-state index the processor left "
           "(raw index as the trace records it). " +
           legend + "</figcaption></figure>";
}

// Idle wakes per second of each processor as bars; a processor that logged
// no event is a grey bar of full height, not a bar of 0.
void ProcessorChart(std::string& out, const TraceFigures& figures) {
    const std::vector<double>& rates = figures.idle_wakes_per_second_by_processor;
    const std::vector<std::uint32_t>& silent = figures.processors_without_events;
    const double highest = rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end());
    // The bars start at 48, leaving the y axis's labels room for a thousands separator.
    const double slot = rates.empty() ? 0 : 432.0 / static_cast<double>(rates.size());
    out += "<figure><svg width=\"480\" height=\"120\" viewBox=\"0 0 480 120\" role=\"group\" "
           "aria-label=\"Idle wakes per second by processor\">"
           "<line x1=\"48\" y1=\"100\" x2=\"480\" y2=\"100\" stroke=\"#5b6475\"/>"
           "<text x=\"44\" y=\"12\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\" aria-hidden=\"true\">" +
           Grouped(highest, 1) +
           "</text><text x=\"44\" y=\"100\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\" "
           "aria-hidden=\"true\">0</text><g fill=\"#2f6fde\">";
    for (std::size_t index = 0; index < rates.size(); ++index) {
        const bool no_events = std::find(silent.begin(), silent.end(), index) != silent.end();
        const double height = no_events ? 90 : highest > 0 ? 90 * rates[index] / highest : 0;
        out += "<rect x=\"" + Coordinate(48 + slot * static_cast<double>(index) + slot * 0.1) + "\" y=\"" +
               Coordinate(100 - height) + "\" width=\"" + Coordinate(slot * 0.8) + "\" height=\"" +
               Coordinate(height) + "\" role=\"img\" aria-label=\"processor " + std::to_string(index) + ": " +
               (no_events ? std::string("no events recorded\" fill=\"#d9dee7")
                          : Grouped(rates[index], 2) + " idle wakes/s") +
               "\"/>";
    }
    out += "</g><text x=\"264\" y=\"116\" font-size=\"10\" text-anchor=\"middle\" fill=\"#5b6475\" "
           "aria-hidden=\"true\">processor 0 to " +
           std::to_string(rates.empty() ? 0 : rates.size() - 1) +
           "</text></svg><figcaption>Idle wakes per second on each processor (y axis: wakes/s; x axis: processor "
           "index).";
    if (!silent.empty()) {
        out += " Grey: no events recorded on " + CountOf(silent.size(), "processor", "processors") +
               ": their rate is unknown, not 0.";
    }
    out += "</figcaption></figure>";
}

}  // namespace

void AppendSummary(std::string& out, const TraceFigures& figures) {
    const double seconds = static_cast<double>(figures.duration) / 1e7;
    const double per_processor = figures.processors == 0 || seconds == 0
                                     ? 0
                                     : static_cast<double>(figures.idle_wakes) / seconds / figures.processors;
    out += "<section id=\"summary\"><h2>Summary</h2><div class=\"cards\">";
    Card(out, Grouped(seconds, 3) + " s", "trace duration");
    CountCard(out, figures.processors, "processor", "processors");
    CountCard(out, figures.events, "event read", "events read");
    CountCard(out, figures.context_switches, "context switch", "context switches");
    Card(out, Grouped(figures.wakes_per_second, 1), "wakes per second");
    Card(out, Grouped(per_processor, 1), "idle wakes per second per processor");
    CountCard(out, figures.ready_events, "ReadyThread event", "ReadyThread events");
    out += "</div>";
    for (const std::string& note : figures.summary_notes) {
        out += "<p>" + HtmlText(NameText(note)) + "</p>";
    }
    out += "<div class=\"charts\">";
    CStateChart(out, figures);
    ProcessorChart(out, figures);
    out += "</div></section>";
}

}  // namespace dormiscope::view

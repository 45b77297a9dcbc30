#include "view/wakes_page.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "report/name_text.h"
#include "view/page_assets.h"

namespace dormiscope::view {
namespace {

constexpr const char* kCStateColours[] = {"#2f6fde", "#5aa469", "#e0a526", "#d2452f", "#8c5bd6", "#3aa6b9"};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Count(std::uint64_t value) {
    return std::to_string(value);
}

std::string Seconds(std::uint64_t units) {
    return Format("%.3f", static_cast<double>(units) / 1e7);
}

void Card(std::string& out, const std::string& value, std::string_view label) {
    out += "<div class=\"card\"><b>" + value + "</b><span>";
    out += label;
    out += "</span></div>";
}

// Idle exits by C-state index as one bar of shares, with its legend.
void CStateChart(std::string& out, const TraceFigures& figures) {
    constexpr double kWidth = 480;
    out += "<figure><svg width=\"480\" height=\"44\" viewBox=\"0 0 480 44\" role=\"img\">"
           "<title>Idle exits by C-state index</title><rect width=\"480\" height=\"20\" fill=\"#eef2f9\"/>";
    std::string legend;
    double x = 0;
    std::size_t colour = 0;
    for (const auto& [cstate, count] : figures.idle_exit_cstates) {
        const double share = static_cast<double>(count) / static_cast<double>(figures.idle_wakes);
        const char* fill = kCStateColours[colour++ % std::size(kCStateColours)];
        out += "<rect x=\"" + Format("%.1f", x) + "\" width=\"" + Format("%.1f", share * kWidth) +
               "\" height=\"20\" fill=\"" + fill + "\"/>";
        x += share * kWidth;
        legend += "<span style=\"color:" + std::string(fill) + "\">&#9632;</span> C" + Count(cstate) + ": " +
                  Count(count) + " (" + Format("%.1f", share * 100) + " %) ";
    }
    out += "<text x=\"0\" y=\"34\" font-size=\"10\" fill=\"#5b6475\">0 %</text>"
           "<text x=\"480\" y=\"34\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\">100 % of " +
           Count(figures.idle_wakes) + " idle wakes</text></svg><figcaption>C-state mix: the share of idle exits "
           "by the C-state index the processor left (raw index as the trace records it). " +
           legend + "</figcaption></figure>";
}

// Idle wakes per second of each processor as bars.
void ProcessorChart(std::string& out, const TraceFigures& figures) {
    const std::vector<double>& rates = figures.idle_wakes_per_second_by_processor;
    const double highest = rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end());
    const double slot = rates.empty() ? 0 : 440.0 / static_cast<double>(rates.size());
    out += "<figure><svg width=\"480\" height=\"120\" viewBox=\"0 0 480 120\" role=\"img\">"
           "<title>Idle wakes per second by processor</title>"
           "<line x1=\"40\" y1=\"100\" x2=\"480\" y2=\"100\" stroke=\"#5b6475\"/>"
           "<text x=\"36\" y=\"12\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\">" +
           Format("%.1f", highest) +
           "</text><text x=\"36\" y=\"100\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\">0</text><g fill=\"#2f6fde\">";
    for (std::size_t index = 0; index < rates.size(); ++index) {
        const double height = highest > 0 ? 90 * rates[index] / highest : 0;
        out += "<rect x=\"" + Format("%.1f", 40 + slot * static_cast<double>(index) + slot * 0.1) + "\" y=\"" +
               Format("%.1f", 100 - height) + "\" width=\"" + Format("%.1f", slot * 0.8) + "\" height=\"" +
               Format("%.1f", height) + "\"><title>processor " + Count(index) + ": " + Format("%.2f", rates[index]) +
               " idle wakes/s</title></rect>";
    }
    out += "</g><text x=\"260\" y=\"116\" font-size=\"10\" text-anchor=\"middle\" fill=\"#5b6475\">processor 0 to " +
           Count(rates.empty() ? 0 : rates.size() - 1) +
           "</text></svg><figcaption>Idle wakes per second on each processor (y axis: wakes/s; x axis: processor "
           "index).</figcaption></figure>";
}

void Summary(std::string& out, const TraceFigures& figures) {
    const double seconds = static_cast<double>(figures.duration) / 1e7;
    const double per_processor =
        figures.processors == 0 || seconds == 0 ? 0 : static_cast<double>(figures.idle_wakes) / seconds / figures.processors;
    out += "<section id=\"summary\"><h2>Summary</h2><div class=\"cards\">";
    Card(out, Seconds(figures.duration) + " s", "trace duration");
    Card(out, Count(figures.processors), "processors");
    Card(out, Count(figures.events), "events read");
    Card(out, Count(figures.context_switches), "context switches");
    Card(out, Format("%.1f", figures.wakes_per_second), "wakes per second");
    Card(out, Format("%.1f", per_processor), "idle wakes per second per processor");
    Card(out, Count(figures.ready_events), "ReadyThread events");
    out += "</div><div class=\"charts\">";
    CStateChart(out, figures);
    ProcessorChart(out, figures);
    out += "</div></section>";
}

}  // namespace

std::string HtmlText(std::wstring_view utf16) {
    std::string out;
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        std::uint32_t code = static_cast<std::uint32_t>(utf16[index]);
        if (code >= 0xD800 && code < 0xDC00 && index + 1 < utf16.size()) {
            const auto low = static_cast<std::uint32_t>(utf16[index + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++index;
            }
        }
        // Lone surrogates and control characters have no character of their own.
        const bool lone_surrogate = code >= 0xD800 && code < 0xE000;
        if (code < 0x20 || code == 0x7F || lone_surrogate) {
            out += "&#xFFFD;";
        } else if (code == '&') {
            out += "&amp;";
        } else if (code == '<') {
            out += "&lt;";
        } else if (code == '>') {
            out += "&gt;";
        } else if (code == '"') {
            out += "&quot;";
        } else if (code == '\'') {
            out += "&#39;";
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%" PRIX32 ";", code);
            out += reference;
        }
    }
    return out;
}

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
           Seconds(figures.duration) + " s \xC2\xB7 " + Count(figures.processors) + " processors</p></header>";
    if (!figures.coverage_notes.empty()) {
        out += "<div class=\"banner\" id=\"coverage\" role=\"alert\"><b>Incomplete trace.</b>";
        for (const std::string& note : figures.coverage_notes) {
            out += "<p>" + HtmlText(NameText(note)) + "</p>";
        }
        out += "</div>";
    }
    Summary(out, figures);
    out += "<section id=\"threads\"><h2>Processes and threads</h2><p class=\"legend\">Every thread that ran, grouped "
           "by process, busiest first; click a column heading to sort by it. The top 50 processes are shown.</p>"
           "<noscript><p>The table needs JavaScript; the same figures are in the JSON document inside this page."
           "</p></noscript><table id=\"wake-table\"><thead id=\"wake-head\"></thead><tbody id=\"wake-rows\"></tbody>"
           "</table><button id=\"show-all\" type=\"button\" hidden></button><p class=\"legend\">Wakes are switch-ins; "
           "idle wakes are those on a processor whose previous thread was its idle thread, by the C-state index it "
           "left. Off-processor times run from a switch-out to the thread's next switch-in. Periodicity is the "
           "dormiscope report's (\xE2\x80\x94 where the report leaves the thread out). Period classes: intervals per "
           "class, x axis 1 ms to 10 s. Timeline: wakes across the trace, x axis in seconds, darker is more. Readiers "
           "come from ReadyThread events.</p></section>";
    out += "<script type=\"application/json\" id=\"wake-data\">";
    // Inside a script element only "<" could end it early; JSON strings take its escape.
    for (const char character : json) {
        if (character == '<') {
            out += "\\u003c";
        } else {
            out += character;
        }
    }
    out += "</script><script>";
    out += kPageScript;
    out += "</script></body></html>\n";
    return out;
}

}  // namespace dormiscope::view

#include "view/page_assets.h"

namespace dormiscope::view {

const std::string_view kPageStyle = R"CSS(
:root { color-scheme: light; --ink: #1d2330; --muted: #5b6475; --line: #d9dee7; --accent: #2f6fde; --warn: #fff4d6; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 1600px; padding: 20px 24px 40px; font: 14px/1.45 system-ui, sans-serif; color: var(--ink); }
h1 { font-size: 22px; margin: 0 0 2px; }
h2 { font-size: 17px; margin: 26px 0 6px; }
.source { color: var(--muted); margin: 0 0 14px; }
.banner { background: var(--warn); border: 1px solid #e3c66b; border-radius: 6px; padding: 8px 12px; margin: 0 0 14px; }
.banner p { margin: 2px 0; }
.cards { display: grid; grid-template-columns: repeat(auto-fill, minmax(170px, 1fr)); gap: 10px; }
.card { border: 1px solid var(--line); border-radius: 6px; padding: 8px 10px; }
.card b { display: block; font-size: 20px; }
.card span { color: var(--muted); font-size: 12px; }
.charts { display: flex; flex-wrap: wrap; gap: 24px; margin-top: 14px; }
figure { margin: 0; }
figcaption { color: var(--muted); font-size: 12px; max-width: 560px; }
table { border-collapse: collapse; width: 100%; margin-top: 8px; }
th, td { border-bottom: 1px solid var(--line); padding: 4px 6px; text-align: right; vertical-align: middle; white-space: nowrap; }
th { position: sticky; top: 0; background: #f4f6fa; font-size: 12px; white-space: normal; }
th.sortable { cursor: pointer; color: var(--accent); }
th[aria-sort="descending"]::after { content: " \25BC"; }
th[aria-sort="ascending"]::after { content: " \25B2"; }
td.name, th.name { text-align: left; white-space: normal; }
tr.process td { background: #eef2f9; font-weight: 600; }
tr.thread td.name { padding-left: 22px; }
td.readiers { text-align: left; white-space: normal; font-size: 12px; }
.muted { color: var(--muted); }
button { margin-top: 10px; font: inherit; padding: 4px 12px; }
.legend { color: var(--muted); font-size: 12px; margin-top: 12px; }
)CSS";

const std::string_view kPageScript = R"JS(
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("wake-data").textContent);
  var CLASSES = [1, 4, 8, 10, 15, 20, 30, 50, 100, 500, 1000, 10000];
  var SHOWN_PROCESSES = 50;
  var durationS = data.trace.duration_ms / 1000;
  var state = { key: "wakes_per_s", descending: true, showAll: false };
  var columns = [
    { key: "name", label: "Process / thread", text: true, cls: "name" },
    { key: "wakes", label: "Wakes" },
    { key: "wakes_per_s", label: "Wakes/s" },
    { key: "idle_wakes", label: "Idle wakes (by C-state)" },
    { key: "on_processor_ms", label: "On-CPU ms" },
    { key: "median", label: "Off-CPU ms median (p10\u2013p90)" },
    { key: "periodicity", label: "Period" },
    { key: null, label: "Period classes, 1 ms \u2192 10 s" },
    { key: null, label: "Wakes over 0 \u2192 " + durationS.toFixed(1) + " s" },
    { key: null, label: "Top readiers", cls: "name" }
  ];

  function escapeHtml(text) {
    return String(text).replace(/[&<>"']/g, function (c) {
      return { "&": "&amp;", "<": "&lt;", ">": "&gt;", "\"": "&quot;", "'": "&#39;" }[c];
    });
  }
  // One formatter per precision: building one per call costs more than the whole table.
  var formatters = {};
  function number(value, digits) {
    var format = formatters[digits] || (formatters[digits] = new Intl.NumberFormat("en-US",
      { minimumFractionDigits: digits, maximumFractionDigits: digits }));
    return format.format(value);
  }
  function threadValue(thread, key) {
    switch (key) {
      case "name": return (thread.name || "") + "\u0000" + thread.tid;
      case "median": return thread.off_processor_ms ? thread.off_processor_ms.median : -1;
      case "periodicity": return thread.periodicity ? parseInt(thread.periodicity, 10) : -1;
      default: return thread[key];
    }
  }
  function processValue(process, key) {
    if (key === "name") { return process.name; }
    if (key === "wakes" || key === "wakes_per_s") { return process[key]; }
    var best = -1;
    process.threads.forEach(function (thread) {
      var value = threadValue(thread, key);
      best = key === "idle_wakes" || key === "on_processor_ms" ? Math.max(best, 0) + value : Math.max(best, value);
    });
    return best;
  }
  function compare(left, right) {
    var order = left < right ? -1 : left > right ? 1 : 0;
    return state.descending ? -order : order;
  }

  function histogram(classes) {
    var max = 0;
    CLASSES.forEach(function (c) { max = Math.max(max, classes[c] || 0); });
    if (max === 0) { return "<span class=\"muted\">\u2014</span>"; }
    var bars = "";
    CLASSES.forEach(function (c, i) {
      var count = classes[c] || 0;
      if (count === 0) { return; }
      var height = Math.max(1, Math.round(18 * count / max));
      bars += "<rect x=\"" + (i * 8) + "\" y=\"" + (18 - height) + "\" width=\"7\" height=\"" + height + "\"/>";
    });
    return "<svg width=\"96\" height=\"28\" viewBox=\"0 0 96 28\" role=\"img\"><title>Intervals per period class, 1 ms to 10 s</title>" +
      "<g fill=\"#2f6fde\">" + bars + "</g><text x=\"0\" y=\"27\" font-size=\"8\" fill=\"#5b6475\">1</text>" +
      "<text x=\"96\" y=\"27\" font-size=\"8\" text-anchor=\"end\" fill=\"#5b6475\">10k ms</text></svg>";
  }
  function timeline(slices) {
    if (!slices.length) { return "<span class=\"muted\">\u2014</span>"; }
    var max = Math.max.apply(null, slices);
    var width = 2;
    var cells = "";
    slices.forEach(function (count, i) {
      if (count === 0) { return; }
      cells += "<rect x=\"" + (i * width) + "\" y=\"0\" width=\"" + width + "\" height=\"14\" fill-opacity=\"" +
        (0.25 + 0.75 * count / max).toFixed(2) + "\"/>";
    });
    var total = slices.length * width;
    return "<svg width=\"" + total + "\" height=\"24\" viewBox=\"0 0 " + total + " 24\" role=\"img\"><title>Wakes across the trace, one cell per " +
      (durationS / slices.length).toFixed(2) + " s</title><rect width=\"" + total + "\" height=\"14\" fill=\"#eef2f9\"/><g fill=\"#d2452f\">" + cells +
      "</g><text x=\"0\" y=\"23\" font-size=\"8\" fill=\"#5b6475\">0</text><text x=\"" + total +
      "\" y=\"23\" font-size=\"8\" text-anchor=\"end\" fill=\"#5b6475\">" + durationS.toFixed(1) + " s</text></svg>";
  }
  function idleWakes(thread) {
    var parts = [];
    Object.keys(thread.idle_wakes_by_cstate).forEach(function (c) {
      parts.push("C" + escapeHtml(c) + " " + thread.idle_wakes_by_cstate[c]);
    });
    return number(thread.idle_wakes, 0) + (parts.length ? " <span class=\"muted\">(" + parts.join(", ") + ")</span>" : "");
  }
  function readiers(thread) {
    if (thread.readiers === null) { return "<span class=\"muted\">not recorded</span>"; }
    if (!thread.readiers.length) { return "<span class=\"muted\">none seen</span>"; }
    return thread.readiers.map(function (r) {
      var who = r.kind === "dpc" ? "DPC/interrupt" : r.kind === "unknown" ? "unknown" :
        escapeHtml(r.process || "pid " + r.pid) + " / tid " + r.tid;
      return who + " \u00d7" + r.count;
    }).join("<br>");
  }
  function intervals(thread) {
    var i = thread.off_processor_ms;
    if (!i) { return "<span class=\"muted\">\u2014</span>"; }
    return number(i.median, 1) + " <span class=\"muted\">(" + number(i.p10, 1) + "\u2013" + number(i.p90, 1) + ")</span>";
  }
  function threadRow(thread) {
    var name = "tid " + thread.tid + (thread.name ? " \u00b7 " + escapeHtml(thread.name) : "");
    return "<tr class=\"thread\"><td class=\"name\">" + name + "</td><td>" + number(thread.wakes, 0) + "</td><td data-wps=\"" +
      thread.wakes_per_s + "\">" + number(thread.wakes_per_s, 2) + "</td><td>" + idleWakes(thread) + "</td><td>" +
      number(thread.on_processor_ms, 1) + "</td><td>" + intervals(thread) + "</td><td>" +
      (thread.periodicity ? escapeHtml(thread.periodicity) : "\u2014") + "</td><td>" + histogram(thread.period_classes) +
      "</td><td>" + timeline(thread.timeline) + "</td><td class=\"readiers\">" + readiers(thread) + "</td></tr>";
  }
  function processRow(process) {
    return "<tr class=\"process\" data-pid=\"" + process.pid + "\"><td class=\"name\">" + escapeHtml(process.name) +
      " <span class=\"muted\">pid " + process.pid + " \u00b7 " + process.threads.length + " threads</span></td><td>" +
      number(process.wakes, 0) + "</td><td data-wps=\"" + process.wakes_per_s + "\">" + number(process.wakes_per_s, 2) +
      "</td><td colspan=\"7\"></td></tr>";
  }

  function render() {
    var key = state.key;
    var processes = data.processes.slice().sort(function (a, b) {
      return compare(processValue(a, key), processValue(b, key)) || a.pid - b.pid;
    });
    var shown = state.showAll ? processes : processes.slice(0, SHOWN_PROCESSES);
    var html = "";
    shown.forEach(function (process) {
      html += processRow(process);
      process.threads.slice().sort(function (a, b) {
        return compare(threadValue(a, key), threadValue(b, key)) || a.tid - b.tid;
      }).forEach(function (thread) { html += threadRow(thread); });
    });
    document.getElementById("wake-rows").innerHTML = html;
    var button = document.getElementById("show-all");
    button.hidden = processes.length <= SHOWN_PROCESSES;
    button.textContent = state.showAll ? "Show the top " + SHOWN_PROCESSES + " processes" :
      "Show all " + processes.length + " processes";
    document.querySelectorAll("#wake-table th").forEach(function (th) {
      if (th.dataset.key === key) {
        th.setAttribute("aria-sort", state.descending ? "descending" : "ascending");
      } else {
        th.removeAttribute("aria-sort");
      }
    });
  }

  var head = "";
  columns.forEach(function (column) {
    head += "<th" + (column.key ? " class=\"sortable " + (column.cls || "") + "\" data-key=\"" + column.key + "\"" :
      column.cls ? " class=\"" + column.cls + "\"" : "") + ">" + column.label + "</th>";
  });
  document.getElementById("wake-head").innerHTML = "<tr>" + head + "</tr>";
  document.getElementById("wake-head").addEventListener("click", function (event) {
    var th = event.target.closest("th[data-key]");
    if (!th) { return; }
    var column = columns.filter(function (c) { return c.key === th.dataset.key; })[0];
    if (state.key === column.key) {
      state.descending = !state.descending;
    } else {
      state.key = column.key;
      state.descending = !column.text;
    }
    render();
  });
  document.getElementById("show-all").addEventListener("click", function () {
    state.showAll = !state.showAll;
    render();
  });
  render();
  document.body.dataset.renderedAtMs = performance.now().toFixed(1);
})();
)JS";

}  // namespace dormiscope::view

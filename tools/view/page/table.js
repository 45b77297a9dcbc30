var data = JSON.parse(document.getElementById("wake-data").textContent);
var SHOWN_PROCESSES = 50;
var durationS = data.trace.duration_ms / 1000;
var state = { key: "wakes_per_s", descending: true, showAll: false, unfolded: {}, filter: "" };
// Who, how often, who readies it and when first: on a narrow screen the
// answers come before the details, and the name stays in view (page.css).
var columns = [
  { key: "name", label: "Process / thread", text: true, cls: "name" },
  { key: "wakes", label: "Wakes" },
  { key: "wakes_per_s", label: "Wakes/s" },
  { key: null, label: "Top readiers", cls: "name" },
  { key: null, label: "Wakes over 0 \u2192 " + number(durationS, 1) + " s" },
  { key: "idle_wakes", label: "Idle wakes (by C-state)" },
  { key: "on_processor_ms", label: "On-CPU ms" },
  { key: "median", label: "Off-CPU ms median (p10\u2013p90)" },
  { key: "periodicity", label: "Period (share in class)" },
  { key: null, label: "Period classes, 1 ms \u2192 10 s" }
];
var rowTrace = {
  durationS: durationS, dpcsRecorded: data.trace.code.dpcs + data.trace.code.interrupts > 0, columns: columns.length
};

function threadValue(thread, key) {
  switch (key) {
    case "name": return (thread.name || "").toLowerCase();
    case "median": return thread.off_processor_ms ? thread.off_processor_ms.median : -1;
    case "periodicity": return thread.periodicity ? parseInt(thread.periodicity, 10) : -1;
    default: return thread[key];
  }
}
function processValue(process, key) {
  if (key === "name") { return process.name.toLowerCase(); }
  if (key === "wakes" || key === "wakes_per_s") { return process[key]; }
  var best = -1;
  process.threads.forEach(function (thread) {
    var value = threadValue(thread, key);
    best = key === "idle_wakes" || key === "on_processor_ms" ? Math.max(best, 0) + value : Math.max(best, value);
  });
  return best;
}
function compare(left, right) {
  return compareSorted(state, left, right);
}
function sortedThreads(threads) {
  return threads.slice().sort(function (a, b) {
    return compare(threadValue(a, state.key), threadValue(b, state.key)) || a.tid - b.tid;
  });
}

function processRow(process) {
  return "<tr class=\"process\" data-pid=\"" + process.pid + "\"><td class=\"name\"><span class=\"process-name\">" +
    escapeHtml(process.name) + "</span> <span class=\"muted\">pid " + process.pid + " \u00b7 " +
    countOf(process.threads.length, "thread", "threads") + "</span></td><td>" + number(process.wakes, 0) +
    "</td><td data-wps=\"" + process.wakes_per_s + "\">" + number(process.wakes_per_s, 2) + "</td><td colspan=\"" +
    (columns.length - 3) + "\"></td></tr>";
}
// Threads that never woke have nothing but a name to show: one row says how
// many, and opens to list them.
function neverWokeRows(process, threads) {
  var open = state.unfolded[process.pid] === true;
  var html = "<tr class=\"folded\"><td class=\"name\" colspan=\"" + columns.length + "\"><button type=\"button\" " +
    "data-pid=\"" + process.pid + "\" aria-expanded=\"" + open + "\">" + (open ? "\u25BE " : "\u25B8 ") +
    countOf(threads.length, "thread", "threads") + " that never woke</button></td></tr>";
  if (open) {
    sortedThreads(threads).forEach(function (thread) { html += threadRow(thread, rowTrace); });
  }
  return html;
}

function render() {
  // The busiest processes are chosen before sorting, so that sorting orders
  // what is shown instead of choosing it.
  // The filter looks through every process, the busiest of those it keeps shown.
  var kept = data.processes;
  var keptThreads = new Map();
  if (state.filter) {
    kept = data.processes.filter(function (process) {
      var threads = filteredThreads(process, state.filter);
      keptThreads.set(process, threads);
      return threads.length > 0;
    });
  }
  var chosen = state.showAll ? kept : kept.slice(0, SHOWN_PROCESSES);
  var processes = chosen.slice().sort(function (a, b) {
    return compare(processValue(a, state.key), processValue(b, state.key)) || a.pid - b.pid;
  });
  var html = "";
  processes.forEach(function (process) {
    html += processRow(process);
    var threads = keptThreads.get(process) || process.threads;
    var woke = threads.filter(function (thread) { return thread.wakes > 0; });
    var never = threads.filter(function (thread) { return thread.wakes === 0; });
    sortedThreads(woke).forEach(function (thread) { html += threadRow(thread, rowTrace); });
    if (never.length) {
      html += neverWokeRows(process, never);
    }
  });
  document.getElementById("wake-rows").innerHTML = html;
  var button = document.getElementById("show-all");
  button.hidden = kept.length <= SHOWN_PROCESSES;
  button.textContent = state.showAll ? "Show only the " + SHOWN_PROCESSES + " busiest processes" :
    "Show all " + countOf(kept.length, "process", "processes");
  markSortedHeading(document.getElementById("wake-head"), state);
  mountThreadFlames();
}

document.getElementById("wake-head").innerHTML = sortableHead(columns);
sortOnHeadingClick(document.getElementById("wake-head"), columns, state, render);
document.getElementById("wake-rows").addEventListener("click", function (event) {
  var fold = event.target.closest("button[data-pid]");
  if (!fold) { return; }
  var pid = fold.dataset.pid;
  state.unfolded[pid] = !state.unfolded[pid];
  render();
  document.querySelector("#wake-rows button[data-pid=\"" + pid + "\"]").focus();
});
document.getElementById("show-all").addEventListener("click", function () {
  state.showAll = !state.showAll;
  render();
});
render();
// What the parts about code mean, said only on a trace that has them.
var codeLegend = "";
if (data.processes.some(function (p) { return p.threads.some(hasStacks); })) {
  codeLegend += "\u201CStacks\u201D under a thread opens its most frequent wait stacks (where it went off the " +
    "processor before a wake) and readying stacks (the code that made it ready), leaf first: module+offset " +
    "(module!function+offset where symbols name it), \u201Cunknown\u201D and the address where no loaded image held it. ";
}
if (rowTrace.dpcsRecorded) {
  codeLegend += "With DPC events recorded, a ready logged by a DPC names the routine that was running, or says " +
    "that none was recorded.";
}
if (codeLegend) {
  document.getElementById("table-legend").insertAdjacentHTML("beforeend", "<p>" + codeLegend + "</p>");
}
document.body.dataset.renderedAtMs = performance.now().toFixed(1);

var comparison = JSON.parse(document.getElementById("comparison-data").textContent);
var DASH = "<span class=\"muted\">\u2014</span>";
var compareSort = { key: "change_per_s", descending: true };
var compareColumns = [
  { key: "name", label: "Process / thread group", text: true, cls: "name" },
  { key: "before_per_s", label: "Wakes/s before" },
  { key: "after_per_s", label: "Wakes/s after" },
  { key: "change_per_s", label: "Change/s" },
  { key: "ratio", label: "Ratio" },
  { key: null, label: "Period before \u2192 after" },
  { key: "beyond_noise", label: "Beyond noise" }
];
var routineCompareSort = { key: "change_per_s", descending: true };
var routineCompareColumns = [
  { key: "kind", label: "Kind", text: true, cls: "name" },
  { key: "routine", label: "Routine", text: true, cls: "name" },
  { key: "before_per_s", label: "Runs/s before" },
  { key: "after_per_s", label: "Runs/s after" },
  { key: "change_per_s", label: "Change/s" },
  { key: "ratio", label: "Ratio" },
  { key: "beyond_noise", label: "Beyond noise" }
];

function signed(value) {
  return (value > 0 ? "+" : value < 0 ? "\u2212" : "") + number(Math.abs(value), 2);
}
function ratioText(ratio) {
  return ratio === null ? DASH : number(ratio, 2) + "\u00d7";
}
function statusMark(status) {
  return status === "both" ? "" : " <span class=\"mark " + status + "\">" + status + "</span>";
}
function noiseMark(row) {
  if (!row.beyond_noise) { return "<span class=\"muted\">within noise</span>"; }
  return row.change_per_s > 0 ? "<span class=\"worse\">\u25b2 beyond noise</span>" :
    "<span class=\"better\">\u25bc beyond noise</span>";
}
function periodText(before, after) {
  if (before === null && after === null) { return DASH; }
  return escapeHtml(before === null ? "\u2014" : before) + " \u2192 " + escapeHtml(after === null ? "\u2014" : after);
}
function countText(before, after, singular, plural) {
  return before === after ? countOf(after, singular, plural) :
    number(before, 0) + " \u2192 " + countOf(after, singular, plural);
}
function processLabel(process) {
  var label = "<span class=\"process-name\">" + escapeHtml(process.name) + "</span>";
  if (process.command_line !== null && process.command_line !== "") {
    label += "<span class=\"share\">" + escapeHtml(process.command_line) + "</span>";
  }
  if (process.processes_before + process.processes_after > 2 || process.command_line === null) {
    label += "<span class=\"share\">" + countText(process.processes_before, process.processes_after,
      "process", "processes") + "</span>";
  }
  return label;
}
function groupLabel(group) {
  var count = Math.max(group.threads_before, group.threads_after);
  var threads = count === 1 ? "" : countText(group.threads_before, group.threads_after, "thread", "threads") + " ";
  if (group.key_kind === "name") { return threads + "\u201c" + escapeHtml(group.key) + "\u201d"; }
  if (group.key_kind === "start") { return threads + "at <span class=\"frame\">" + escapeHtml(group.key) + "</span>"; }
  return threads + "without name or start routine";
}
function sortValue(row, key) {
  if (key === "name") { return (row.name || row.key || "").toLowerCase(); }
  if (key === "ratio") { return row.ratio === null ? Infinity : row.ratio; }
  if (key === "beyond_noise") { return row.beyond_noise ? row.change_per_s : 0; }
  if (key === "kind" || key === "routine") { return row[key].toLowerCase(); }
  return row[key];
}
function sorted(rows, sort) {
  return rows.slice().sort(function (a, b) {
    return compareSorted(sort, sortValue(a, sort.key), sortValue(b, sort.key));
  });
}
function figureCells(row) {
  return "<td>" + number(row.before_per_s, 2) + "</td><td>" + number(row.after_per_s, 2) + "</td><td>" +
    signed(row.change_per_s) + "</td><td>" + ratioText(row.ratio) + "</td>";
}
function stackList(title, stacks) {
  if (!stacks.length) { return ""; }
  return "<div class=\"stack-group\"><h3>" + title + "</h3><ol class=\"stack-list\">" + stacks.map(function (stack) {
    return "<li><span class=\"stack-share\">" + number(stack.before_per_s, 2) + " \u2192 " +
      number(stack.after_per_s, 2) + "/s</span><ol class=\"frames\">" + stack.frames.map(function (frame) {
      return "<li>" + escapeHtml(frame) + "</li>";
    }).join("") + "</ol></li>";
  }).join("") + "</ol></div>";
}
function stackRow(group) {
  var detail = stackList("Wait stacks new or grown", group.wait_stacks) +
    stackList("Readying stacks new or grown", group.readying_stacks);
  return detail ? "<tr class=\"stacks\"><td colspan=\"" + compareColumns.length + "\"><div class=\"stack-detail\">" +
    detail + "</div></td></tr>" : "";
}

function renderComparison() {
  document.getElementById("compare-rows").innerHTML = sorted(comparison.processes, compareSort).map(function (p) {
    var html = "<tr class=\"process\"><td class=\"name\">" + processLabel(p) + statusMark(p.status) + "</td>" +
      figureCells(p) + "<td></td><td>" + noiseMark(p) + "</td></tr>";
    sorted(p.threads, compareSort).forEach(function (g) {
      html += "<tr class=\"thread\"><td class=\"name\">" + groupLabel(g) + statusMark(g.status) + "</td>" +
        figureCells(g) + "<td>" + periodText(g.periodicity_before, g.periodicity_after) + "</td><td>" +
        noiseMark(g) + "</td></tr>" + stackRow(g);
    });
    return html;
  }).join("");
  markSortedHeading(document.getElementById("compare-head"), compareSort);
}

function renderRoutineComparison() {
  document.getElementById("routine-rows").innerHTML = sorted(comparison.routines, routineCompareSort).map(
    function (r) {
      return "<tr><td class=\"name\">" + escapeHtml(r.kind) + "</td><td class=\"name frame\">" +
        escapeHtml(r.routine) + statusMark(r.status) + "</td>" + figureCells(r) + "<td>" + noiseMark(r) +
        "</td></tr>";
    }).join("");
  markSortedHeading(document.getElementById("routine-head"), routineCompareSort);
}

function cstateMix(cstates) {
  var total = 0;
  Object.keys(cstates).forEach(function (c) { total += cstates[c]; });
  if (!total) { return DASH; }
  return Object.keys(cstates).map(function (c) {
    return "C" + escapeHtml(c) + " " + number(100 * cstates[c] / total, 0) + " %";
  }).join(" \u00b7 ");
}
function renderSummary() {
  var before = comparison.before;
  var after = comparison.after;
  var perProcessor = function (side) {
    return side.idle_wakes_per_s_by_processor.map(function (rate) { return number(rate, 1); }).join(" \u00b7 ");
  };
  var rows = [
    ["Duration, s", number(before.duration_ms / 1000, 3), number(after.duration_ms / 1000, 3), ""],
    ["Processors", number(before.processors, 0), number(after.processors, 0), ""],
    ["Pointer size, bits", number(8 * before.pointer_size, 0), number(8 * after.pointer_size, 0), ""],
    ["Wakes/s", number(before.wakes_per_s, 2), number(after.wakes_per_s, 2),
      signed(after.wakes_per_s - before.wakes_per_s) + " " + noiseMark(comparison.wakes)],
    ["Idle wakes/s", number(before.idle_wakes_per_s, 2), number(after.idle_wakes_per_s, 2),
      signed(after.idle_wakes_per_s - before.idle_wakes_per_s) + " " + noiseMark(comparison.idle_wakes)],
    ["Idle wakes/s per processor", perProcessor(before), perProcessor(after), ""],
    ["C-states left by idle wakes", cstateMix(before.idle_exit_cstates), cstateMix(after.idle_exit_cstates), ""],
    ["Timer resolution, ms", number(before.timer_resolution_ms, 4), number(after.timer_resolution_ms, 4), ""],
    ["Coverage", before.coverage.length ? countOf(before.coverage.length, "note", "notes") : "complete",
      after.coverage.length ? countOf(after.coverage.length, "note", "notes") : "complete", ""]
  ];
  document.getElementById("summary-rows").innerHTML = rows.map(function (row) {
    return "<tr><th scope=\"row\" class=\"name\">" + row[0] + "</th><td>" + row[1] + "</td><td>" + row[2] +
      "</td><td>" + row[3] + "</td></tr>";
  }).join("");
}

renderSummary();
document.getElementById("compare-head").innerHTML = sortableHead(compareColumns);
sortOnHeadingClick(document.getElementById("compare-head"), compareColumns, compareSort, renderComparison);
renderComparison();
if (comparison.routines.length) {
  document.getElementById("routines").hidden = false;
  document.getElementById("routine-head").innerHTML = sortableHead(routineCompareColumns);
  sortOnHeadingClick(document.getElementById("routine-head"), routineCompareColumns, routineCompareSort,
    renderRoutineComparison);
  renderRoutineComparison();
}

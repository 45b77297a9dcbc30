var routines = data.trace.routines;
var routineSort = { key: "count", descending: true };
var routineColumns = [
  { key: "kind", label: "Kind", text: true, cls: "name" },
  { key: "module", label: "Module", text: true, cls: "name" },
  { key: "routine", label: "Routine", text: true, cls: "name" },
  { key: "count", label: "Runs" },
  { key: "per_s", label: "Runs/s" },
  { key: "total_ms", label: "Total ms" },
  { key: "median_ms", label: "Median \u00b5s" },
  { key: "readied", label: "Readied a thread" },
  { key: "started_idle", label: "Started on an idle processor" }
];
var KIND_NAMES = { dpc: "DPC", threaded_dpc: "threaded DPC", timer_dpc: "timer DPC", interrupt: "interrupt" };

function kindName(kind) {
  return KIND_NAMES.hasOwnProperty(kind) ? KIND_NAMES[kind] : kind;
}
function routineValue(routine, key) {
  if (key === "kind") { return kindName(routine.kind).toLowerCase(); }
  var value = routine[key];
  return typeof value === "string" ? value.toLowerCase() : value;
}
// The document has four decimals of a millisecond; short totals keep them all.
function totalMs(ms) {
  return number(ms, ms < 1 ? 4 : magnitudeDigits(ms));
}
function ofRuns(count, runs) {
  return number(count, 0) + "<span class=\"share\">" + number(runs ? 100 * count / runs : 0, 0) + " %</span>";
}

// A routine may wrap after its module and before its offset, never inside a name.
function routineText(routine) {
  return escapeHtml(routine).replace(/!/g, "!<wbr>").replace(/\+/g, "<wbr>+");
}

function renderRoutines() {
  // The document's order (most runs first) breaks ties: the sort is stable.
  var sorted = routines.slice().sort(function (a, b) {
    return compareSorted(routineSort, routineValue(a, routineSort.key), routineValue(b, routineSort.key));
  });
  document.getElementById("routine-rows").innerHTML = sorted.map(function (r) {
    return "<tr><td class=\"name\">" + escapeHtml(kindName(r.kind)) + "</td><td class=\"name frame\">" +
      escapeHtml(r.module) + "</td><td class=\"name frame\">" + routineText(r.routine) + "</td><td>" +
      number(r.count, 0) + "</td><td>" + number(r.per_s, 2) + "</td><td>" + totalMs(r.total_ms) + "</td><td>" +
      number(r.median_ms * 1000, 1) + "</td><td>" + ofRuns(r.readied, r.count) + "</td><td>" +
      ofRuns(r.started_idle, r.count) + "</td></tr>";
  }).join("");
  markSortedHeading(document.getElementById("routine-head"), routineSort);
}

if (routines.length) {
  document.getElementById("routines").hidden = false;
  document.getElementById("routine-head").innerHTML = sortableHead(routineColumns);
  sortOnHeadingClick(document.getElementById("routine-head"), routineColumns, routineSort, renderRoutines);
  renderRoutines();
}

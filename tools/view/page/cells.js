var CLASSES = [1, 4, 8, 10, 15, 20, 30, 50, 100, 500, 1000, 10000];
// Below this share of its intervals in the periodicity's class a thread is
// marked irregular: its periodicity is then only the heaviest of several.
var IRREGULAR_BELOW_PERCENT = 50;
var NONE = "<span class=\"muted\">\u2014</span>";

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
function countOf(count, singular, plural) {
  return number(count, 0) + " " + (count === 1 ? singular : plural);
}
// Milliseconds with about three significant digits: 0.96, 15.6, 1,000.
function magnitudeDigits(ms) {
  return ms < 10 ? 2 : ms < 100 ? 1 : 0;
}

// p10, median and p90 with as many more digits as it takes for values that
// differ to read differently (the document has four decimals).
function offProcessor(thread) {
  var figure = thread.off_processor_ms;
  if (!figure) { return NONE; }
  var values = [figure.p10, figure.median, figure.p90];
  var texts = [];
  for (var extra = 0; extra <= 4; ++extra) {
    texts = values.map(function (value) { return number(value, Math.min(4, magnitudeDigits(value) + extra)); });
    if ((texts[0] !== texts[1] || values[0] === values[1]) && (texts[1] !== texts[2] || values[1] === values[2])) {
      break;
    }
  }
  return "<span title=\"" + countOf(figure.count, "off-processor interval", "off-processor intervals") +
    " (switch-out to next switch-in)\">" + texts[1] +
    " <span class=\"muted\">(" + texts[0] + "\u2013" + texts[2] + ")</span></span>";
}

function period(thread) {
  if (!thread.periodicity) { return NONE; }
  var periodClass = parseInt(thread.periodicity, 10);
  var total = 0;
  Object.keys(thread.period_classes).forEach(function (c) { total += thread.period_classes[c]; });
  var percent = Math.round(thread.regularity * 100);
  var irregular = percent < IRREGULAR_BELOW_PERCENT;
  return escapeHtml(thread.periodicity) + "<span class=\"regularity" + (irregular ? " irregular" : "") +
    "\" title=\"" + number(thread.period_classes[periodClass] || 0, 0) + " of " +
    countOf(total, "period-class interval", "period-class intervals") + " (1 ms to 1 s, the first from the " +
    "trace's start) in the " + number(periodClass, 0) + " ms class\">" +
    (irregular ? "irregular, " : "") + percent + " % in class</span>";
}

// Bars of intervals per class; each bar's whole column answers a hover. Bars
// and slices are named by aria-label, which the page's tooltip shows too: a
// title element each would weigh on a table of ten thousand threads.
function periodClasses(classes) {
  var max = 0;
  CLASSES.forEach(function (c) { max = Math.max(max, classes[c] || 0); });
  if (max === 0) { return NONE; }
  var bars = "";
  CLASSES.forEach(function (c, i) {
    var count = classes[c] || 0;
    if (count === 0) { return; }
    var height = Math.max(1, Math.round(18 * count / max));
    bars += "<g role=\"img\" aria-label=\"" + number(c, 0) + " ms class: " + countOf(count, "interval", "intervals") +
      "\"><rect x=\"" + (i * 8) + "\" width=\"8\" height=\"18\" fill-opacity=\"0\"/><rect x=\"" + (i * 8) +
      "\" y=\"" + (18 - height) + "\" width=\"7\" height=\"" + height + "\"/></g>";
  });
  return "<svg width=\"96\" height=\"28\" viewBox=\"0 0 96 28\" role=\"group\" aria-label=\"Intervals per period " +
    "class, 1 ms to 10 s\"><g fill=\"#2f6fde\">" + bars + "</g><text x=\"0\" y=\"27\" font-size=\"8\" " +
    "fill=\"#5b6475\" aria-hidden=\"true\">1</text><text x=\"96\" y=\"27\" font-size=\"8\" text-anchor=\"end\" " +
    "fill=\"#5b6475\" aria-hidden=\"true\">10k ms</text></svg>";
}

// One slice per cell, runs of empty slices as one; each names its time span.
function timeline(slices, durationS) {
  if (!slices.length) { return NONE; }
  var max = Math.max.apply(null, slices);
  var width = 3;
  var step = durationS / slices.length;
  // Three significant digits of a slice's length.
  var digits = step > 0 ? Math.min(7, Math.max(1, Math.ceil(-Math.log10(step)) + 2)) : 1;
  function span(from, to, what, opacity) {
    return "<rect x=\"" + (from * width) + "\" width=\"" + ((to - from) * width) + "\" height=\"14\" fill-opacity=\"" +
      opacity + "\" role=\"img\" aria-label=\"" + number(step * from, digits) + "\u2013" + number(step * to, digits) +
      " s: " + what + "\"/>";
  }
  var cells = "";
  for (var i = 0; i < slices.length;) {
    var start = i;
    if (slices[i] === 0) {
      while (i < slices.length && slices[i] === 0) { ++i; }
      cells += span(start, i, "no wakes", 0);
    } else {
      cells += span(i, i + 1, countOf(slices[i], "wake", "wakes"), (0.25 + 0.75 * slices[i] / max).toFixed(2));
      ++i;
    }
  }
  var total = slices.length * width;
  return "<svg width=\"" + total + "\" height=\"24\" viewBox=\"0 0 " + total + " 24\" role=\"group\" " +
    "aria-label=\"Wakes across the trace\"><rect width=\"" + total + "\" height=\"14\" fill=\"#eef2f9\"/>" +
    "<g fill=\"#d2452f\">" + cells + "</g><text x=\"0\" y=\"23\" font-size=\"8\" fill=\"#5b6475\" " +
    "aria-hidden=\"true\">0</text><text x=\"" + total + "\" y=\"23\" font-size=\"8\" text-anchor=\"end\" " +
    "fill=\"#5b6475\" aria-hidden=\"true\">" + number(durationS, 1) + " s</text></svg>";
}

function idleWakes(thread) {
  var parts = [];
  Object.keys(thread.idle_wakes_by_cstate).forEach(function (c) {
    parts.push("C" + escapeHtml(c) + " " + number(thread.idle_wakes_by_cstate[c], 0));
  });
  return number(thread.idle_wakes, 0) + (parts.length ? "<span class=\"by-cstate\">" + parts.join(", ") + "</span>" : "");
}

// With DPC events in the trace a DPC readier names the routine credited with
// the ready, or says that none covered it; without them it reads as the flag
// alone tells.
function dpcReadier(readier, trace) {
  if (!trace.dpcsRecorded) { return "DPC/interrupt"; }
  if (readier.routine === "not recorded") {
    return "DPC/interrupt <span class=\"muted\">(routine not recorded)</span>";
  }
  return "DPC <span class=\"frame\">" + escapeHtml(readier.routine) + "</span>";
}

function readiers(thread, trace) {
  if (thread.readiers === null) { return "<span class=\"muted\">not recorded</span>"; }
  if (!thread.readiers.length) {
    return "<span class=\"muted\" title=\"no ReadyThread event came before any of its wakes\">none seen</span>";
  }
  return thread.readiers.map(function (r) {
    var who = r.kind === "dpc" ? dpcReadier(r, trace) : r.kind === "unknown" ? "unknown" :
      escapeHtml(r.process || "pid " + r.pid) + " / tid " + r.tid;
    return who + " \u00d7" + number(r.count, 0);
  }).join("<br>");
}

// `trace`: { durationS, dpcsRecorded, columns }, what every row needs of the trace.
function threadRow(thread, trace) {
  var name = "tid " + thread.tid + (thread.name ? " \u00b7 " + escapeHtml(thread.name) : "");
  var stacks = hasStacks(thread);
  var key = stacks ? stackKey(thread) : "";
  return "<tr class=\"thread\"><td class=\"name\">" + name + (stacks ? stacksToggle(thread, key) : "") +
    "</td><td>" + number(thread.wakes, 0) +
    "</td><td data-wps=\"" + thread.wakes_per_s + "\">" + number(thread.wakes_per_s, 2) +
    "</td><td class=\"readiers\">" + readiers(thread, trace) + "</td><td>" + timeline(thread.timeline, trace.durationS) +
    "</td><td>" + idleWakes(thread) + "</td><td>" +
    number(thread.on_processor_ms, magnitudeDigits(thread.on_processor_ms)) + "</td><td>" + offProcessor(thread) +
    "</td><td>" + period(thread) + "</td><td>" + periodClasses(thread.period_classes) + "</td></tr>" +
    (stacks && stackState.open[key] ? stackDetailRow(thread, key, trace.columns) : "");
}

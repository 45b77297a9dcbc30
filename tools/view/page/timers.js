var timers = data.trace.timer_requests;
var TIMELINE_LEFT = 48;
var TIMELINE_WIDTH = 432;

function seconds(ms) {
  return number(ms / 1000, 3) + " s";
}
function timelineX(ms) {
  var duration = data.trace.duration_ms;
  return (TIMELINE_LEFT + (duration > 0 ? TIMELINE_WIDTH * Math.min(ms, duration) / duration : 0)).toFixed(1);
}

// The machine's effective resolution as steps, finer higher on a log scale,
// with the kernel's own changes marked above.
function resolutionTimeline() {
  var steps = timers.effective;
  var levels = steps.map(function (step) { return step.resolution_ms; });
  var finest = Math.min.apply(null, levels);
  var coarsest = Math.max.apply(null, levels);
  var span = Math.log(coarsest) - Math.log(finest);
  function y(resolution) {
    return span > 0 ? 14 + 66 * (Math.log(coarsest) - Math.log(resolution)) / span : 47;
  }
  var bands = steps.map(function (step, index) {
    var end = index + 1 < steps.length ? steps[index + 1].at_ms : data.trace.duration_ms;
    var top = y(step.resolution_ms);
    return "<rect x=\"" + timelineX(step.at_ms) + "\" y=\"" + top.toFixed(1) + "\" width=\"" +
      (timelineX(end) - timelineX(step.at_ms)).toFixed(1) + "\" height=\"" + (90 - top).toFixed(1) +
      "\" fill=\"#2f6fde\" fill-opacity=\"0.35\" stroke=\"#2f6fde\" role=\"img\" aria-label=\"" +
      resolutionText(step.resolution_ms) + " from " + seconds(step.at_ms) + " to " + seconds(end) + "\"/>";
  }).join("");
  var marks = timers.kernel_changes.map(function (change) {
    var x = Number(timelineX(change.at_ms));
    var label = change.requested_ms > 0 ? "the kernel asked for " + resolutionText(change.requested_ms)
      : "the kernel released its request";
    return "<path d=\"M" + (x - 4).toFixed(1) + " 2 L" + (x + 4).toFixed(1) + " 2 L" + x.toFixed(1) +
      " 9 Z\" fill=\"#b3261e\" role=\"img\" aria-label=\"" + label + " at " + seconds(change.at_ms) + "\"/>";
  }).join("");
  var cost = timers.finest_ms === null ? "" : " While the finest, " + resolutionText(timers.finest_ms) +
    ", was in force the processors woke from idle " + number(timers.idle_wakes_per_s_at_finest, 2) +
    " times a second" + (timers.idle_wakes_per_s_otherwise === null ? "." : ", against " +
    number(timers.idle_wakes_per_s_otherwise, 2) + " the rest of the recording.");
  return "<figure id=\"resolution-timeline\"><svg width=\"480\" height=\"104\" viewBox=\"0 0 480 104\" " +
    "role=\"group\" aria-label=\"Effective timer resolution over the trace\">" +
    "<line x1=\"48\" y1=\"90\" x2=\"480\" y2=\"90\" stroke=\"#5b6475\"/>" +
    "<text x=\"44\" y=\"" + (y(finest) + 4).toFixed(1) + "\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\" " +
    "aria-hidden=\"true\">" + resolutionText(finest) + "</text>" +
    (span > 0 ? "<text x=\"44\" y=\"" + (y(coarsest) + 4).toFixed(1) + "\" font-size=\"10\" text-anchor=\"end\" " +
      "fill=\"#5b6475\" aria-hidden=\"true\">" + resolutionText(coarsest) + "</text>" : "") +
    bands + marks + "<text x=\"480\" y=\"102\" font-size=\"10\" text-anchor=\"end\" fill=\"#5b6475\" " +
    "aria-hidden=\"true\">" + seconds(data.trace.duration_ms) + "</text></svg><figcaption>Effective timer " +
    "resolution: the finest request outstanding at each moment, higher is finer (more clock interrupts on " +
    "every processor); \u25bc the kernel's own changes." + cost + "</figcaption></figure>";
}

function heldText(hold) {
  return resolutionText(hold.resolution_ms) + ": " + seconds(hold.held_s * 1000) + "<span class=\"share\">" +
    number(100 * hold.share, 1) + " % of the recording</span>";
}
function yesNo(value) {
  return value ? "yes" : "no";
}
function requestStack(frames) {
  if (!frames.length) { return "<span class=\"muted\">\u2014</span>"; }
  return "<ol class=\"frames\">" + frames.map(function (frame) {
    return "<li>" + escapeHtml(frame) + "</li>";
  }).join("") + "</ol>";
}

if (timers.effective.length) {
  document.querySelector("#summary .cards").insertAdjacentHTML("afterend", resolutionTimeline());
}
if (timers.processes.length) {
  document.getElementById("timers").hidden = false;
  document.getElementById("timer-rows").innerHTML = timers.processes.map(function (p) {
    return "<tr><td class=\"name\">" + escapeHtml(p.name) + "</td><td>" + p.pid + "</td><td class=\"name\">" +
      p.resolutions.map(heldText).join("<br>") + "</td><td>" + number(p.changes_per_s, 2) + "</td><td>" +
      yesNo(p.held_at_start) + "</td><td>" + yesNo(p.held_at_end) + "</td><td class=\"name\">" +
      requestStack(p.stack) + "</td></tr>";
  }).join("");
}

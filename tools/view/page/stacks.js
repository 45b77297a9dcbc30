// The first frames of a stack say most; the rest open on request, unless
// the button would hide a single frame.
var FRAMES_SHOWN = 3;
// Which details and whole frame lists are open, by key, so that a sort that
// rebuilds the table keeps them open.
var stackState = { open: {}, allFrames: {} };
// Keys are the thread's place in the document: process and thread ids can
// both be reused within a trace. Made at the first row drawn.
var threadsByKey = null;
var keysOfThreads = null;
function indexThreads() {
  threadsByKey = {};
  keysOfThreads = new Map();
  data.processes.forEach(function (process, processIndex) {
    process.threads.forEach(function (thread, threadIndex) {
      // Only digits and a dash: safe in an id, a selector and an attribute.
      var key = processIndex + "-" + threadIndex;
      threadsByKey[key] = thread;
      keysOfThreads.set(thread, key);
    });
  });
}
function threadOf(key) {
  if (threadsByKey === null) { indexThreads(); }
  return threadsByKey[key];
}
function stackKey(thread) {
  if (keysOfThreads === null) { indexThreads(); }
  return keysOfThreads.get(thread);
}

function hasStacks(thread) {
  return thread.wait_stacks.length + thread.readying_stacks.length > 0;
}

function stacksToggle(thread, key) {
  var open = stackState.open[key] === true;
  // It controls the detail row only while that row exists.
  return "<button type=\"button\" class=\"stacks-toggle\" data-stacks=\"" + key + "\" aria-expanded=\"" + open +
    "\"" + (open ? " aria-controls=\"stacks-" + key + "\"" : "") + " aria-label=\"Stacks of tid " + thread.tid +
    "\">" + (open ? "\u25BE" : "\u25B8") + " Stacks</button>";
}

function frameList(frames, key) {
  var folds = frames.length > FRAMES_SHOWN + 1;
  var all = !folds || stackState.allFrames[key] === true;
  var shown = all ? frames : frames.slice(0, FRAMES_SHOWN);
  var html = "<div class=\"frame-list\"><ol class=\"frames\">" +
    shown.map(function (frame) { return "<li>" + escapeHtml(frame) + "</li>"; }).join("") + "</ol>";
  if (folds) {
    html += "<button type=\"button\" class=\"more-frames\" data-frames=\"" + key + "\" aria-expanded=\"" + all +
      "\">" + (all ? "Fewer frames" : "+" + countOf(frames.length - FRAMES_SHOWN, "more frame", "more frames")) +
      "</button>";
  }
  return html + "</div>";
}

function stackGroup(title, explanation, stacks, key) {
  var html = "<div class=\"stack-group\"><h3>" + title + "</h3><p class=\"muted\">" + explanation + "</p>";
  if (!stacks.length) {
    return html + "<p class=\"muted\">none recorded</p></div>";
  }
  html += "<ol class=\"stack-list\">";
  stacks.forEach(function (stack, index) {
    html += "<li><span class=\"stack-share\">" + countOf(stack.count, "wake", "wakes") + " \u00b7 " +
      number(stack.share * 100, 1) + " % of its wakes</span>" + frameList(stack.frames, key + "-" + index) + "</li>";
  });
  return html + "</ol></div>";
}

function stackDetailRow(thread, key, columns) {
  return "<tr class=\"stacks\" id=\"stacks-" + key + "\"><td colspan=\"" + columns + "\"><div class=\"stack-detail\" " +
    "role=\"region\" aria-label=\"Stacks of tid " + thread.tid + "\">" +
    stackGroup("Wait stacks", "Where it went off the processor before a wake, leaf first.", thread.wait_stacks,
      key + "-w") +
    stackGroup("Readying stacks", "The code that made it ready to run, leaf first.", thread.readying_stacks,
      key + "-r") +
    (hasFlame(key) ? "<div class=\"stack-group thread-flame\"><h3>Flame graph of its wakes</h3>" +
      "<div class=\"flame-box\" data-flame-thread=\"" + key + "\"></div></div>" : "") +
    "</div></td></tr>";
}

function framesOf(key) {
  var parts = key.split("-");
  var thread = threadOf(parts[0] + "-" + parts[1]);
  return (parts[2] === "w" ? thread.wait_stacks : thread.readying_stacks)[Number(parts[3])].frames;
}

// Opening a detail or a frame list changes its own rows only: rebuilding a
// table of ten thousand threads for it would take a noticeable moment.
document.getElementById("wake-rows").addEventListener("click", function (event) {
  var toggle = event.target.closest("button[data-stacks]");
  if (toggle) {
    var key = toggle.dataset.stacks;
    var open = !stackState.open[key];
    stackState.open[key] = open;
    toggle.setAttribute("aria-expanded", String(open));
    toggle.textContent = (open ? "\u25BE" : "\u25B8") + " Stacks";
    var row = toggle.closest("tr");
    if (open) {
      row.insertAdjacentHTML("afterend", stackDetailRow(threadOf(key), key, row.children.length));
      toggle.setAttribute("aria-controls", "stacks-" + key);
      mountThreadFlames();
    } else {
      document.getElementById("stacks-" + key).remove();
      toggle.removeAttribute("aria-controls");
    }
    return;
  }
  var more = event.target.closest("button[data-frames]");
  if (more) {
    var framesKey = more.dataset.frames;
    stackState.allFrames[framesKey] = !stackState.allFrames[framesKey];
    more.closest(".frame-list").outerHTML = frameList(framesOf(framesKey), framesKey);
    document.querySelector("button[data-frames=\"" + framesKey + "\"]").focus();
  }
});

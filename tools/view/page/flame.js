// Flame graphs of the wakes: process, thread, then the wait stack from its
// root to its leaf, each frame as wide as its wakes. Drawn on a canvas: ten
// thousand stacks are a hundred thousand frames, too many for elements.
var flameData = JSON.parse(document.getElementById("flame-data").textContent);
var FLAME_ROW = 18;
var FLAME_SEPARATOR = "--";
// Each thread's stack combinations by the thread's key in the table.
var flameStacksByKey = {};
flameData.threads.forEach(function (entry) {
  flameStacksByKey[entry[0] + "-" + entry[1]] = entry;
});

function flameHash(text) {
  var hash = 0;
  for (var i = 0; i < text.length; ++i) { hash = (hash * 31 + text.charCodeAt(i)) | 0; }
  return Math.abs(hash);
}
// Kernel code warm, user code cool, each module its own shade; the process,
// thread, separator and waker frames grey and violet.
function flameColour(node) {
  if (node.module < 0) {
    return node.kind === "waker" ? "#b7a3d9" : node.kind === "separator" ? "#8a8f99" : "#c9cfd9";
  }
  var module = flameData.modules[node.module];
  var hash = flameHash(module[0]);
  if (module[0] === "unknown") { return "#d9d4c9"; }
  return module[1] ? "hsl(" + (10 + hash % 35) + ", 80%, " + (58 + hash % 14) + "%)" :
    "hsl(" + (190 + hash % 50) + ", 60%, " + (62 + hash % 14) + "%)";
}

// Children are found by frame index, or by name for the frames of the
// process, thread, separator and readier. Most nodes have one child or none:
// a map is made only for the second.
function flameNode(name, module, kind, parent) {
  return {
    name: name, module: module, kind: kind, value: 0, parent: parent, depth: parent ? parent.depth + 1 : 0,
    only: null, onlyKey: null, children: null, start: 0, list: null
  };
}
function flameChild(node, key, name, module, kind) {
  if (node.onlyKey === key) { return node.only; }
  var child = node.children && node.children.get(key);
  if (child) { return child; }
  child = flameNode(name, module, kind, node);
  if (node.only === null && node.children === null) {
    node.only = child;
    node.onlyKey = key;
    return child;
  }
  if (node.children === null) {
    node.children = new Map([[node.onlyKey, node.only]]);
    node.only = null;
    node.onlyKey = null;
  }
  node.children.set(key, child);
  return child;
}
function flameFrame(node, frame, weight) {
  var child = flameChild(node, frame, flameData.frames[frame][0], flameData.frames[frame][1], "frame");
  child.value += weight;
  return child;
}
function flameNamed(node, name, kind, weight) {
  var child = flameChild(node, kind + "\u0000" + name, name, -1, kind);
  child.value += weight;
  return child;
}

// The tree of the given threads' stacks, weighted by wakes or idle wakes, the
// readying stack and the readier above the wait stack when off-wake.
function flameTree(entries, idle, offWake) {
  var root = flameNode("all", -1, "root", null);
  entries.forEach(function (entry) {
    var process = data.processes[entry[0]];
    var thread = process.threads[entry[1]];
    var processName = process.name + " (pid " + process.pid + ")";
    var threadName = thread.name ? thread.name + " (tid " + thread.tid + ")" : "tid " + thread.tid;
    entry[2].forEach(function (stack) {
      var weight = idle ? stack[1] : stack[0];
      if (weight === 0 || (!offWake && stack[2].length === 0)) { return; }
      root.value += weight;
      var node = flameNamed(flameNamed(root, processName, "process", weight), threadName, "thread", weight);
      var wait = stack[2];
      for (var i = 0; i < wait.length; ++i) { node = flameFrame(node, wait[i], weight); }
      if (offWake) {
        node = flameNamed(node, FLAME_SEPARATOR, "separator", weight);
        var readying = stack[3];
        for (var j = 0; j < readying.length; ++j) { node = flameFrame(node, readying[j], weight); }
        flameNamed(node, stack[4], "waker", weight);
      }
    });
  });
  var depth = 0;
  // Children widest first, each placed after its elder siblings.
  (function place(node, start) {
    node.start = start;
    if (node.depth > depth) { depth = node.depth; }
    node.list = node.children ? Array.from(node.children.values()) : node.only ? [node.only] : [];
    if (node.list.length > 1) {
      node.list.sort(function (a, b) {
        return b.value - a.value || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0);
      });
    }
    var at = start;
    for (var i = 0; i < node.list.length; ++i) {
      place(node.list[i], at);
      at += node.list[i].value;
    }
  })(root, 0);
  root.maxDepth = depth;
  return root;
}

function percentOf(part, whole) {
  return whole > 0 ? number(100 * part / whole, 1) + " %" : "0 %";
}
function flameLabel(node, graph) {
  var weight = graph.idle ? ["idle wake", "idle wakes"] : ["wake", "wakes"];
  return node.name + ": " + countOf(node.value, weight[0], weight[1]) + ", " + percentOf(node.value, graph.root.value) +
    " of the graph";
}

function flameMatches(node, search) {
  return search !== "" && node.kind !== "root" && node.name.toLowerCase().indexOf(search) >= 0;
}
// The wakes under the frames the search matches, each counted once: frames
// too narrow to draw count too.
function flameMatchedValue(node, search) {
  if (flameMatches(node, search)) { return node.value; }
  var sum = 0;
  for (var i = 0; i < node.list.length; ++i) { sum += flameMatchedValue(node.list[i], search); }
  return sum;
}

// Draws the graph zoomed on graph.zoom: the zoomed frame spans the width, its
// ancestors too, the rest is left out. Frames under half a pixel are skipped.
function drawFlame(graph) {
  var canvas = graph.canvas;
  var width = graph.box.clientWidth || 800;
  var rows = graph.root.maxDepth + 1;
  var ratio = window.devicePixelRatio || 1;
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(rows * FLAME_ROW * ratio);
  canvas.style.width = width + "px";
  canvas.style.height = rows * FLAME_ROW + "px";
  var context = canvas.getContext("2d");
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  context.font = "11px system-ui, sans-serif";
  context.textBaseline = "middle";
  var zoom = graph.zoom;
  var scale = width / Math.max(1, zoom.value);
  graph.placed = [];
  function y(node) { return (rows - 1 - node.depth) * FLAME_ROW; }
  function box(node, x, w) {
    var hit = flameMatches(node, graph.search);
    context.fillStyle = hit ? "#e040a0" : flameColour(node);
    context.fillRect(x, y(node), Math.max(0.5, w - 0.5), FLAME_ROW - 1);
    if (node === graph.selected && document.activeElement === canvas) {
      context.strokeStyle = "#111";
      context.lineWidth = 2;
      context.strokeRect(x + 1, y(node) + 1, Math.max(0.5, w - 2.5), FLAME_ROW - 3);
    }
    if (w > 24) {
      context.fillStyle = "#111";
      var text = node.name;
      var measured = context.measureText(text).width;
      if (measured > w - 6) {
        text = text.slice(0, Math.max(0, Math.floor(text.length * (w - 6) / measured) - 1)) + "\u2026";
      }
      context.fillText(text, x + 3, y(node) + FLAME_ROW / 2);
    }
    graph.placed.push({ node: node, x: x, w: w });
  }
  for (var up = zoom.parent; up; up = up.parent) { box(up, 0, width); }
  (function draw(node) {
    var x = (node.start - zoom.start) * scale;
    var w = node.value * scale;
    if (w < 0.5) { return; }
    box(node, x, w);
    node.list.forEach(draw);
  })(zoom);
  graph.matchText.textContent = graph.search === "" ? "" : "Matched: " +
    percentOf(flameMatchedValue(graph.root, graph.search), graph.root.value) + " of " +
    (graph.idle ? "idle wakes" : "wakes");
}

function flameAt(graph, event) {
  var bounds = graph.canvas.getBoundingClientRect();
  var x = event.clientX - bounds.left;
  var yRow = graph.root.maxDepth - Math.floor((event.clientY - bounds.top) / FLAME_ROW);
  for (var i = graph.placed.length - 1; i >= 0; --i) {
    var placed = graph.placed[i];
    if (placed.node.depth === yRow && x >= placed.x && x < placed.x + placed.w) { return placed.node; }
  }
  return null;
}

function flameAnnounce(graph) {
  graph.status.textContent = flameLabel(graph.selected, graph);
}
function flameZoom(graph, node) {
  graph.zoom = node;
  graph.selected = node;
  graph.reset.disabled = node === graph.root;
  drawFlame(graph);
  flameAnnounce(graph);
}
function flameRebuild(graph) {
  graph.root = flameTree(graph.entries, graph.idle, graph.offWake);
  graph.zoom = graph.root;
  graph.selected = graph.root;
  graph.reset.disabled = true;
  drawFlame(graph);
}

// The controls, the canvas and its keys, in `container`, for the given
// threads' entries of the flame document.
function flameGraph(container, entries, label) {
  var id = "flame-" + (flameGraph.count = (flameGraph.count || 0) + 1);
  container.innerHTML = "<div class=\"flame-controls\"><label><input type=\"checkbox\" class=\"flame-idle\"> " +
    "Weight by idle wakes</label><label><input type=\"checkbox\" class=\"flame-offwake\"> Off-wake: the readying " +
    "stack and the readier above the wait stack</label><label>Search frames <input type=\"search\" " +
    "class=\"flame-search\" spellcheck=\"false\"></label><span class=\"flame-matched\" aria-live=\"polite\"></span>" +
    "<button type=\"button\" class=\"flame-reset\" disabled>Reset zoom</button></div><div class=\"flame-canvas-box\">" +
    "<canvas tabindex=\"0\" role=\"application\" aria-describedby=\"" + id + "-status\" aria-label=\"" + escapeHtml(label) +
    ". Arrow keys move between frames, Enter zooms, Escape resets.\"></canvas></div><p class=\"flame-status muted\" " +
    "id=\"" + id + "-status\" aria-live=\"polite\"></p>";
  var graph = {
    entries: entries, idle: false, offWake: false, search: "", box: container.querySelector(".flame-canvas-box"),
    canvas: container.querySelector("canvas"), matchText: container.querySelector(".flame-matched"),
    reset: container.querySelector(".flame-reset"), status: container.querySelector(".flame-status"), placed: []
  };
  container.querySelector(".flame-idle").addEventListener("change", function (event) {
    graph.idle = event.target.checked;
    flameRebuild(graph);
  });
  container.querySelector(".flame-offwake").addEventListener("change", function (event) {
    graph.offWake = event.target.checked;
    flameRebuild(graph);
  });
  container.querySelector(".flame-search").addEventListener("input", function (event) {
    graph.search = event.target.value.trim().toLowerCase();
    drawFlame(graph);
  });
  graph.reset.addEventListener("click", function () { flameZoom(graph, graph.root); });
  graph.canvas.addEventListener("click", function (event) {
    var node = flameAt(graph, event);
    if (node) { flameZoom(graph, node); }
  });
  graph.canvas.addEventListener("mousemove", function (event) {
    var node = flameAt(graph, event);
    if (!node) {
      tip.hidden = true;
      return;
    }
    tip.textContent = flameLabel(node, graph);
    tip.hidden = false;
    var left = Math.min(event.clientX + 12, document.documentElement.clientWidth - tip.offsetWidth - 4);
    tip.style.left = Math.max(0, left) + window.scrollX + "px";
    tip.style.top = event.clientY + window.scrollY + 16 + "px";
  });
  graph.canvas.addEventListener("mouseleave", function () { tip.hidden = true; });
  graph.canvas.addEventListener("focus", function () {
    drawFlame(graph);
    flameAnnounce(graph);
  });
  graph.canvas.addEventListener("blur", function () { drawFlame(graph); });
  // Up goes toward the leaf (the widest child), Down to the parent, Left and
  // Right to the siblings.
  graph.canvas.addEventListener("keydown", function (event) {
    var node = graph.selected;
    var next = null;
    var siblings = node.parent ? node.parent.list : [node];
    var at = siblings.indexOf(node);
    switch (event.key) {
      case "ArrowUp": next = node.list[0] || null; break;
      case "ArrowDown": next = node.parent; break;
      case "ArrowLeft": next = siblings[at - 1] || null; break;
      case "ArrowRight": next = siblings[at + 1] || null; break;
      case "Enter": case " ": flameZoom(graph, node); event.preventDefault(); return;
      case "Escape": flameZoom(graph, graph.root); event.preventDefault(); return;
      default: return;
    }
    event.preventDefault();
    if (next) {
      graph.selected = next;
      drawFlame(graph);
      flameAnnounce(graph);
    }
  });
  flameRebuild(graph);
  container.flameGraph = graph;
  return graph;
}

// The graphs of the thread rows' open stack details that have none yet.
function mountThreadFlames() {
  document.querySelectorAll(".flame-box[data-flame-thread]:not([data-mounted])").forEach(function (box) {
    box.dataset.mounted = "true";
    var entry = flameStacksByKey[box.dataset.flameThread];
    var thread = data.processes[entry[0]].threads[entry[1]];
    flameGraph(box, [entry], "Flame graph of the wakes of tid " + thread.tid);
  });
}
function hasFlame(key) {
  return flameStacksByKey.hasOwnProperty(key);
}

if (flameData.threads.length) {
  var flameSection = document.getElementById("flame");
  flameSection.hidden = false;
  var flameStarted = performance.now();
  flameGraph(document.getElementById("flame-whole"), flameData.threads,
    "Flame graph of the wakes of the whole recording");
  // How long the whole recording's graph took to build and draw, for the tests and the figures.
  document.body.dataset.flameDrawMs = (performance.now() - flameStarted).toFixed(1);
  var flameWidth = flameSection.clientWidth;
  window.addEventListener("resize", function () {
    if (flameSection.clientWidth === flameWidth) { return; }
    flameWidth = flameSection.clientWidth;
    document.querySelectorAll(".flame-box, #flame-whole").forEach(function (box) {
      if (box.flameGraph) { drawFlame(box.flameGraph); }
    });
  });
}
mountThreadFlames();

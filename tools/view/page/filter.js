// The filter box over the thread table: a thread stays when part of its
// process's name, its own name or id, or a module or function of its stacks
// holds the text typed, ignoring case.
var filterTexts = new Map();
function filterTextOf(process, thread) {
  var text = filterTexts.get(thread);
  if (text === undefined) {
    var parts = [thread.name, "tid " + thread.tid];
    thread.wait_stacks.concat(thread.readying_stacks).forEach(function (stack) { parts.push(stack.frames.join("\n")); });
    var entry = flameStacksByKey[stackKey(thread)];
    if (entry) {
      entry[2].forEach(function (stack) {
        stack[2].concat(stack[3]).forEach(function (frame) { parts.push(flameData.frames[frame][0]); });
      });
    }
    text = parts.join("\n").toLowerCase();
    filterTexts.set(thread, text);
  }
  return text;
}
// The threads of `process` that the filter keeps: all of them when the
// process's name or id matches.
function filteredThreads(process, filter) {
  if (!filter || (process.name + "\npid " + process.pid).toLowerCase().indexOf(filter) >= 0) {
    return process.threads;
  }
  return process.threads.filter(function (thread) {
    return filterTextOf(process, thread).indexOf(filter) >= 0;
  });
}

var filterInput = document.getElementById("thread-filter");
var filterCount = document.getElementById("filter-count");
function applyFilter() {
  state.filter = filterInput.value.trim().toLowerCase();
  render();
  if (!state.filter) {
    filterCount.textContent = "";
    return;
  }
  var threads = 0;
  var total = 0;
  data.processes.forEach(function (process) {
    total += process.threads.length;
    threads += filteredThreads(process, state.filter).length;
  });
  filterCount.textContent = number(threads, 0) + " of " + countOf(total, "thread", "threads") + " match";
}
filterInput.addEventListener("input", applyFilter);

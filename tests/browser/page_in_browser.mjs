// Loads wake pages in headless Chromium through the DevTools protocol (over a
// pipe, with Node's built-ins only) and checks what a person would see: no
// console error, no network request, the figures of the JSON document in the
// table, names shown as text, and the table sorted by wakes/s when that
// heading is clicked. Prints each page's size and render time.
//
// node page_in_browser.mjs --view BIN --sample TRACE --trace-writer BIN --work DIR [--screenshot PNG]
// Exits 77 (skipped) when no Chromium is installed.
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";

const args = {};
for (let i = 2; i < process.argv.length; i += 2) {
  args[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
}
const PAGE_LIMIT_BYTES = 5 * 1024 * 1024;
const failures = [];
function check(condition, message) {
  if (!condition) {
    failures.push(message);
    console.error("FAIL: " + message);
  }
}

function findChromium() {
  for (const name of ["chromium", "chromium-browser", "google-chrome"]) {
    const found = spawnSync("sh", ["-c", "command -v " + name], { encoding: "utf8" });
    if (found.status === 0) {
      return found.stdout.trim();
    }
  }
  return null;
}

function run(command, commandArgs) {
  const result = spawnSync(command, commandArgs, { encoding: "utf8" });
  if (result.status !== 0) {
    throw new Error(command + " " + commandArgs.join(" ") + " failed: " + result.stderr);
  }
}

// One browser, spoken to over --remote-debugging-pipe: NUL-terminated JSON.
class Browser {
  constructor(executable) {
    this.profile = fs.mkdtempSync(path.join(os.tmpdir(), "dormiscope-view-browser-"));
    this.child = spawn(executable, [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + this.profile, "--remote-debugging-pipe", "about:blank",
    ], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"], detached: true });
    this.child.stderr.on("data", () => {});
    process.once("exit", () => this.killGroup());
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffered = "";
    this.child.stdio[4].on("data", (chunk) => {
      buffered += chunk.toString("utf8");
      let end;
      while ((end = buffered.indexOf("\0")) >= 0) {
        const message = JSON.parse(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
        if (message.id && this.pending.has(message.id)) {
          const { resolve, reject } = this.pending.get(message.id);
          this.pending.delete(message.id);
          message.error ? reject(new Error(JSON.stringify(message.error))) : resolve(message.result);
        } else if (message.method) {
          this.listeners.forEach((listener) => listener(message));
        }
      }
    });
  }
  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) {
      message.sessionId = sessionId;
    }
    this.child.stdio[3].write(JSON.stringify(message) + "\0");
    return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject }));
  }
  waitFor(method, sessionId, timeoutMs = 30000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error("timed out waiting for " + method)), timeoutMs);
      const listener = (message) => {
        if (message.method === method && message.sessionId === sessionId) {
          clearTimeout(timer);
          this.listeners.splice(this.listeners.indexOf(listener), 1);
          resolve(message.params);
        }
      };
      this.listeners.push(listener);
    });
  }
  killGroup() {
    try {
      process.kill(-this.child.pid, "SIGKILL");
    } catch {
      // The group is already gone.
    }
  }
  // Chromium's helper processes can outlive the browser and keep writing into
  // the profile, so the whole process group goes before the profile does.
  async close() {
    const exited = new Promise((resolve) => this.child.once("exit", resolve));
    await Promise.race([this.send("Browser.close"), new Promise((r) => setTimeout(r, 3000))]);
    this.child.kill();
    await exited;
    this.killGroup();
    try {
      fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 200 });
    } catch (error) {
      console.error("note: browser profile " + this.profile + " left behind: " + error.message);
    }
  }
}

// Opens the page in a fresh tab and returns helpers bound to it, with every
// console error, uncaught exception, dialog and network request recorded.
async function openPage(browser, file) {
  const { targetId } = await browser.send("Target.createTarget", { url: "about:blank" });
  const { sessionId } = await browser.send("Target.attachToTarget", { targetId, flatten: true });
  const seen = { errors: [], requests: [], dialogs: [] };
  browser.listeners.push((message) => {
    if (message.sessionId !== sessionId) {
      return;
    }
    const p = message.params;
    if (message.method === "Runtime.exceptionThrown") {
      seen.errors.push(p.exceptionDetails.text + " " + (p.exceptionDetails.exception || {}).description);
    } else if (message.method === "Runtime.consoleAPICalled" && (p.type === "error" || p.type === "assert")) {
      seen.errors.push("console." + p.type + ": " + p.args.map((a) => a.value).join(" "));
    } else if (message.method === "Log.entryAdded" && p.entry.level === "error") {
      seen.errors.push("log: " + p.entry.text);
    } else if (message.method === "Network.requestWillBeSent" && !/^(file|data|about):/.test(p.request.url)) {
      seen.requests.push(p.request.url);
    } else if (message.method === "Page.javascriptDialogOpening") {
      seen.dialogs.push(p.message);
      browser.send("Page.handleJavaScriptDialog", { accept: true }, sessionId);
    }
  });
  for (const domain of ["Runtime", "Log", "Network", "Page"]) {
    await browser.send(domain + ".enable", {}, sessionId);
  }
  await browser.send("Emulation.setDeviceMetricsOverride",
    { width: 1280, height: 900, deviceScaleFactor: 1, mobile: false }, sessionId);
  const loaded = browser.waitFor("Page.loadEventFired", sessionId);
  const started = Date.now();
  await browser.send("Page.navigate", { url: pathToFileURL(file).href }, sessionId);
  await loaded;
  const loadMs = Date.now() - started;
  const evaluate = async (expression) => {
    const reply = await browser.send("Runtime.evaluate", { expression, returnByValue: true }, sessionId);
    if (reply.exceptionDetails) {
      throw new Error("evaluating " + expression + ": " + reply.exceptionDetails.text);
    }
    return reply.result.value;
  };
  const click = async (selector) => {
    const box = await evaluate("(() => { const e = document.querySelector(" + JSON.stringify(selector) +
      "); e.scrollIntoView({ block: 'center' }); const r = e.getBoundingClientRect();" +
      " return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()");
    for (const type of ["mousePressed", "mouseReleased"]) {
      await browser.send("Input.dispatchMouseEvent", { type, x: box.x, y: box.y, button: "left", clickCount: 1 },
        sessionId);
    }
  };
  return { sessionId, seen, evaluate, click, loadMs };
}

const TABLE_ROWS = `Array.from(document.querySelectorAll("#wake-rows tr")).map((tr) => ({
  process: tr.classList.contains("process"), pid: tr.dataset.pid || null,
  name: tr.querySelector("td.name").textContent, wps: Number(tr.querySelector("td[data-wps]").dataset.wps) }))`;

// Process rows, and thread rows within each process, by descending wakes/s.
function sortedByWakesPerSecond(rows) {
  let lastProcess = Infinity;
  let lastThread = Infinity;
  for (const row of rows) {
    if (row.process) {
      if (row.wps > lastProcess) return false;
      lastProcess = row.wps;
      lastThread = Infinity;
    } else {
      if (row.wps > lastThread) return false;
      lastThread = row.wps;
    }
  }
  return true;
}

async function checkPage(browser, label, file, json, screenshot) {
  const size = fs.statSync(file).size;
  const page = await openPage(browser, file);
  const renderedAtMs = Number(await page.evaluate("document.body.dataset.renderedAtMs"));
  console.log(`${label}: ${(size / 1048576).toFixed(2)} MB, ${json.processes.length} processes, ` +
    `${json.processes.reduce((n, p) => n + p.threads.length, 0)} threads; table rendered ${renderedAtMs.toFixed(0)} ms ` +
    `after navigation start, load event after ${page.loadMs} ms`);
  check(size < PAGE_LIMIT_BYTES, `${label}: page is ${size} bytes, limit ${PAGE_LIMIT_BYTES}`);
  check(renderedAtMs > 0, `${label}: the table was never rendered`);

  const rows = await page.evaluate(TABLE_ROWS);
  const shownProcesses = rows.filter((row) => row.process);
  check(shownProcesses.length === Math.min(50, json.processes.length),
    `${label}: ${shownProcesses.length} process rows shown`);
  // The busiest process first, with the document's name and rate.
  const busiest = json.processes.slice().sort((a, b) => b.wakes_per_s - a.wakes_per_s || a.pid - b.pid)[0];
  check(shownProcesses[0].pid === String(busiest.pid) && shownProcesses[0].name.startsWith(busiest.name) &&
    shownProcesses[0].wps === busiest.wakes_per_s, `${label}: first row is not the busiest process of the document`);
  check(sortedByWakesPerSecond(rows), `${label}: the first view is not sorted by wakes/s`);

  await page.click('th[data-key="name"]');
  const byName = await page.evaluate(TABLE_ROWS);
  const names = byName.filter((row) => row.process).map((row) => row.name);
  check(names.join("\n") === names.slice().sort((a, b) => (a < b ? -1 : a > b ? 1 : 0)).join("\n"),
    `${label}: clicking the name heading did not sort by name`);
  await page.click('th[data-key="wakes_per_s"]');
  const byRate = await page.evaluate(TABLE_ROWS);
  check(sortedByWakesPerSecond(byRate), `${label}: clicking the wakes/s heading did not sort by wakes/s`);
  check((await page.evaluate('document.querySelector(\'th[data-key="wakes_per_s"]\').getAttribute("aria-sort")')) ===
    "descending", `${label}: the wakes/s heading does not show the sort`);

  if (json.processes.length > 50) {
    await page.click("#show-all");
    const all = (await page.evaluate(TABLE_ROWS)).filter((row) => row.process).length;
    check(all === json.processes.length, `${label}: "show all" shows ${all} of ${json.processes.length} processes`);
  }
  if (screenshot) {
    await page.evaluate("window.scrollTo(0, 0)");
    const { data } = await browser.send("Page.captureScreenshot", { format: "png" }, page.sessionId);
    fs.writeFileSync(screenshot, Buffer.from(data, "base64"));
    console.log(`${label}: screenshot written to ${screenshot}`);
  }
  check(page.seen.errors.length === 0, `${label}: console errors: ${page.seen.errors.join("; ")}`);
  check(page.seen.requests.length === 0, `${label}: network requests: ${page.seen.requests.join(" ")}`);
  check(page.seen.dialogs.length === 0, `${label}: dialogs opened: ${page.seen.dialogs.join(" ")}`);
  return page;
}

function viewOf(trace, workDir, name) {
  const html = path.join(workDir, name + ".html");
  const json = path.join(workDir, name + ".json");
  run(args.view, ["-i", trace, "-o", html, "--json", json]);
  return { html, json: JSON.parse(fs.readFileSync(json, "utf8")) };
}

async function main() {
  const chromium = findChromium();
  if (!chromium) {
    console.log("no Chromium installed; skipped");
    process.exit(77);
  }
  fs.mkdirSync(args.work, { recursive: true });
  const sample = viewOf(args.sample, args.work, "idle-machine");
  run(args["trace-writer"], [args.work]);
  const wide = viewOf(path.join(args.work, "wide.etl"), args.work, "wide");
  const hostile = viewOf(path.join(args.work, "hostile-names.etl"), args.work, "hostile-names");

  const browser = new Browser(chromium);
  try {
    await checkPage(browser, "idle-machine sample", sample.html, sample.json, args.screenshot);
    await checkPage(browser, "10 000 threads", wide.html, wide.json);
    const page = await checkPage(browser, "hostile names", hostile.html, hostile.json);
    const shown = await page.evaluate('document.getElementById("wake-rows").textContent');
    check(shown.includes("<script>alert(1)</script>"), "hostile names: the process name is not shown as text");
    check((await page.evaluate('document.querySelectorAll("#wake-rows script, #wake-rows img").length')) === 0,
      "hostile names: a name became markup");
  } finally {
    await browser.close();
  }
  if (failures.length > 0) {
    console.error(failures.length + " check(s) failed");
    process.exit(1);
  }
  console.log("all browser checks passed");
}

main().catch((error) => {
  console.error(error.stack || String(error));
  process.exit(1);
});

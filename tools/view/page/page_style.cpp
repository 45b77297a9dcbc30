#include "view/page/page_assets.h"

namespace dormiscope::view {

const std::string_view kPageStyle = R"CSS(
:root { color-scheme: light; --ink: #1d2330; --muted: #5b6475; --line: #d9dee7; --accent: #2f6fde; --warn: #fff4d6; --odd: #b3261e; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 1600px; padding: 20px 24px 40px; font: 14px/1.45 system-ui, sans-serif; color: var(--ink); }
h1 { font-size: 22px; margin: 0 0 2px; }
h2 { font-size: 17px; margin: 26px 0 6px; }
.source { color: var(--muted); margin: 0 0 14px; overflow-wrap: anywhere; }
.banner { background: var(--warn); border: 1px solid #e3c66b; border-radius: 6px; padding: 8px 12px; margin: 0 0 14px; overflow-wrap: anywhere; }
.banner p { margin: 2px 0; }
.cards { display: grid; grid-template-columns: repeat(auto-fill, minmax(170px, 1fr)); gap: 10px; }
.card { border: 1px solid var(--line); border-radius: 6px; padding: 8px 10px; }
.card b { display: block; font-size: 20px; }
.card span { color: var(--muted); font-size: 12px; }
.charts { display: flex; flex-wrap: wrap; gap: 24px; margin-top: 14px; }
figure { margin: 0; max-width: 100%; }
figure svg { max-width: 100%; height: auto; }
figcaption { color: var(--muted); font-size: 12px; max-width: 560px; }
.legend { color: var(--muted); font-size: 12px; max-width: 1100px; }
.legend p { margin: 4px 0; }
.table-box { overflow: auto; max-height: 85vh; margin-top: 8px; border: 1px solid var(--line); }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid var(--line); padding: 4px 6px; text-align: right; vertical-align: middle; white-space: nowrap; }
th { position: sticky; top: 0; z-index: 1; background: #f4f6fa; font-size: 12px; font-weight: 600; white-space: normal; }
th button { font: inherit; color: var(--accent); background: none; border: 0; padding: 0; margin: 0; cursor: pointer; text-align: inherit; }
th button:focus-visible, td button:focus-visible { outline: 2px solid var(--accent); outline-offset: 2px; }
th[aria-sort="descending"] button::after { content: " \25BC"; }
th[aria-sort="ascending"] button::after { content: " \25B2"; }
td.name, th.name { text-align: left; white-space: normal; overflow-wrap: anywhere; min-width: 160px; }
tr.process td { background: #eef2f9; font-weight: 600; }
tr.thread td.name, tr.folded td.name { padding-left: 22px; }
tr.folded button { font: inherit; font-size: 12px; color: var(--accent); background: none; border: 0; padding: 0; cursor: pointer; }
td.readiers { text-align: left; white-space: normal; overflow-wrap: anywhere; min-width: 140px; font-size: 12px; }
.muted { color: var(--muted); }
.by-cstate, .regularity { display: block; font-size: 11px; color: var(--muted); }
.regularity.irregular { color: var(--odd); font-weight: 600; }
.stacks-toggle, .more-frames { display: block; font: inherit; font-size: 12px; color: var(--accent); background: none; border: 0; padding: 0; margin-top: 2px; cursor: pointer; }
.stacks-toggle:focus-visible, .more-frames:focus-visible { outline: 2px solid var(--accent); outline-offset: 2px; }
tr.stacks td { text-align: left; white-space: normal; background: #fafbfd; padding-left: 22px; }
/* The row spans the whole table, which may be wider than its box: the detail stays in the visible part. */
.stack-detail { display: flex; flex-wrap: wrap; gap: 8px 32px; position: sticky; left: 22px; max-width: min(1100px, calc(100vw - 96px)); }
.stack-group { flex: 1 1 300px; min-width: 0; }
.stack-group h3 { font-size: 13px; margin: 4px 0 0; }
.stack-group p { margin: 0 0 4px; font-size: 12px; }
.stack-list { margin: 0; padding-left: 18px; }
.stack-list > li { margin-bottom: 6px; }
.stack-share { font-size: 12px; font-weight: 600; }
.frames { margin: 0; padding-left: 22px; font-size: 12px; }
.frames, .frame { font-family: ui-monospace, monospace; overflow-wrap: anywhere; }
.share { display: block; font-size: 11px; color: var(--muted); }
#routines .legend { margin: 0; }
#routine-table td.name, #routine-table th.name { min-width: 90px; }
#tip { position: absolute; z-index: 2; pointer-events: none; background: var(--ink); color: #fff; font-size: 12px; padding: 2px 6px; border-radius: 4px; white-space: nowrap; }
#show-all { margin-top: 10px; font: inherit; padding: 4px 12px; }
)CSS";

}  // namespace dormiscope::view

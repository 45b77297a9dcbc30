// A timer resolution, as short as it is exact: 15.625 ms, 1 ms, 0.5 ms.
function resolutionText(ms) {
  return number(ms, 4).replace(/(\.\d*?)0+$/, "$1").replace(/\.$/, "") + " ms";
}
// The header's timer resolution.
document.querySelector("#summary .cards").insertAdjacentHTML("beforeend",
  "<div class=\"card\" id=\"timer-resolution\"><b>" + resolutionText(data.trace.timer_resolution_ms) +
  "</b><span>timer resolution</span></div>");

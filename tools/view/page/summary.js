// The header's timer resolution, as short as it is exact: 15.625 ms, 1 ms, 0.5 ms.
var resolution = number(data.trace.timer_resolution_ms, 4).replace(/(\.\d*?)0+$/, "$1").replace(/\.$/, "");
document.querySelector("#summary .cards").insertAdjacentHTML("beforeend",
  "<div class=\"card\" id=\"timer-resolution\"><b>" + resolution + " ms</b><span>timer resolution</span></div>");

// One tooltip for the whole page: whatever a screen reader would name under
// the pointer (a bar, a slice) is shown beside it.
var tip = document.createElement("div");
tip.id = "tip";
tip.setAttribute("aria-hidden", "true");
tip.hidden = true;
document.body.appendChild(tip);
document.addEventListener("mouseover", function (event) {
  var target = event.target.closest && event.target.closest("[role=\"img\"][aria-label]");
  if (!target) {
    tip.hidden = true;
    return;
  }
  tip.textContent = target.getAttribute("aria-label");
  tip.hidden = false;
  var box = target.getBoundingClientRect();
  // Kept inside the page, so that a tooltip never makes it scroll sideways.
  var left = Math.min(box.left, document.documentElement.clientWidth - tip.offsetWidth - 4);
  tip.style.left = Math.max(0, left) + window.scrollX + "px";
  tip.style.top = box.bottom + window.scrollY + 4 + "px";
});
// Its place was measured for the layout it was shown in.
["resize", "scroll"].forEach(function (type) {
  window.addEventListener(type, function () { tip.hidden = true; }, true);
});

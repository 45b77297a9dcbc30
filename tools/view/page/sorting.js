// Headings that sort a table: each sortable heading holds a button, so that it
// is reached with Tab and pressed with Enter, and the sorted one says so to a
// screen reader. `sort` is { key, descending }.
function sortableHead(columns) {
  var head = "";
  columns.forEach(function (column) {
    var cls = column.cls ? " class=\"" + column.cls + "\"" : "";
    head += column.key ?
      "<th scope=\"col\"" + cls + " data-key=\"" + column.key + "\"><button type=\"button\">" + column.label +
        "</button></th>" :
      "<th scope=\"col\"" + cls + ">" + column.label + "</th>";
  });
  return "<tr>" + head + "</tr>";
}
// A click anywhere in a heading sorts by it; again reverses. Texts start
// ascending, figures descending.
function sortOnHeadingClick(head, columns, sort, render) {
  head.addEventListener("click", function (event) {
    var th = event.target.closest("th[data-key]");
    if (!th) { return; }
    var column = columns.filter(function (c) { return c.key === th.dataset.key; })[0];
    if (sort.key === column.key) {
      sort.descending = !sort.descending;
    } else {
      sort.key = column.key;
      sort.descending = !column.text;
    }
    render();
  });
}
function markSortedHeading(head, sort) {
  head.querySelectorAll("th[data-key]").forEach(function (th) {
    if (th.dataset.key === sort.key) {
      th.setAttribute("aria-sort", sort.descending ? "descending" : "ascending");
    } else {
      th.removeAttribute("aria-sort");
    }
  });
}
function compareSorted(sort, left, right) {
  var order = left < right ? -1 : left > right ? 1 : 0;
  return sort.descending ? -order : order;
}

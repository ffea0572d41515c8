// The page around the data of sample_stats --format html: its style and the
// plain JavaScript that draws the tables and charts from the data the
// renderer puts between the two parts. Nothing is fetched: the content
// security policy allows no request at all, and the script records what it
// drew (and any error) in the element "drawn", for tests to read back.
#include "stats_html.h"

namespace velkor { namespace sample_stats {

const char* const report_page_head = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Sample report</title>
<style>
:root { --ink: #1d2733; --muted: #5b6876; --line: #d6dde5; --read: #2f7dd1; --write: #d1452f;
        --both: #8a4fc2; --bar: #3f8f7a; --bg: #ffffff; --panel: #f5f7fa; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 1180px; padding: 24px 28px 48px; color: var(--ink); background: var(--bg);
       font: 14px/1.45 "DejaVu Sans", "Helvetica Neue", Arial, sans-serif; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 19px; margin: 36px 0 10px; padding-bottom: 4px; border-bottom: 2px solid var(--line); }
h3 { font-size: 15px; margin: 20px 0 8px; }
p.note, .muted { color: var(--muted); }
table { border-collapse: collapse; margin: 6px 0 14px; font-variant-numeric: tabular-nums; }
th, td { padding: 3px 10px; border-bottom: 1px solid var(--line); text-align: left; vertical-align: top; }
th { background: var(--panel); font-weight: 600; white-space: nowrap; }
th.sortable { cursor: pointer; }
th.sortable::after { content: " \2195"; color: var(--muted); font-size: 11px; }
td.num, th.num { text-align: right; }
td.code, .code { font-family: "DejaVu Sans Mono", Menlo, Consolas, monospace; font-size: 12.5px; }
td.bar { min-width: 120px; }
.barcell { display: inline-block; height: 10px; background: var(--bar); vertical-align: middle; }
.facts td:first-child { color: var(--muted); white-space: nowrap; }
.warnings { background: #fff4e5; border-left: 4px solid #e08a00; padding: 8px 12px; margin: 12px 0; }
.warnings li { font-family: "DejaVu Sans Mono", monospace; font-size: 12.5px; }
figure { margin: 8px 0 18px; }
figcaption { font-weight: 600; margin-bottom: 2px; }
svg text { font-size: 11px; fill: var(--ink); }
svg .axis { stroke: var(--muted); stroke-width: 1; }
svg .grid { stroke: var(--line); stroke-width: 1; }
svg rect.bar { fill: var(--bar); }
svg rect.bar:hover, svg rect.cell:hover { stroke: var(--ink); stroke-width: 1.5; }
.verdict { padding: 1px 6px; border-radius: 3px; color: #fff; font-size: 12px; white-space: nowrap; }
.verdict.false-sharing { background: var(--write); }
.verdict.true-sharing { background: var(--both); }
.verdict.read-shared { background: var(--read); }
.verdict.private { background: #7b8794; }
.legend span { display: inline-block; margin-right: 14px; }
.legend i { display: inline-block; width: 12px; height: 12px; margin-right: 4px; vertical-align: -1px; }
.side { display: flex; gap: 28px; flex-wrap: wrap; align-items: flex-start; }
@media print {
  body { max-width: none; padding: 0; font-size: 10pt; }
  h2 { break-after: avoid; }
  figure, table { break-inside: avoid; }
  th.sortable::after { content: ""; }
}
</style>
</head>
<body>
<header>
<h1 id="title">Sample report</h1>
<p class="note" id="subtitle">Drawn by sample_stats from one recording; no data leaves this file.</p>
</header>
<main id="report"><noscript>This report draws its tables and charts with JavaScript; with scripts off, the data are in the page source.</noscript></main>
<pre id="drawn" hidden></pre>
<script type="application/json" id="data">)PAGE";

const char* const report_page_tail = R"PAGE(</script>
<script>
"use strict";
(function () {
  var drawn = { charts: {}, tables: {}, errors: [] };
  function record() { document.getElementById("drawn").textContent = JSON.stringify(drawn); }
  window.addEventListener("error", function (e) { drawn.errors.push("error: " + e.message); record(); });
  document.addEventListener("securitypolicyviolation", function (e) {
    drawn.errors.push("request refused: " + e.blockedURI); record();
  });

  var SVG = "http://www.w3.org/2000/svg";
  function el(tag, attrs, children) {
    var node = document.createElement(tag);
    for (var k in attrs || {}) node.setAttribute(k, attrs[k]);
    (children || []).forEach(function (c) {
      node.appendChild(typeof c === "string" || typeof c === "number" ? document.createTextNode(String(c)) : c);
    });
    return node;
  }
  function sv(tag, attrs, text) {
    var node = document.createElementNS(SVG, tag);
    for (var k in attrs || {}) node.setAttribute(k, attrs[k]);
    if (text !== undefined) node.textContent = String(text);
    return node;
  }
  function tip(node, text) { node.appendChild(sv("title", {}, text)); return node; }
  function fmt(n) { return Number(n).toLocaleString("en-US"); }
  function pct(p) { return p === null || p === undefined ? "" : (p < 0.1 && p > 0 ? p.toPrecision(2) : p.toFixed(1)) + " %"; }
  function niceMax(v) {
    if (v <= 0) return 1;
    var e = Math.pow(10, Math.floor(Math.log10(v))), f = v / e;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * e;
  }
  function shortNumber(v) {
    if (v >= 1e12) return (v / 1e12).toPrecision(3) + "T";
    if (v >= 1e9) return (v / 1e9).toPrecision(3) + "G";
    if (v >= 1e6) return (v / 1e6).toPrecision(3) + "M";
    if (v >= 1e4) return (v / 1e3).toPrecision(3) + "k";
    return String(v);
  }

  // A bar chart: bars of {label, value, tip}, the y axis from 0 with a few
  // grid lines, both axes named with their units.
  function barChart(id, title, xLabel, yLabel, bars) {
    var width = 760, height = 270, left = 64, right = 12, top = 14, bottom = 62;
    var plotW = width - left - right, plotH = height - top - bottom;
    var max = niceMax(Math.max.apply(null, bars.map(function (b) { return b.value; }).concat([0])));
    var svg = sv("svg", { width: width, height: height, viewBox: "0 0 " + width + " " + height,
                          role: "img", "aria-label": title });
    for (var i = 0; i <= 4; ++i) {
      var y = top + plotH - plotH * i / 4;
      svg.appendChild(sv("line", { x1: left, x2: left + plotW, y1: y, y2: y, "class": i ? "grid" : "axis" }));
      svg.appendChild(sv("text", { x: left - 6, y: y + 4, "text-anchor": "end" }, shortNumber(max * i / 4)));
    }
    svg.appendChild(sv("line", { x1: left, x2: left, y1: top, y2: top + plotH, "class": "axis" }));
    var step = plotW / Math.max(bars.length, 1), every = Math.ceil(bars.length / 16);
    bars.forEach(function (b, i) {
      var h = plotH * b.value / max, x = left + i * step;
      var bar = sv("rect", { x: x + step * 0.1, y: top + plotH - h, width: Math.max(step * 0.8, 1),
                             height: Math.max(h, b.value > 0 ? 1 : 0), "class": "bar", "data-value": b.value });
      svg.appendChild(tip(bar, b.tip));
      if (i % every === 0) {
        var tx = x + step / 2, ty = top + plotH + 12;
        svg.appendChild(sv("text", { x: tx, y: ty, "text-anchor": "end",
                                     transform: "rotate(-35 " + tx + " " + ty + ")" }, b.label));
      }
    });
    svg.appendChild(sv("text", { x: left + plotW / 2, y: height - 4, "text-anchor": "middle" }, xLabel));
    svg.appendChild(sv("text", { x: 12, y: top + plotH / 2, "text-anchor": "middle",
                                 transform: "rotate(-90 12 " + (top + plotH / 2) + ")" }, yLabel));
    drawn.charts[id] = bars.map(function (b) { return b.value; });
    return el("figure", { id: id }, [el("figcaption", {}, [title]), svg]);
  }

  // A table whose numeric columns sort on a click of their header.
  function table(id, columns, rows) {
    var head = el("tr", {}, columns.map(function (c, i) {
      var th = el("th", { "class": (c.num ? "num " : "") + (c.sort === false ? "" : "sortable") }, [c.title]);
      if (c.sort !== false) th.addEventListener("click", function () { sortBy(i); });
      return th;
    }));
    var body = el("tbody");
    var order = rows.slice(), lastSorted = -1, descending = true;
    function fill() {
      while (body.firstChild) body.removeChild(body.firstChild);
      order.forEach(function (r) {
        body.appendChild(el("tr", {}, columns.map(function (c, i) {
          var cell = r.cells[i];
          var td = el("td", { "class": c.cls || (c.num ? "num" : "") });
          if (cell instanceof Node) td.appendChild(cell); else td.textContent = cell === undefined ? "" : String(cell);
          return td;
        })));
      });
    }
    function sortBy(i) {
      descending = lastSorted === i ? !descending : true;
      lastSorted = i;
      order.sort(function (a, b) {
        var x = a.keys[i], y = b.keys[i];
        var d = typeof x === "number" && typeof y === "number" ? x - y : String(x).localeCompare(String(y));
        return descending ? -d : d;
      });
      fill();
    }
    fill();
    drawn.tables[id] = rows.map(function (r) { return r.keys; });
    return el("table", { id: id }, [el("thead", {}, [head]), body]);
  }
  function barCell(value, max) {
    return el("span", { "class": "barcell", style: "width:" + Math.round(100 * value / Math.max(max, 1)) + "px" });
  }

  function recordingSection(d, main) {
    var r = d.recording;
    main.appendChild(el("h2", {}, ["The recording"]));
    var facts = [["Command line", (r.argv || []).join(" ")], ["User", r.user || ""],
                 ["Acquisition begin", r.begin_time_text || ""], ["Acquisition end", r.end_time_text || ""],
                 ["Nominal sample period", r.nominal_sample_period === undefined ? "" : fmt(r.nominal_sample_period) + " accesses"],
                 ["Container", "version " + d.container.version + ", " + d.container.product_name + ", " +
                               d.container.compression_name],
                 ["Mappings", fmt(r.mappings)], ["Call stacks", fmt(d.stacks)]];
    main.appendChild(el("table", { "class": "facts" }, facts.map(function (f) {
      return el("tr", {}, [el("td", {}, [f[0]]), el("td", { "class": f[0] === "Command line" ? "code" : "" }, [f[1]])]);
    })));
    if (d.warnings.length) {
      main.appendChild(el("div", { "class": "warnings" }, [el("strong", {}, ["Warnings"]),
        el("ul", {}, d.warnings.map(function (w) { return el("li", {}, [w]); }))]));
    }
    if (r.argv && r.argv.length) document.getElementById("title").textContent = "Sample report: " + r.argv[0];
  }

  function countsSection(d, main) {
    main.appendChild(el("h2", {}, ["Samples per line size"]));
    var rows = d.line_sizes.map(function (s) {
      var share = s.sample_begin_events ? 100 * s.dangling_samples / s.sample_begin_events : 0;
      return { cells: [s.line_size + " B", fmt(s.sample_begin_events), fmt(s.sample_end_events),
                       fmt(s.sample_begin_times), fmt(s.sample_end_times), fmt(s.dangling_samples), pct(share),
                       s.real_sample_period === null ? "" : fmt(Math.round(s.real_sample_period))],
               keys: [s.line_size, s.sample_begin_events, s.sample_end_events, s.sample_begin_times,
                      s.sample_end_times, s.dangling_samples, share, s.real_sample_period] };
    });
    main.appendChild(table("counts", [{ title: "Line size" }, { title: "Begins", num: 1 }, { title: "Ends", num: 1 },
      { title: "Begin times", num: 1 }, { title: "End times", num: 1 }, { title: "Dangling", num: 1 },
      { title: "Dangling share", num: 1 }, { title: "Real sample period (accesses)", num: 1 }], rows));
    var acc = d.line_sizes.length ? d.line_sizes[0].acquisition_accesses : 0;
    main.appendChild(el("p", { "class": "note" }, ["Acquisition accesses (the largest sample time): " + fmt(acc) + "."]));
  }

  function distributionSection(d, main) {
    var t = d.time_distribution, w = t.accesses_per_bucket;
    main.appendChild(el("h2", {}, ["Sample begins over time"]));
    main.appendChild(barChart("time_distribution", "Sample begins per time bucket (" + fmt(w) + " accesses per bucket)",
      "sample time (accesses)", "sample begins", t.buckets.map(function (n, i) {
        return { label: shortNumber(i * w), value: n,
                 tip: fmt(n) + " begins at times " + fmt(i * w) + " to " + fmt((i + 1) * w - 1) };
      })));
  }

  // The function column only with names (sample_stats --symbols).
  function pcTable(id, list, total, withReuse) {
    var max = Math.max.apply(null, list.map(function (p) { return p.samples; }).concat([1]));
    var named = list.some(function (p) { return p.symbol !== undefined; });
    var columns = [{ title: "#", num: 1 }, { title: "pc", cls: "code" }, { title: "Samples", num: 1 },
                   { title: "Share", num: 1 }, { title: "", sort: false, cls: "bar" }];
    if (named) columns.push({ title: "Function", cls: "code" });
    if (withReuse) columns.push({ title: "Reuse median (accesses)", num: 1 }, { title: "Reuse p90 (accesses)", num: 1 });
    return table(id, columns, list.map(function (p, i) {
      var cells = [i + 1, p.pc_hex, fmt(p.samples), pct(p.percent), barCell(p.samples, max)];
      var keys = [i + 1, p.pc_hex, p.samples, p.percent, p.samples];
      if (named) {
        cells.push(p.symbol || "");
        keys.push(p.symbol || "");
      }
      if (withReuse) {
        cells.push(fmt(p.reuse_median), fmt(p.reuse_p90));
        keys.push(p.reuse_median, p.reuse_p90);
      }
      return { cells: cells, keys: keys };
    }));
  }

  function lineSizeSections(d, main) {
    d.line_sizes.forEach(function (s) {
      main.appendChild(el("h2", {}, ["Line size " + s.line_size + " B"]));
      var side = el("div", { "class": "side" });
      side.appendChild(el("div", {}, [el("h3", {}, ["Program counters that began most samples"]),
        pcTable("top_begin_" + s.line_size, s.top_begin_pcs, s.sample_begin_events, true)]));
      side.appendChild(el("div", {}, [el("h3", {}, ["Program counters that ended most samples"]),
        pcTable("top_end_" + s.line_size, s.top_end_pcs, s.sample_end_events, false)]));
      main.appendChild(side);
      var r = s.reuse_times;
      main.appendChild(barChart("reuse_" + s.line_size,
        "Reuse times: accesses from a sample's begin to its first end (median " + fmt(r.median) + ", 90th percentile " +
        fmt(r.p90) + ")", "reuse time (accesses, ranges by powers of two)", "samples",
        r.histogram.map(function (h) {
          return { label: h.from === h.to ? shortNumber(h.from) : shortNumber(h.from) + "\u2013" + shortNumber(h.to),
                   value: h.samples, tip: fmt(h.samples) + " samples reused after " + fmt(h.from) + " to " + fmt(h.to) + " accesses" };
        })));
      var w = r.without_end;
      main.appendChild(el("p", { "class": "note" }, [fmt(r.samples) + " samples with an end; without one: " +
        fmt(w.dangling) + " dangling, " + fmt(w.killed) + " killed, " + fmt(w.without_ends) + " without ends." +
        (s.bursts ? " Bursts: " + fmt(s.bursts.begins) + " begins, " + fmt(s.bursts.ends) + " ends, " +
                    s.bursts.average_length_seconds.toPrecision(3) + " s on average." : "")]));
      main.appendChild(table("types_" + s.line_size, [{ title: "Access type" }, { title: "Accesses", num: 1 }],
        s.access_type_counts.map(function (t) {
          return { cells: [t.access_type_name, fmt(t.count)], keys: [t.access_type_name, t.count] };
        })));
    });
  }

  function communicationSection(d, main) {
    var c = d.communication;
    main.appendChild(el("h2", {}, ["Who hands on to whom"]));
    main.appendChild(el("p", { "class": "note" }, ["Pairs of consecutive accesses of a sample, by the threads of the earlier and the later access: " +
      fmt(c.pairs) + " pairs, " + fmt(c.same_thread) + " within a thread, " + fmt(c.cross_thread) + " across threads." +
      (c.other_threads ? " The " + fmt(c.other_threads) + " threads with the fewest pairs are shown together as \u201cothers\u201d." : "")]));
    var n = c.threads.length, cellSize = Math.max(8, Math.min(28, Math.floor(520 / Math.max(n, 1))));
    var left = 90, top = 70, size = cellSize * n;
    var svg = sv("svg", { width: left + size + 20, height: top + size + 24, role: "img",
                          "aria-label": "pairs of accesses from thread to thread" });
    var max = Math.max.apply(null, c.cells.map(function (x) { return x.count; }).concat([1]));
    var cells = [];
    c.cells.forEach(function (x) {
      var shade = Math.sqrt(x.count / max);
      var fill = "rgb(" + Math.round(245 - 200 * shade) + "," + Math.round(247 - 140 * shade) + "," + Math.round(250 - 60 * shade) + ")";
      var rect = sv("rect", { x: left + x.to * cellSize, y: top + x.from * cellSize, width: cellSize - 1, height: cellSize - 1,
                              fill: fill, "class": "cell", "data-value": x.count });
      svg.appendChild(tip(rect, c.threads[x.from] + " \u2192 " + c.threads[x.to] + ": " + fmt(x.count) + " pairs (" +
                                pct(x.percent) + ")" + (x.types ? "\n" + x.types : "")));
      cells.push([c.threads[x.from], c.threads[x.to], x.count]);
    });
    c.threads.forEach(function (t, i) {
      svg.appendChild(sv("text", { x: left - 6, y: top + i * cellSize + cellSize / 2 + 4, "text-anchor": "end" }, t));
      var tx = left + i * cellSize + cellSize / 2, ty = top - 6;
      svg.appendChild(sv("text", { x: tx, y: ty, transform: "rotate(-60 " + tx + " " + ty + ")" }, t));
    });
    svg.appendChild(sv("text", { x: 4, y: top - 8 }, "from \u2193 / to \u2192"));
    drawn.charts.communication_matrix = cells;
    var figure = el("figure", { id: "communication_matrix" }, [el("figcaption", {}, ["Pairs from thread (rows) to thread (columns)"]), svg]);
    var busiest = table("busiest_pairs", [{ title: "From thread", num: 1 }, { title: "To thread", num: 1 },
      { title: "Types" }, { title: "Pairs", num: 1 }, { title: "Share", num: 1 }],
      c.busiest.map(function (b) {
        return { cells: [b.from_thread, b.to_thread, b.from_type_name + "\u2192" + b.to_type_name, fmt(b.count), pct(b.percent)],
                 keys: [b.from_thread, b.to_thread, b.from_type_name + "-" + b.to_type_name, b.count, b.percent] };
      }));
    main.appendChild(el("div", { "class": "side" }, [figure, el("div", {}, [el("h3", {}, ["The busiest pairs"]), busiest])]));
  }

  function linesSection(d, main) {
    var l = d.cache_lines;
    if (!l) return;
    main.appendChild(el("h2", {}, ["Cache lines the threads hand over"]));
    main.appendChild(el("p", { "class": "note" }, [fmt(l.lines) + " lines touched, " + fmt(l.shared_lines) + " shared: " +
      fmt(l.false_sharing_lines) + " false sharing, " + fmt(l.true_sharing_lines) + " true sharing, " +
      fmt(l.read_shared_lines) + " read-shared. " + fmt(l.transfers_with_write) + " of " + fmt(l.transfers) +
      " transfers between threads involve a write."]));
    main.appendChild(table("cache_lines", [{ title: "#", num: 1 }, { title: "Line", cls: "code" }, { title: "Size", num: 1 },
      { title: "Verdict" }, { title: "Accesses", num: 1 }, { title: "Writes", num: 1 }, { title: "Threads", num: 1 },
      { title: "Transfers with a write", num: 1 }, { title: "Share", num: 1 }, { title: "Object", cls: "code" }],
      l.list.map(function (x, i) {
        return { cells: [i + 1, x.address_hex, x.line_size, el("span", { "class": "verdict " + x.verdict }, [x.verdict]),
                         fmt(x.accesses), fmt(x.writes), x.threads, fmt(x.transfers_with_write), pct(x.write_transfer_percent),
                         x.data_symbol || ""],
                 keys: [i + 1, x.address_hex, x.line_size, x.verdict, x.accesses, x.writes, x.threads,
                        x.transfers_with_write, x.write_transfer_percent, x.data_symbol || ""] };
      })));
    main.appendChild(el("p", { "class": "legend" }, [el("span", {}, [el("i", { style: "background:var(--read)" }), "read"]),
      el("span", {}, [el("i", { style: "background:var(--write)" }), "written"]),
      el("span", {}, [el("i", { style: "background:var(--both)" }), "read and written"])]));
    drawn.charts.byte_strips = [];
    l.list.forEach(function (x) {
      var bytes = Math.min(x.line_size, 128), rows = x.by_thread.length, cell = Math.max(4, Math.floor(640 / bytes));
      var left = 80, top = 18, svg = sv("svg", { width: left + bytes * cell + 10, height: top + rows * 16 + 22, role: "img",
                                                  "aria-label": "bytes of line " + x.address_hex + " by thread" });
      var strip = [];
      x.by_thread.forEach(function (t, row) {
        svg.appendChild(sv("text", { x: left - 6, y: top + row * 16 + 11, "text-anchor": "end" }, t.thread));
        t.ranges.forEach(function (r) {
          var color = r.reads && r.writes ? "var(--both)" : r.writes ? "var(--write)" : "var(--read)";
          var rect = sv("rect", { x: left + r.offset * cell * bytes / x.line_size, y: top + row * 16, height: 13,
                                  width: Math.max(r.length * cell * bytes / x.line_size - 1, 2), fill: color, "class": "cell",
                                  "data-value": r.accesses });
          svg.appendChild(tip(rect, "thread " + t.thread + ", bytes " + r.offset + "\u2013" + (r.offset + r.length - 1) + ": " +
                                    fmt(r.reads) + " reads, " + fmt(r.writes) + " writes\n" + r.pcs.join("\n")));
          strip.push([t.thread, r.offset, r.length, r.reads, r.writes]);
        });
      });
      for (var b = 0; b <= bytes; b += bytes / 8) {
        svg.appendChild(sv("line", { x1: left + b * cell, x2: left + b * cell, y1: top - 3, y2: top + rows * 16, "class": "grid" }));
        svg.appendChild(sv("text", { x: left + b * cell, y: top + rows * 16 + 14, "text-anchor": "middle" }, b * x.line_size / bytes));
      }
      svg.appendChild(sv("text", { x: left, y: 11 }, "byte offset in the line \u2192 (rows: threads)"));
      drawn.charts.byte_strips.push({ line: x.address_hex, ranges: strip });
      main.appendChild(el("figure", {}, [el("figcaption", {}, ["Line " + x.address_hex + " (" + x.verdict + ")" +
        (x.data_symbol ? ": " + x.data_symbol : "")]), svg]));
    });
  }

  try {
    var data = JSON.parse(document.getElementById("data").textContent);
    var main = document.getElementById("report");
    recordingSection(data, main);
    countsSection(data, main);
    distributionSection(data, main);
    lineSizeSections(data, main);
    communicationSection(data, main);
    linesSection(data, main);
    drawn.done = true;
  } catch (e) {
    drawn.errors.push("error: " + (e && e.stack ? e.stack : e));
  }
  record();
})();
</script>
</body>
</html>
)PAGE";

}}  // namespace velkor::sample_stats

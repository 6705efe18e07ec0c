// The page of udpsv-recv --http. The receiver streams batches of points over
// Server-Sent Events: [frame, seconds, merged, value 1, ..., value N], where
// merged > 1 marks a per-input minimum or maximum of that many frames that
// the receiver folded together so that no frame rate can swamp the page.
"use strict";

const kKeepSeconds = 120;  // points kept for pausing and widening the window

// Kept on window so that a test can read back what the chart plots.
const state = window.udpsv = {
  rows: [], stats: null, paused: false, windowSeconds: 20, chart: null, labels: null,
  batches: 0, csv: null,
};

const $ = (id) => document.getElementById(id);

function labelsFor(count) {
  const labels = ["seconds"];
  for (let i = 1; i <= count; ++i) labels.push("input " + i);
  return labels;
}

// The chart cannot scale an axis to an infinity: those become gaps there,
// while the rows keep them.
function chartData() {
  return state.rows.map((r) => [r[1], ...r.slice(3).map((v) => (Number.isFinite(v) ? v : null))]);
}

function visibleRange() {
  if (state.chart) return state.chart.xAxisRange();
  const last = state.rows.length ? state.rows[state.rows.length - 1][1] : 0;
  return [last - state.windowSeconds, last];
}

function draw() {
  if (!state.rows.length) return;
  const last = state.rows[state.rows.length - 1][1];
  const window = [Math.max(0, last - state.windowSeconds), Math.max(last, state.windowSeconds)];
  if (!state.chart) {
    state.labels = labelsFor(state.rows[0].length - 3);
    state.chart = new Dygraph($("chart"), chartData(), {
      labels: state.labels,
      legend: "always",
      labelsDiv: $("legend"),
      labelsSeparateLines: true,
      xlabel: "seconds since the first frame",
      dateWindow: window,
      connectSeparatedPoints: false,
    });
  } else {
    state.chart.updateOptions({ file: chartData(), dateWindow: window });
  }
}

function showStats() {
  const s = state.stats;
  $("what").textContent = (s.inputs ?? "?") + " × " + s.type;
  const bad = (n) => (n > 0 ? '<span class="bad">' + n + "</span>" : "0");
  $("stats").innerHTML =
    s.frames + " frames · " + s.rate.toFixed(1) + " frames/s · malformed " + bad(s.malformed) +
    " · lost " + (s.lost === null ? "not counted here" : bad(s.lost));
  document.title = "udpsv-recv: " + s.frames + " frames";
}

function trim() {
  if (!state.rows.length) return;
  const oldest = state.rows[state.rows.length - 1][1] - kKeepSeconds;
  let drop = 0;
  while (drop < state.rows.length && state.rows[drop][1] < oldest) ++drop;
  if (drop) state.rows.splice(0, drop);
}

// CSV of what the chart shows now: the rows inside its x range.
function visibleCsv() {
  const [from, to] = visibleRange();
  const count = state.rows.length ? state.rows[0].length - 3 : 0;
  const head = ["frame", "seconds", "merged"];
  for (let i = 1; i <= count; ++i) head.push("v" + i);
  const lines = [head.join(",")];
  for (const r of state.rows)
    if (r[1] >= from && r[1] <= to)
      lines.push(r.map((v) => (Object.is(v, -0) ? "-0" : v === null ? "nan" : String(v))).join(","));
  return lines.join("\n") + "\n";
}

$("csv").onclick = () => {
  state.csv = visibleCsv();
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([state.csv], { type: "text/csv" }));
  link.download = "udpsv-frames.csv";
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
};

$("pause").onclick = () => {
  state.paused = !state.paused;
  $("pause").textContent = state.paused ? "Resume" : "Pause";
  $("state").textContent = state.paused ? "paused: frames are still collected" : "";
  if (!state.paused) draw();
};

$("window").onchange = (e) => {
  state.windowSeconds = Number(e.target.value);
  draw();
};

const source = new EventSource("events");
source.onmessage = (e) => {
  const batch = JSON.parse(e.data);
  state.stats = batch;
  ++state.batches;
  for (const p of batch.points) state.rows.push(p);
  trim();
  showStats();
  if (!state.paused) draw();
};
source.onerror = () => {
  // The browser retries a stream that broke off, but not one the receiver
  // refused: it serves 16 pages at a time.
  if (source.readyState === EventSource.CLOSED)
    $("state").textContent = "the receiver shows 16 pages at most: close one, then reload this one";
  else if (!state.paused) $("state").textContent = "connection lost; retrying";
};
source.onopen = () => {
  if (!state.paused) $("state").textContent = "";
};

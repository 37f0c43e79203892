// The live page of qm7410d: draws every meter from /api/state, then keeps it current from /events.
// Everything is built with DOM calls (no inline script or style, as the page's policy demands) and
// the charts are plain SVG.
"use strict";

const TEXTS = {
  en: {
    title: "Meters", skip: "Skip to the meters", live: "Live: new readings appear by themselves",
    lost: "Connection to the service lost; trying again", loading: "Loading…",
    online: "Online", offlineSince: "Offline since {t}", waiting: "Waiting for the first reading",
    address: "Address", bus: "Bus", pt: "PT", ct: "CT", wiring: "Wiring", last: "Last reading",
    values: "Values of {m}", quantity: "Quantity", energies: "Energy of {m}", value: "Value",
    rows: ["Phase voltage", "Line voltage", "Current", "Active power", "Reactive power", "Apparent power",
      "Power factor"],
    cols: ["Combined", "A / CA", "B / AB", "C / BC"], frequency: "Frequency",
    energy: { EPimp: "Active energy imported", EPexp: "Active energy exported",
      EQimp: "Reactive energy imported", EQexp: "Reactive energy exported" },
    day: "The last 24 hours", charts: ["Phase voltage", "Current", "Active power", "Power factor", "Frequency"],
    series: "Series", min: "Lowest", max: "Highest", latest: "Latest", noData: "no readings yet",
    inNumbers: "{c} in numbers", ago: "−{h} h", now: "now", chartOf: "{c} of {m}, the last 24 hours",
    footer: "Read-only: this page never sends anything to a meter.",
    wirings: ["3-phase 4-wire (unbalanced)", "single-phase 2-wire", "3-phase 3-wire (unbalanced)",
      "3-phase 3-wire (balanced)", "single-phase 3-wire", "3-phase 4-wire (balanced)"],
  },
  zh: {
    title: "电表", skip: "跳到电表", live: "实时：新读数自动显示", lost: "与服务的连接中断，正在重试",
    loading: "正在载入…", online: "在线", offlineSince: "离线，自 {t} 起", waiting: "等待第一次读数",
    address: "子机地址", bus: "总线", pt: "PT", ct: "CT", wiring: "接线", last: "最近读数",
    values: "{m} 的测量值", quantity: "测量量", energies: "{m} 的电能", value: "数值",
    rows: ["相电压", "线电压", "相电流", "有功功率", "无功功率", "视在功率", "功率因数"],
    cols: ["合相", "A相/CA线", "B相/AB线", "C相/BC线"], frequency: "频率",
    energy: { EPimp: "正向有功电能", EPexp: "负向有功电能", EQimp: "正向无功电能", EQexp: "负向无功电能" },
    day: "过去 24 小时", charts: ["相电压", "相电流", "有功功率", "功率因数", "频率"],
    series: "序列", min: "最低", max: "最高", latest: "最新", noData: "尚无读数",
    inNumbers: "{c}（数值）", ago: "−{h} 小时", now: "现在", chartOf: "{m} 的{c}，过去 24 小时",
    footer: "只读：本页从不向电表发送任何内容。",
    wirings: null,
  },
};

const LANG = document.documentElement.lang.startsWith("zh") ? "zh" : "en";
const T = TEXTS[LANG];

// The rows of the window's grid by a word's place in its group of eight, and its columns by group.
const ROW_OFFSETS = [0, 1, 2, 4, 6, 7, 5];
const COL_GROUPS = [3, 0, 1, 2];
const ENERGIES = ["EPimp", "EPexp", "EQimp", "EQexp"];
// The charts: indexes into the trend's series (the service's word list), a unit and digits.
const CHARTS = [
  { series: [0, 1, 2], names: ["Ua", "Ub", "Uc"], unit: "V", digits: 2 },
  { series: [3, 4, 5], names: ["Ia", "Ib", "Ic"], unit: "A", digits: 3 },
  { series: [6, 7, 8, 9], names: ["Pa", "Pb", "Pc", "P"], unit: "W", digits: 1 },
  { series: [10], names: ["PF"], unit: "", digits: 3 },
  { series: [11], names: ["F"], unit: "Hz", digits: 2 },
];
const DAY = 24 * 60;

const meters = new Map(); // id -> { data, trend, card }
let nowMinute = 0;

function say(text, values) {
  return text.replace(/\{(\w)\}/g, (_, k) => values[k]);
}

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  for (const c of children) e.append(c);
  return e;
}

const SVG = "http://www.w3.org/2000/svg";
function svg(tag, attrs) {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  return e;
}

function timeText(unixSeconds) {
  const d = new Date(unixSeconds * 1000);
  const sameDay = new Date().toDateString() === d.toDateString();
  const locale = LANG === "zh" ? "zh-CN" : undefined;
  return sameDay ? d.toLocaleTimeString(locale) : d.toLocaleString(locale);
}

function numberText(v, digits, unit) {
  if (v === null || v === undefined) return "–";
  const text = v.toLocaleString(LANG === "zh" ? "zh-CN" : "en", { maximumFractionDigits: digits });
  return unit ? text + " " + unit : text;
}

function statusOf(m) {
  if (m.up) return { text: T.online, cls: "online" };
  if (m.downSince > 0) return { text: say(T.offlineSince, { t: timeText(m.downSince) }), cls: "offline" };
  return { text: T.waiting, cls: "offline" };
}

// A table that may be wider than a phone scrolls in its own box, which the keyboard can reach.
function scrollBox(label, table) {
  return el("div", { class: "scroll", tabindex: "0", role: "region", "aria-label": label }, table);
}

function buildCard(m) {
  const key = "m" + m.id;
  const card = el("section", { class: "meter", "aria-labelledby": key + "-name", id: key });
  card.append(el("h2", { id: key + "-name" }, m.name));
  card.append(el("p", { class: "status", id: key + "-status" }));
  const facts = el("dl", { class: "facts" });
  for (const f of ["address", "bus", "pt", "ct", "wiring", "last"])
    facts.append(el("div", {}, el("dt", {}, T[f]), el("dd", { id: key + "-" + f })));
  card.append(facts);

  const grid = el("table", { id: key + "-values" });
  grid.append(el("caption", {}, say(T.values, { m: m.name })));
  const head = el("tr", {}, el("th", { scope: "col" }, T.quantity));
  for (const c of T.cols) head.append(el("th", { scope: "col" }, c));
  grid.append(el("thead", {}, head));
  const body = el("tbody");
  ROW_OFFSETS.forEach((offset, r) => {
    const row = el("tr", {}, el("th", { scope: "row" }, T.rows[r]));
    for (const g of COL_GROUPS) row.append(el("td", { id: key + "-w" + (g * 8 + offset) }));
    body.append(row);
  });
  const freq = el("tr", {}, el("th", { scope: "row" }, T.frequency), el("td", { id: key + "-freq" }));
  for (let i = 1; i < COL_GROUPS.length; i++) freq.append(el("td"));
  body.append(freq);
  grid.append(body);
  card.append(scrollBox(say(T.values, { m: m.name }), grid));

  const energy = el("table", { id: key + "-energy" });
  energy.append(el("caption", {}, say(T.energies, { m: m.name })));
  energy.append(el("thead", {}, el("tr", {}, el("th", { scope: "col" }, T.quantity),
    el("th", { scope: "col" }, T.value))));
  const ebody = el("tbody");
  for (const e of ENERGIES)
    ebody.append(el("tr", {}, el("th", { scope: "row" }, T.energy[e]), el("td", { id: key + "-" + e })));
  energy.append(ebody);
  card.append(scrollBox(say(T.energies, { m: m.name }), energy));

  card.append(el("h3", {}, T.day));
  const charts = el("div", { class: "charts" });
  CHARTS.forEach((c, i) => {
    const id = key + "-chart" + i;
    const title = T.charts[i] + (c.unit ? " (" + c.unit + ")" : "");
    const figure = el("figure", { id });
    figure.append(el("figcaption", { id: id + "-title" }, title));
    figure.append(el("div", { class: "plot" }));
    figure.append(el("div", { class: "numbers" }));
    charts.append(figure);
  });
  card.append(charts);
  return card;
}

function fillCard(entry) {
  const m = entry.data;
  const key = "m" + m.id;
  const byId = (s) => document.getElementById(key + "-" + s);
  const status = statusOf(m);
  const st = byId("status");
  st.textContent = status.text;
  st.className = "status " + status.cls;
  byId("address").textContent = String(m.address);
  byId("bus").textContent = m.bus;
  byId("pt").textContent = m.read ? String(m.pt) : "–";
  byId("ct").textContent = m.read ? String(m.ct) : "–";
  const wiringName = (T.wirings && T.wirings[m.wiring]) || m.wiringCaption || (m.read ? String(m.wiring) : "–");
  byId("wiring").textContent = m.read ? wiringName : "–";
  byId("last").textContent = m.lastSuccess > 0 ? timeText(m.lastSuccess) : "–";
  for (const v of m.values) {
    let cell = null;
    if (v.word < 32 && v.word % 8 === 3) cell = byId("freq");
    else if (v.word < 32) cell = byId("w" + v.word);
    else cell = byId(v.name);
    if (cell) cell.textContent = v.text;
  }
  drawCharts(entry);
}

function drawCharts(entry) {
  const key = "m" + entry.data.id;
  const first = nowMinute - DAY + 1;
  const day = entry.trend.filter((p) => p[0] >= first);
  CHARTS.forEach((c, i) => {
    const figure = document.getElementById(key + "-chart" + i);
    const plot = figure.querySelector(".plot");
    const numbers = figure.querySelector(".numbers");
    plot.replaceChildren(drawChart(c, day, first, key + "-chart" + i + "-title"));
    numbers.replaceChildren(summaryTable(c, day, T.charts[i]));
  });
}

function drawChart(c, day, first, labelId) {
  const W = 320, H = 150, L = 52, R = 6, TOP = 8, B = 22;
  const s = svg("svg", { viewBox: `0 0 ${W} ${H}`, class: "chart", role: "img", "aria-labelledby": labelId });
  let lo = Infinity, hi = -Infinity;
  for (const p of day)
    for (const k of c.series) {
      const v = p[1][k];
      if (v) { lo = Math.min(lo, v[0]); hi = Math.max(hi, v[2]); }
    }
  if (lo === Infinity) { lo = 0; hi = 1; }
  if (hi - lo < 1e-9) { const pad = Math.max(Math.abs(hi) * 0.01, 0.01); lo -= pad; hi += pad; }
  const x = (minute) => L + ((minute - first) / (DAY - 1)) * (W - L - R);
  const y = (v) => TOP + (1 - (v - lo) / (hi - lo)) * (H - TOP - B);
  s.append(svg("line", { class: "axis", x1: L, y1: TOP, x2: L, y2: H - B }));
  s.append(svg("line", { class: "axis", x1: L, y1: H - B, x2: W - R, y2: H - B }));
  for (const v of [hi, (hi + lo) / 2, lo]) {
    s.append(svg("line", { class: "grid", x1: L, y1: y(v), x2: W - R, y2: y(v) }));
    const t = svg("text", { x: L - 3, y: y(v) + 4, "text-anchor": "end" });
    t.textContent = numberText(v, c.digits, "");
    s.append(t);
  }
  for (const h of [24, 12, 0]) {
    const t = svg("text", { x: x(nowMinute - h * 60), y: H - 6, "text-anchor": h === 24 ? "start" : h === 0 ? "end" : "middle" });
    t.textContent = h === 0 ? T.now : say(T.ago, { h });
    s.append(t);
  }
  c.series.forEach((k, n) => {
    // Runs of minutes without a gap longer than five minutes are drawn as one line.
    const runs = [];
    let run = [];
    let previous = null;
    for (const p of day) {
      const v = p[1][k];
      if (!v) continue;
      if (previous !== null && p[0] - previous > 5) { runs.push(run); run = []; }
      run.push([p[0], v]);
      previous = p[0];
    }
    if (run.length) runs.push(run);
    for (const r of runs) {
      const upper = r.map(([m, v]) => `${x(m).toFixed(1)},${y(v[2]).toFixed(1)}`);
      const lower = r.slice().reverse().map(([m, v]) => `${x(m).toFixed(1)},${y(v[0]).toFixed(1)}`);
      if (r.length > 1) s.append(svg("polygon", { class: "band s" + n, points: upper.concat(lower).join(" ") }));
      const mean = r.map(([m, v]) => `${x(m).toFixed(1)},${y(v[1]).toFixed(1)}`).join(" ");
      if (r.length > 1) s.append(svg("polyline", { class: "avg s" + n, points: mean }));
      else s.append(svg("circle", { class: "s" + n, cx: x(r[0][0]), cy: y(r[0][1][1]), r: 2 }));
    }
  });
  return s;
}

// The chart in words: each series' lowest, highest and latest value of the day.
function summaryTable(c, day, title) {
  const table = el("table", { class: "summary" });
  table.append(el("caption", {}, say(T.inNumbers, { c: title })));
  table.append(el("thead", {}, el("tr", {}, el("th", { scope: "col" }, T.series), el("th", { scope: "col" }, T.min),
    el("th", { scope: "col" }, T.max), el("th", { scope: "col" }, T.latest))));
  const body = el("tbody");
  c.series.forEach((k, n) => {
    let lo = null, hi = null, last = null;
    for (const p of day) {
      const v = p[1][k];
      if (!v) continue;
      lo = lo === null ? v[0] : Math.min(lo, v[0]);
      hi = hi === null ? v[2] : Math.max(hi, v[2]);
      last = v[1];
    }
    const name = el("th", { scope: "row" }, el("span", { class: "key k" + n, "aria-hidden": "true" }), c.names[n]);
    const row = el("tr", {}, name);
    if (last === null) row.append(el("td", { colspan: "3" }, T.noData));
    else for (const v of [lo, hi, last]) row.append(el("td", {}, numberText(v, c.digits, c.unit)));
    body.append(row);
  });
  table.append(body);
  return table;
}

function render(state) {
  nowMinute = state.now;
  const main = document.getElementById("meters");
  main.replaceChildren();
  meters.clear();
  for (const m of state.meters) {
    const entry = { data: m, trend: m.trend, card: buildCard(m) };
    meters.set(m.id, entry);
    main.append(entry.card);
    fillCard(entry);
  }
}

function onMeter(message) {
  const entry = meters.get(message.meter.id);
  if (!entry) return;
  entry.data = message.meter;
  if (message.minute) {
    const minute = message.minute;
    nowMinute = Math.max(nowMinute, minute[0]);
    const last = entry.trend[entry.trend.length - 1];
    if (last && last[0] === minute[0]) entry.trend[entry.trend.length - 1] = minute;
    else entry.trend.push(minute);
    while (entry.trend.length && entry.trend[0][0] <= nowMinute - DAY) entry.trend.shift();
  }
  fillCard(entry);
}

function load() {
  return fetch("/api/state", { cache: "no-store" }).then((r) => {
    if (!r.ok) throw new Error(r.status);
    return r.json();
  }).then(render);
}

function connect() {
  const status = document.getElementById("connection");
  const events = new EventSource("/events");
  let lost = false;
  events.onopen = () => {
    status.textContent = T.live;
    // What happened while the stream was away comes with the whole state.
    if (lost) load().catch(() => {});
    lost = false;
  };
  events.onerror = () => {
    status.textContent = T.lost;
    lost = true;
  };
  for (const kind of ["reading", "meter"])
    events.addEventListener(kind, (e) => onMeter(JSON.parse(e.data)));
}

document.addEventListener("DOMContentLoaded", () => {
  document.title = "qm7410d — " + T.title;
  document.getElementById("title").textContent = "qm7410d — " + T.title;
  document.getElementById("skip").textContent = T.skip;
  document.getElementById("footer").textContent = T.footer;
  document.getElementById("connection").textContent = T.loading;
  load().then(connect, () => {
    document.getElementById("connection").textContent = T.lost;
    setTimeout(() => location.reload(), 5000);
  });
});

// Charts drawn as SVG: profiles along the route, basins, and strips.  Every text goes in as
// text nodes; nothing from the data is ever parsed as markup.

const SVG = 'http://www.w3.org/2000/svg';

export function el(name, attributes = {}, parent = null) {
  const node = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, String(v));
  if (parent) parent.appendChild(node);
  return node;
}

function text(parent, x, y, content, attributes = {}) {
  const t = el('text', { x, y, ...attributes }, parent);
  t.textContent = content;
  return t;
}

export const palette = ['#1f5fa8', '#c4512b', '#2e8b57', '#8a4fb0', '#a07900', '#444'];

function niceTicks(lo, hi, count = 5) {
  if (!(hi > lo)) return [lo];
  const step0 = (hi - lo) / count;
  const magnitude = 10 ** Math.floor(Math.log10(step0));
  const step = [1, 2, 2.5, 5, 10].map((m) => m * magnitude).find((s) => s >= step0) || step0;
  const ticks = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) ticks.push(Number(v.toPrecision(12)));
  return ticks;
}

function logTicks(lo, hi) {
  const ticks = [];
  for (let e = Math.floor(Math.log10(lo)); e <= Math.ceil(Math.log10(hi)); e++)
    for (const m of [1, 2, 5]) {
      const v = m * 10 ** e;
      if (v >= lo * 0.999 && v <= hi * 1.001) ticks.push(v);
    }
  return ticks;
}

export function formatNumber(v, digits = 3) {
  if (v === undefined || v === null || Number.isNaN(v)) return '';
  if (typeof v !== 'number') return String(v);
  if (!Number.isFinite(v)) return 'inf';
  const a = Math.abs(v);
  if (a >= 1000) return v.toFixed(0);
  return Number(v.toPrecision(digits)).toString();
}

// A frame with axes.  Returns the scales and the plotting group.
function frame(svg, { width, height, xDomain, yDomain, yLog = false, xLabel = '', yLabel = '' }) {
  const m = { left: 64, right: 16, top: 26, bottom: 40 };
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('width', width);
  svg.setAttribute('height', height);
  const [x0, x1] = xDomain[0] === xDomain[1] ? [xDomain[0] - 1, xDomain[1] + 1] : xDomain;
  let [y0, y1] = yDomain;
  if (yLog) {
    y0 = Math.max(y0, 1e-6);
    y1 = Math.max(y1, y0 * 1.01);
  } else if (y0 === y1) {
    y0 -= 1;
    y1 += 1;
  }
  const w = width - m.left - m.right;
  const h = height - m.top - m.bottom;
  const x = (v) => m.left + ((v - x0) / (x1 - x0)) * w;
  const y = yLog
    ? (v) => m.top + h - ((Math.log10(Math.max(v, 1e-12)) - Math.log10(y0)) / (Math.log10(y1) - Math.log10(y0))) * h
    : (v) => m.top + h - ((v - y0) / (y1 - y0)) * h;
  const axes = el('g', { class: 'axes' }, svg);
  el('rect', { x: m.left, y: m.top, width: w, height: h, class: 'plot-area' }, axes);
  for (const t of niceTicks(x0, x1, Math.max(2, Math.floor(w / 90)))) {
    el('line', { x1: x(t), x2: x(t), y1: m.top + h, y2: m.top + h + 4, class: 'tick' }, axes);
    text(axes, x(t), m.top + h + 16, formatNumber(t, 6), { 'text-anchor': 'middle', class: 'tick-label' });
  }
  for (const t of yLog ? logTicks(y0, y1) : niceTicks(y0, y1)) {
    el('line', { x1: m.left, x2: m.left + w, y1: y(t), y2: y(t), class: 'grid' }, axes);
    text(axes, m.left - 6, y(t) + 4, formatNumber(t, 4), { 'text-anchor': 'end', class: 'tick-label' });
  }
  text(axes, m.left + w / 2, height - 6, xLabel, { 'text-anchor': 'middle', class: 'axis-label' });
  const yl = text(axes, 14, m.top + h / 2, yLabel, { 'text-anchor': 'middle', class: 'axis-label' });
  yl.setAttribute('transform', `rotate(-90 14 ${m.top + h / 2})`);
  const plot = el('g', { class: 'plot' }, svg);
  return { x, y, plot, m, w, h, x0, x1, y0, y1 };
}

function extent(values) {
  const v = values.filter((a) => typeof a === 'number' && Number.isFinite(a));
  return v.length ? [Math.min(...v), Math.max(...v)] : [0, 1];
}

function clear(svg) {
  while (svg.firstChild) svg.removeChild(svg.firstChild);
}

// A profile along the route: one line per series over the stations' positions, shaded
// sections behind, flagged stations ringed; hover tells the station, click opens it.
// series: [{name, values: [number|null per point]}]; points: [{x, label, flagged}]
export function profileChart(svg, { points, series, sections = [], yLog = false, xLabel, yLabel, onPick, selected = new Set(), width = 900, height = 300 }) {
  clear(svg);
  const all = series.flatMap((s) => s.values);
  let [lo, hi] = extent(all);
  if (yLog) {
    lo = lo > 0 ? lo / 1.3 : 1;
    hi = hi * 1.3;
  } else {
    const pad = (hi - lo) * 0.08 || Math.abs(hi) * 0.1 || 1;
    lo -= pad;
    hi += pad;
  }
  const f = frame(svg, { width, height, xDomain: extent(points.map((p) => p.x)), yDomain: [lo, hi], yLog, xLabel, yLabel });
  sections.forEach((s, i) => {
    const a = f.x(Math.max(s.start, f.x0));
    const b = f.x(Math.min(s.end, f.x1));
    el('rect', { x: Math.min(a, b), y: f.m.top, width: Math.max(2, Math.abs(b - a)), height: f.h, class: i % 2 ? 'section odd' : 'section even' }, f.plot);
    // A label only where the section is wide enough to hold it (about 6 px a character).
    const label = `S${s.section}`;
    if (Math.abs(b - a) >= 6 * label.length + 4) text(f.plot, (a + b) / 2, f.m.top + 12, label, { 'text-anchor': 'middle', class: 'section-label' });
  });
  // Many stations: smaller points, so that the lines between them stay readable.
  const radius = points.length > 150 ? 1.6 : 3;
  series.forEach((s, k) => {
    let d = '';
    points.forEach((p, i) => {
      const v = s.values[i];
      if (typeof v !== 'number' || !Number.isFinite(v) || (yLog && v <= 0)) return;
      d += `${d ? 'L' : 'M'}${f.x(p.x).toFixed(1)},${f.y(v).toFixed(1)}`;
    });
    el('path', { d, class: 'series', stroke: palette[k % palette.length] }, f.plot);
    points.forEach((p, i) => {
      const v = s.values[i];
      if (typeof v !== 'number' || !Number.isFinite(v) || (yLog && v <= 0)) return;
      const c = el('circle', { cx: f.x(p.x), cy: f.y(v), r: p.flagged ? radius * 1.5 : radius, fill: palette[k % palette.length], class: p.flagged ? 'point flagged' : 'point' }, f.plot);
      const t = el('title', {}, c);
      t.textContent = `${p.label}: ${s.name} ${formatNumber(v, 4)}${p.flagged ? ' (flagged: ' + p.flagged + ')' : ''}`;
      if (selected.has(p.label)) c.classList.add('selected');
      if (onPick) c.addEventListener('click', (event) => onPick(p, i, event));
    });
  });
  const legend = el('g', { class: 'legend' }, svg);
  series.forEach((s, k) => {
    const lx = f.m.left + k * 110;
    el('rect', { x: lx, y: 6, width: 12, height: 12, fill: palette[k % palette.length] }, legend);
    text(legend, lx + 16, 16, s.name, { class: 'legend-label' });
  });
  if (!yLog && lo < 0 && hi > 0) el('line', { x1: f.m.left, x2: f.m.left + f.w, y1: f.y(0), y2: f.y(0), class: 'zero' }, f.plot);
  return f;
}

// A basin: measured points and calculated line per drop against the sensor offset, and below
// it the weighted residual of each sensor.
export function basinChart(svg, { drops, offsetLabel, deflectionLabel, width = 560, height = 320 }) {
  clear(svg);
  const offsets = drops.flatMap((d) => d.offsets);
  const values = drops.flatMap((d) => [...d.measured, ...(d.calculated || [])]);
  const [lo, hi] = extent(values);
  const [o0, o1] = extent(offsets);
  const f = frame(svg, { width, height, xDomain: [o0 - (o1 - o0) * 0.03, o1 + (o1 - o0) * 0.03], yDomain: [0, hi * 1.08 || 1], xLabel: offsetLabel, yLabel: deflectionLabel });
  void lo;
  drops.forEach((d, k) => {
    const color = palette[k % palette.length];
    const line = d.calculated || d.measured;
    const path = d.offsets.map((o, i) => (typeof line[i] === 'number' ? `${i ? 'L' : 'M'}${f.x(o).toFixed(1)},${f.y(line[i]).toFixed(1)}` : '')).join('');
    el('path', { d: path, class: d.calculated ? 'series' : 'series measured', stroke: color }, f.plot);
    d.offsets.forEach((o, i) => {
      const m = d.measured[i];
      if (typeof m !== 'number') return;
      const c = el('circle', { cx: f.x(o), cy: f.y(m), r: 3.5, fill: d.left_out ? 'none' : color, stroke: color, class: 'point' }, f.plot);
      const t = el('title', {}, c);
      t.textContent = `${d.name}, sensor ${i + 1} at ${formatNumber(o)}: measured ${formatNumber(m, 4)}` +
        (d.calculated ? `, calculated ${formatNumber(d.calculated[i], 4)}` : '');
    });
  });
  const legend = el('g', { class: 'legend' }, svg);
  drops.forEach((d, k) => {
    const ly = f.m.top + 8 + k * 16;
    el('rect', { x: f.m.left + f.w - 150, y: ly, width: 12, height: 12, fill: palette[k % palette.length] }, legend);
    text(legend, f.m.left + f.w - 134, ly + 10, d.name, { class: 'legend-label' });
  });
}

export function residualChart(svg, { drops, offsetLabel, width = 560, height = 180 }) {
  clear(svg);
  const offsets = drops.flatMap((d) => d.offsets);
  const r = drops.flatMap((d) => d.residuals || []);
  const [lo, hi] = extent(r.map((v) => v * 100));
  const bound = Math.max(Math.abs(lo), Math.abs(hi), 1);
  const [o0, o1] = extent(offsets);
  const f = frame(svg, { width, height, xDomain: [o0 - (o1 - o0) * 0.03, o1 + (o1 - o0) * 0.03], yDomain: [-bound * 1.1, bound * 1.1], xLabel: offsetLabel, yLabel: 'weighted residual (%)' });
  el('line', { x1: f.m.left, x2: f.m.left + f.w, y1: f.y(0), y2: f.y(0), class: 'zero' }, f.plot);
  drops.forEach((d, k) => {
    (d.residuals || []).forEach((v, i) => {
      const c = el('circle', { cx: f.x(d.offsets[i]) + (k - drops.length / 2) * 3, cy: f.y(v * 100), r: 3, fill: palette[k % palette.length] }, f.plot);
      el('title', {}, c).textContent = `${d.name}, sensor ${i + 1}: ${formatNumber(v * 100, 3)} %`;
    });
  });
}

// A strip along the route: one mark per station, coloured by a class (thickness range,
// flags), with a label per mark on hover.
export function stripChart(svg, { points, classOf, labelOf, legend = [], width = 900, height = 64, onPick }) {
  clear(svg);
  const m = { left: 64, right: 16 };
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('width', width);
  svg.setAttribute('height', height);
  const [x0, x1] = extent(points.map((p) => p.x));
  const span = width - m.left - m.right;
  const x = (v) => m.left + (x1 > x0 ? ((v - x0) / (x1 - x0)) * span : span / 2);
  // Marks as wide as the stations' spacing allows (8 px at most, 1 px at least).
  const mark = Math.max(1, Math.min(8, span / Math.max(1, points.length) - 1));
  el('line', { x1: m.left, x2: width - m.right, y1: 24, y2: 24, class: 'route' }, svg);
  points.forEach((p, i) => {
    const cls = classOf(p, i);
    const r = el('rect', { x: x(p.x) - mark / 2, y: 14, width: mark, height: 20, class: `mark ${cls.name}`, fill: cls.color }, svg);
    el('title', {}, r).textContent = labelOf(p, i);
    if (onPick) r.addEventListener('click', () => onPick(p, i));
  });
  text(svg, m.left, 50, formatNumber(x0, 6), { class: 'tick-label' });
  text(svg, width - m.right, 50, formatNumber(x1, 6), { class: 'tick-label', 'text-anchor': 'end' });
  legend.forEach((l, k) => {
    const lx = m.left + 90 + k * 150;
    el('rect', { x: lx, y: 42, width: 10, height: 10, fill: l.color }, svg);
    text(svg, lx + 14, 51, l.name, { class: 'legend-label' });
  });
}

// The Compare screen: two finished runs station by station, the moduli of B against A in percent.

import { getJson } from './api.js';
import { formatNumber, profileChart } from './charts.js';
import { $, clear, fillSelect, make } from './dom.js';
import { onUserAction, request } from './notice.js';
import { chainageOf, layerKeys } from './results-data.js';
import * as store from './store.js';
import { onTabShown } from './tabs.js';

function renderChoices() {
  const runs = store.finishedRuns();
  const options = runs.map((r) => ({ value: r.name, label: `${r.name}${r.record.status === 'ok' ? '' : ' (' + r.record.status + ')'}` }));
  fillSelect($('compare-a'), options);
  fillSelect($('compare-b'), options);
  if (runs.length > 1 && $('compare-a').value === $('compare-b').value) $('compare-b').value = runs[runs.length - 1].name;
}

// Stations of A that B has too (same identifier), in order along the route.
function matchStations(ra, rb, a) {
  const preview = store.surveyPreview();
  const pos = chainageOf(preview, !!preview && preview.survey === store.surveyOfRun(a));
  const bByStation = new Map(rb.stations.map((s) => [s.station, s]));
  const matched = ra.stations.filter((s) => bByStation.has(s.station)).map((s) => ({ a: s, b: bByStation.get(s.station), x: pos(s) }));
  return matched.sort((p, q) => p.x - q.x);
}

function difference(pair, key) {
  const x = pair.a[key], y = pair.b[key];
  return typeof x === 'number' && typeof y === 'number' && x ? (100 * (y - x)) / x : null;
}

function drawDifferences(matched, keys, a, b) {
  const p = store.surveyPreview();
  profileChart($('difference-chart'), {
    points: matched.map((m) => ({ x: m.x, label: m.a.station })),
    xLabel: p ? `chainage (${p.units.chainage})` : 'chainage', yLabel: `${b} against ${a} (%)`, height: 260,
    series: keys.map((k) => ({ name: `layer ${k.slice(1, 2)}`, values: matched.map((m) => difference(m, k)) })),
  });
}

function compareTable(matched, keys, a, b, unmatched) {
  const t = clear($('compare-table'));
  const head = make('tr', {}, make('thead', {}, t));
  make('th', {}, head, 'station');
  for (const k of keys) for (const h of [`${k} ${a}`, `${k} ${b}`, 'diff %']) make('th', {}, head, h);
  for (const h of [`RMS % ${a}`, `RMS % ${b}`]) make('th', {}, head, h);
  const body = make('tbody', {}, t);
  for (const m of matched) {
    const tr = make('tr', {}, body);
    make('td', {}, tr, m.a.station);
    for (const k of keys) {
      make('td', { class: 'num' }, tr, formatNumber(m.a[k], 4));
      make('td', { class: 'num' }, tr, formatNumber(m.b[k], 4));
      make('td', { class: 'num' }, tr, formatNumber(difference(m, k), 3));
    }
    make('td', { class: 'num' }, tr, formatNumber(m.a.average_rms_percent, 3));
    make('td', { class: 'num' }, tr, formatNumber(m.b.average_rms_percent, 3));
  }
  if (unmatched) make('caption', {}, t, `${unmatched} stations of ${a} have no station of the same identifier in ${b}`);
}

async function renderCompare() {
  const a = $('compare-a').value, b = $('compare-b').value;
  if (!a || !b) return;
  const [ra, rb] = await Promise.all([request(() => getJson('/api/results', { run: a })), request(() => getJson('/api/results', { run: b }))]);
  if (!ra || !rb || a !== $('compare-a').value || b !== $('compare-b').value) return;
  const matched = matchStations(ra, rb, a);
  const keys = layerKeys(ra.stations[0] || {});
  drawDifferences(matched, keys, a, b);
  compareTable(matched, keys, a, b, ra.stations.length - matched.length);
}

export function startCompare() {
  onUserAction($('compare-a'), 'change', renderCompare);
  onUserAction($('compare-b'), 'change', renderCompare);
  onTabShown('compare', renderCompare);
  store.subscribe('project', renderChoices);
}

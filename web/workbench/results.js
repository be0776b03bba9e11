// The Results screen: the selected run's moduli and RMS error along the route, its stations as a
// sortable table (ticked stations are the what-if's), and one station's basins and drops.

import { basinChart, formatNumber, profileChart, residualChart } from './charts.js';
import { $, clear, fillSelect, headRow, make, numberClass } from './dom.js';
import { onUserAction } from './notice.js';
import { bySurveyOrder, layerKeys, sectionBounds, stationFlagText } from './results-data.js';
import * as store from './store.js';

let sort = { key: 'station_no', up: true };

// ---- which run ----
function runLabel(r) {
  const status = r.record.status === 'ok' ? '' : ` (${r.record.status})`;
  return r.kind === 'what-if' ? `${r.name}${status}, what-if of ${r.survey}` : `${r.name}${status}`;
}

// Every finished run; when the selected survey has none, a line that says so.
function renderRunChoice() {
  const options = store.finishedRuns().map((r) => ({ value: r.name, label: runLabel(r) }));
  const run = store.selectedRun();
  if (!run) options.unshift({ value: '', label: store.selectedSurvey() ? `(${store.selectedSurvey()} has not run yet)` : '(nothing has run yet)' });
  fillSelect($('results-run'), options, run);
}

// ---- the run ----
function flagOptions(r) {
  const flags = new Set([...r.flagsByStation.values()].flatMap((s) => [...s]));
  return [{ value: '', label: 'all stations' }, { value: '*', label: 'stations with any flag' }, ...[...flags].map((f) => ({ value: f, label: f }))];
}

function clearResults() {
  $('results-summary').textContent = '';
  for (const id of ['modulus-chart', 'rms-chart', 'station-table']) clear($(id));
  $('selection-text').textContent = '';
}

function renderRun() {
  renderRunChoice();
  $('station-panel').hidden = true;
  const r = store.runResults();
  if (!r) return clearResults();
  fillSelect($('flag-filter'), flagOptions(r), '');
  $('results-summary').textContent = `${r.record.status}, ${r.stations.length} stations, ${r.drops.length} drops, finished ${r.record.finished_at || ''}`;
  renderStations();
}

function renderStations() {
  const r = store.runResults();
  if (!r || !r.stations.length) return;
  const picked = store.pickedStations().stations;
  renderProfiles(r, picked);
  renderStationTable(r, picked);
  $('selection-text').textContent = picked.size ? `${picked.size} stations selected` : '';
}

// ---- profiles along the route ----
function xLabelOf(r) {
  const p = store.surveyPreview();
  return bySurveyOrder(r) ? 'station (survey order)' : `chainage (${p ? p.units.chainage : ''})`;
}

// Click opens the station; shift-click adds it to (or takes it from) the what-if's stations.
function pickFromChart(point, index, event) {
  if (!event || !event.shiftKey) return openStation(point.label);
  return togglePicked(point.label);
}

function togglePicked(station, on = !store.pickedStations().stations.has(station)) {
  const stations = store.pickedStations().stations;
  if (on) stations.add(station);
  else stations.delete(station);
  return store.pickStations(stations);
}

function renderProfiles(r, picked) {
  const keys = layerKeys(r.stations[0]);
  const unit = keys.length ? keys[0].split('_').pop() : '';
  const ordered = [...r.stations].sort((a, b) => a.position - b.position);
  const points = ordered.map((s) => ({ x: s.position, label: s.station, flagged: stationFlagText(r, s) }));
  const xLabel = xLabelOf(r);
  const sections = r.sections.map((s) => ({ section: s.section, start: sectionBounds(s)[0], end: sectionBounds(s)[1] }));
  profileChart($('modulus-chart'), {
    points, sections, yLog: true, xLabel, yLabel: `normalised modulus (${unit})`, onPick: pickFromChart, selected: picked,
    series: keys.map((k) => ({ name: `layer ${k.slice(1, 2)}`, values: ordered.map((s) => s[k]) })),
  });
  profileChart($('rms-chart'), {
    points, xLabel, yLabel: 'average RMS error (%)', onPick: pickFromChart, height: 200, selected: picked,
    series: [{ name: 'RMS %', values: ordered.map((s) => s.average_rms_percent) }],
  });
}

// ---- the station table ----
function tableColumns(r) {
  const first = r.stations[0];
  return [['station', 'station'], ['position', 'chainage'], ['drops', 'drops'],
    ...Object.keys(first).filter((k) => /^H\d_(cm|in)$/.test(k)).map((k) => [k, k]),
    ...layerKeys(first).map((k) => [k, k]), ['average_rms_percent', 'RMS %'], ['flags', 'flags']];
}

function isShown(r, station, filter) {
  if (!filter) return true;
  if (filter === '*') return r.flagsByStation.has(station.station);
  return (r.flagsByStation.get(station.station) || new Set()).has(filter);
}

function compareBy({ key, up }) {
  const sign = up ? 1 : -1;
  return (a, b) => {
    const x = a[key], y = b[key];
    return sign * (typeof x === 'number' && typeof y === 'number' ? x - y : String(x ?? '').localeCompare(String(y ?? '')));
  };
}

function visibleStations(r) {
  const filter = $('flag-filter').value;
  return r.stations.filter((s) => isShown(r, s, filter)).sort(compareBy(sort));
}

function sortBy(key) {
  sort = { key, up: sort.key === key ? !sort.up : true };
  renderStations();
}

function renderTableHead(t, columns) {
  const head = make('tr', {}, make('thead', {}, t));
  make('th', {}, head, 'select');
  for (const [key, label] of columns) {
    const th = make('th', { class: 'sortable' }, head, label + (sort.key === key ? (sort.up ? ' ▲' : ' ▼') : ''));
    th.addEventListener('click', () => sortBy(key));
  }
}

function renderStationRow(body, r, s, columns, picked) {
  const tr = make('tr', { class: 'clickable', 'data-station': s.station }, body);
  const box = make('input', { type: 'checkbox', 'aria-label': `select ${s.station}` }, make('td', {}, tr));
  box.checked = picked.has(s.station);
  box.addEventListener('click', (e) => e.stopPropagation());
  onUserAction(box, 'change', () => togglePicked(s.station, box.checked));
  for (const [key] of columns) {
    const v = key === 'flags' ? stationFlagText(r, s) : s[key];
    make('td', { class: key === 'flags' ? (v ? 'flags' : '') : numberClass(v) }, tr, formatNumber(v, 4));
  }
  tr.addEventListener('click', () => openStation(s.station));
}

function renderStationTable(r, picked) {
  const t = clear($('station-table'));
  const columns = tableColumns(r);
  renderTableHead(t, columns);
  const body = make('tbody', {}, t);
  for (const s of visibleStations(r)) renderStationRow(body, r, s, columns, picked);
}

// ---- one station ----
function columnStarting(row, prefix, fallback) {
  return Object.keys(row || {}).find((k) => k.startsWith(prefix)) || fallback;
}

function basinsOf(r, station) {
  const sensors = r.sensors.filter((s) => s.station === station);
  const off = columnStarting(sensors[0], 'offset_', 'offset_cm');
  const meas = columnStarting(sensors[0], 'measured_', 'measured_um');
  const calc = columnStarting(sensors[0], 'calculated_', 'calculated_um');
  const drops = r.drops.filter((d) => d.station === station).map((d) => {
    const s = sensors.filter((x) => x.drop === d.drop).sort((a, b) => a.sensor - b.sensor);
    return { name: `drop ${d.drop}`, offsets: s.map((x) => x[off]), measured: s.map((x) => x[meas]), calculated: s.map((x) => x[calc]), residuals: s.map((x) => x.weighted_residual) };
  });
  const unit = (key) => key.slice(key.indexOf('_') + 1);
  return { drops, offsetLabel: `offset (${unit(off)})`, deflectionLabel: `deflection (${unit(meas)})` };
}

function renderDropTable(drops) {
  const t = clear($('drop-table'));
  const first = drops[0] || {};
  const moduli = Object.keys(first).filter((k) => /^E\d_(MPa|ksi)$/.test(k));
  const se = Object.keys(first).filter((k) => /^E\d_se_percent$/.test(k));
  const cols = ['drop', columnStarting(first, 'load_', 'load_N'), ...moduli, ...se, 'rms_percent', 'convergence', 'flags'];
  headRow(t, cols.map((c) => c.replace('_percent', ' %')));
  const body = make('tbody', {}, t);
  for (const d of drops) {
    const tr = make('tr', {}, body);
    for (const c of cols) make('td', { class: c === 'flags' ? (d[c] ? 'flags' : '') : numberClass(d[c]) }, tr, formatNumber(d[c], 4));
  }
}

function openStation(station) {
  const r = store.runResults();
  const st = r && r.stations.find((s) => s.station === station);
  if (!st) return;
  $('station-panel').hidden = false;
  $('station-title').textContent = `Station ${station} of ${store.selectedRun()}: ${st.drops} drops, RMS ${formatNumber(st.average_rms_percent)} % (basins: points measured, lines calculated)`;
  const basins = basinsOf(r, station);
  basinChart($('basin-chart'), basins);
  residualChart($('residual-chart'), basins);
  renderDropTable(r.drops.filter((d) => d.station === station));
  $('station-panel').scrollIntoView({ behavior: 'smooth', block: 'nearest' });
}

export function startResults() {
  onUserAction($('results-run'), 'change', () => store.selectRun($('results-run').value));
  $('flag-filter').addEventListener('change', renderStations);
  onUserAction($('select-none'), 'click', () => store.pickStations(new Set()));
  store.subscribe('project', renderRunChoice);
  store.subscribe('run', renderRun);
  store.subscribe('stations', renderStations);
}

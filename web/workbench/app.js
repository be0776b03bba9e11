// The workbench page: import, structure, run, results, what-if and compare over one project.
import { getJson, sendJson, upload, followRun } from './api.js';
import { profileChart, basinChart, residualChart, stripChart, formatNumber, palette } from './charts.js';

const $ = (id) => document.getElementById(id);
const state = {
  project: null,
  survey: '',
  preview: null,
  previewStation: null,
  leftOut: {}, // survey -> {station id -> [drop sequence numbers]}
  form: null,
  results: null,
  resultsRun: '',
  selection: new Set(),
  sort: { key: 'station_no', up: true },
  running: false,
  lastEvent: 0,
};

function make(tag, attributes = {}, parent = null, content = null) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes)) {
    if (k === 'class') node.className = v;
    else node.setAttribute(k, v);
  }
  if (content !== null) node.textContent = content;
  if (parent) parent.appendChild(node);
  return node;
}

function clear(node) {
  while (node.firstChild) node.removeChild(node.firstChild);
  return node;
}

function notice(message, kind = 'error') {
  const n = $('notice');
  n.textContent = message;
  n.className = kind;
  n.hidden = !message;
}

async function attempt(action) {
  try {
    notice('');
    return await action();
  } catch (e) {
    notice(e.message || String(e));
    return undefined;
  }
}

// ---- tabs ----
function showTab(name) {
  for (const b of document.querySelectorAll('#tabs button')) b.classList.toggle('active', b.dataset.tab === name);
  for (const s of document.querySelectorAll('.tab')) s.hidden = s.id !== `tab-${name}`;
  if (name === 'compare') renderCompare();
}

// ---- project ----
async function refreshProject() {
  const p = await getJson('/api/project');
  state.project = p;
  $('project-root').textContent = p.root;
  const surveys = p.runs.filter((r) => r.kind === 'survey');
  const select = clear($('survey-select'));
  for (const r of surveys) make('option', { value: r.name }, select, r.name);
  if (!state.survey && surveys.length) state.survey = surveys[0].name;
  select.value = state.survey;
  const files = clear($('input-files'));
  if (p.inputs.length) {
    const list = make('ul', {}, files);
    const sources = new Set(p.runs.map((r) => r.source));
    const structures = new Set(p.runs.map((r) => r.structure));
    for (const f of p.inputs) {
      const li = make('li', {}, list, `${f.name} (${f.bytes} bytes) `);
      const path = `inputs/${f.name}`;
      if (sources.has(path)) make('span', { class: 'muted' }, li, 'a survey');
      else if (structures.has(path)) make('span', { class: 'muted' }, li, 'a structure');
      else {
        // A file put into the project folder by hand becomes a survey here too.
        const use = make('button', { class: 'small' }, li, 'use as survey');
        use.addEventListener('click', async () => {
          const s = await attempt(() => sendJson('POST', '/api/surveys', { file: f.name }));
          if (s) await selectSurvey(s.survey);
        });
      }
    }
  }
  const done = p.runs.filter((r) => r.record);
  for (const id of ['results-run', 'compare-a', 'compare-b']) {
    const s = $(id);
    const keep = s.value;
    clear(s);
    for (const r of done) make('option', { value: r.name }, s, `${r.name}${r.record.status === 'ok' ? '' : ' (' + r.record.status + ')'}`);
    if (keep && done.some((r) => r.name === keep)) s.value = keep;
  }
  if (done.length > 1 && $('compare-a').value === $('compare-b').value) $('compare-b').value = done[done.length - 1].name;
  setRunning(p.state.running, p.state.run);
  $('run-what').textContent = !state.survey ? 'Add a survey first.'
    : leftOutCount() ? `Runs survey ${state.survey} without its ${leftOutCount()} left-out drops, as a new what-if row of the manifest.`
    : `Runs survey ${state.survey} (its row of the manifest; unchanged inputs are not fitted again).`;
}

function setRunning(running, run) {
  state.running = running;
  $('run-state').textContent = running ? `running ${run}` : 'idle';
  $('run-state').classList.toggle('busy', running);
  $('run-button').disabled = running || !state.survey;
  $('whatif-run').disabled = running;
  $('cancel-button').disabled = !running;
}

async function addFiles() {
  const files = [...$('upload-input').files];
  if (!files.length) return notice('Choose a file first.');
  for (const f of files) {
    $('upload-status').textContent = `uploading ${f.name} ...`;
    const r = await attempt(() => upload(f));
    if (!r) break;
    const s = await attempt(() => sendJson('POST', '/api/surveys', { file: r.file }));
    if (s) state.survey = s.survey;
  }
  $('upload-status').textContent = '';
  await refreshProject();
  await selectSurvey(state.survey);
}

async function selectSurvey(name) {
  state.survey = name;
  state.preview = null;
  if (!name) return;
  state.preview = await attempt(() => getJson('/api/preview', { survey: name }));
  renderPreview();
  await loadStructure();
  await refreshProject();
}

// ---- import preview ----
function leftOutOf(id) {
  return (state.leftOut[state.survey] || {})[id] || [];
}

function leftOutCount() {
  return Object.values(state.leftOut[state.survey] || {}).reduce((n, a) => n + a.length, 0);
}

function stationFlags(st) {
  return [...new Set(st.drops.flatMap((d) => (d.flags ? d.flags.split(';') : [])))];
}

function renderPreview() {
  const p = state.preview;
  $('preview-panel').hidden = !p;
  if (!p) return;
  $('preview-summary').textContent = `${p.file}: ${p.format}, ${p.stations.length} stations, ${p.drops} drops, ${p.english ? 'English' : 'metric'} units`;
  const points = p.stations.map((s, i) => ({ x: s.chainage ?? i + 1, label: s.id, index: i }));
  stripChart($('preview-strip'), {
    points,
    classOf: (pt) => (stationFlags(p.stations[pt.index]).length ? { name: 'flagged', color: '#c4512b' } : { name: 'clean', color: '#2e8b57' }),
    labelOf: (pt) => `${pt.label} at ${formatNumber(pt.x, 6)} ${p.units.chainage}: ${stationFlags(p.stations[pt.index]).join(', ') || 'no data-check flag'}`,
    legend: [{ name: 'no flag', color: '#2e8b57' }, { name: 'a drop flagged', color: '#c4512b' }],
    onPick: (pt) => showPreviewStation(pt.index),
  });
  const t = clear($('preview-table'));
  const head = make('tr', {}, make('thead', {}, t));
  for (const h of ['station', `chainage (${p.units.chainage})`, 'lane', 'drops', 'left out', 'data-check flags']) make('th', {}, head, h);
  const body = make('tbody', {}, t);
  p.stations.forEach((s, i) => {
    const tr = make('tr', { class: 'clickable' }, body);
    make('td', {}, tr, s.id);
    make('td', { class: 'num' }, tr, formatNumber(s.chainage, 6));
    make('td', {}, tr, s.lane);
    make('td', { class: 'num' }, tr, String(s.drops.length));
    make('td', { class: 'num' }, tr, String(leftOutOf(s.id).length || ''));
    make('td', { class: stationFlags(s).length ? 'flags' : '' }, tr, stationFlags(s).join(', '));
    tr.addEventListener('click', () => showPreviewStation(i));
  });
  if (state.previewStation !== null && state.previewStation < p.stations.length) showPreviewStation(state.previewStation);
}

function showPreviewStation(i) {
  const p = state.preview;
  const s = p.stations[i];
  state.previewStation = i;
  $('preview-station-title').textContent = `Station ${s.id}: measured basins (before any fit)`;
  const out = leftOutOf(s.id);
  basinChart($('preview-basin'), {
    drops: s.drops.map((d) => ({ name: `drop ${d.seq}${out.includes(d.seq) ? ' (left out)' : ''}`, offsets: p.offsets, measured: d.basin, left_out: out.includes(d.seq) })),
    offsetLabel: `offset (${p.units.offset})`,
    deflectionLabel: `deflection (${p.units.deflection})`,
  });
  const t = clear($('preview-drops'));
  const head = make('tr', {}, make('thead', {}, t));
  for (const h of ['drop', `load (${p.units.load})`, 'flags', 'leave out']) make('th', {}, head, h);
  const body = make('tbody', {}, t);
  for (const d of s.drops) {
    const tr = make('tr', {}, body);
    make('td', {}, tr, String(d.seq));
    make('td', { class: 'num' }, tr, formatNumber(d.load, 5));
    make('td', { class: d.flags ? 'flags' : '' }, tr, [d.flags, d.problem].filter(Boolean).join('; '));
    const box = make('input', { type: 'checkbox' }, make('td', {}, tr));
    box.checked = out.includes(d.seq);
    box.addEventListener('change', () => {
      const all = (state.leftOut[state.survey] ||= {});
      const list = new Set(all[s.id] || []);
      if (box.checked) list.add(d.seq);
      else list.delete(d.seq);
      all[s.id] = [...list];
      renderPreview();
      refreshProject();
    });
  }
}

// ---- structure form ----
async function loadStructure() {
  if (!state.survey) return;
  state.form = await attempt(() => getJson('/api/structure', { run: state.survey }));
  if (state.form && state.form.error) {
    notice(state.form.error);
    state.form = null;
  }
  if (!state.form) return;
  renderStructure();
  checkStructure();
}

function field(parent, value, onInput, attributes = {}) {
  const input = make('input', { size: 7, ...attributes }, parent);
  input.value = value ?? '';
  input.addEventListener('input', () => {
    onInput(input.value);
    scheduleCheck();
  });
  return input;
}

function units() {
  return state.form.units === 'english' ? { h: 'in', e: 'ksi', c: 'ft' } : { h: 'cm', e: 'MPa', c: 'm' };
}

function renderStructure() {
  const f = state.form;
  const u = units();
  $('st-units').value = f.units;
  $('st-title').value = f.title || '';
  $('st-stiff').checked = !!f.stiff_layer;
  const lt = clear($('st-layers'));
  const lh = make('tr', {}, lt);
  for (const h of ['layer', 'type', "Poisson's ratio", `seed / fixed modulus (${u.e})`, `lower bound (${u.e})`, `upper bound (${u.e})`, '', '']) make('th', {}, lh, h);
  f.layers.forEach((l, i) => {
    const tr = make('tr', { 'data-row': `layer-${i}` }, lt);
    make('td', {}, tr, String(i + 1));
    const type = make('select', {}, make('td', {}, tr));
    for (const v of ['backcalculated', 'fixed']) make('option', { value: v }, type, v);
    type.value = l.type;
    type.addEventListener('change', () => {
      l.type = type.value;
      renderStructure();
      scheduleCheck();
    });
    field(make('td', {}, tr), l.poisson, (v) => (l.poisson = v), { 'aria-label': `layer ${i + 1} Poisson's ratio` });
    field(make('td', {}, tr), l.modulus, (v) => (l.modulus = v), { 'aria-label': `layer ${i + 1} modulus` });
    const lo = field(make('td', {}, tr), l.lower, (v) => (l.lower = v), { 'aria-label': `layer ${i + 1} lower bound` });
    const hi = field(make('td', {}, tr), l.upper, (v) => (l.upper = v), { 'aria-label': `layer ${i + 1} upper bound` });
    lo.disabled = hi.disabled = l.type === 'fixed';
    const rm = make('button', { class: 'small' }, make('td', {}, tr), 'remove');
    rm.addEventListener('click', () => {
      f.layers.splice(i, 1);
      for (const r of f.ranges) r.thicknesses.splice(Math.min(i, r.thicknesses.length - 1), 1);
      renderStructure();
      scheduleCheck();
    });
    make('td', { class: 'msg', 'data-group': 'layer', 'data-index': String(i) }, tr);
  });
  const above = Math.max(0, f.layers.length - 1);
  const rt = clear($('st-ranges'));
  const rh = make('tr', {}, rt);
  make('th', {}, rh, `from (${u.c})`);
  make('th', {}, rh, `to (${u.c})`);
  for (let j = 0; j < above; j++) make('th', {}, rh, `H${j + 1} (${u.h})`);
  make('th', {}, rh, '');
  make('th', {}, rh, '');
  f.ranges.forEach((r, i) => {
    while (r.thicknesses.length < above) r.thicknesses.push('');
    r.thicknesses.length = above;
    const tr = make('tr', { 'data-row': `range-${i}` }, rt);
    const sw = make('td', {}, tr);
    make('span', { class: `swatch c${i % 6}` }, sw);
    field(sw, r.from, (v) => (r.from = v), { 'aria-label': `range ${i + 1} from` });
    field(make('td', {}, tr), r.to, (v) => (r.to = v), { 'aria-label': `range ${i + 1} to` });
    r.thicknesses.forEach((h, j) => field(make('td', {}, tr), h, (v) => (r.thicknesses[j] = v), { 'aria-label': `range ${i + 1} H${j + 1}` }));
    const rm = make('button', { class: 'small' }, make('td', {}, tr), 'remove');
    rm.addEventListener('click', () => {
      f.ranges.splice(i, 1);
      renderStructure();
      scheduleCheck();
    });
    make('td', { class: 'msg', 'data-group': 'range', 'data-index': String(i) }, tr);
  });
  const pt = clear($('st-points'));
  const ph = make('tr', {}, pt);
  for (const h of [`radial distance (${u.h})`, 'layer', 'position', '', '']) make('th', {}, ph, h);
  f.points.forEach((p, i) => {
    const tr = make('tr', {}, pt);
    field(make('td', {}, tr), p.radius, (v) => (p.radius = v));
    field(make('td', {}, tr), p.layer, (v) => (p.layer = v));
    field(make('td', {}, tr), p.position, (v) => (p.position = v));
    const rm = make('button', { class: 'small' }, make('td', {}, tr), 'remove');
    rm.addEventListener('click', () => {
      f.points.splice(i, 1);
      renderStructure();
      scheduleCheck();
    });
    make('td', { class: 'msg', 'data-group': 'point', 'data-index': String(i) }, tr);
  });
}

let checkTimer = 0;
function scheduleCheck() {
  clearTimeout(checkTimer);
  checkTimer = setTimeout(checkStructure, 250);
}

async function checkStructure() {
  if (!state.form) return;
  const r = await attempt(() => sendJson('POST', '/api/structure/check', { form: state.form, survey: state.survey }));
  if (!r) return;
  for (const m of document.querySelectorAll('#tab-structure .msg')) m.textContent = '';
  for (const tr of document.querySelectorAll('#tab-structure tr.invalid')) tr.classList.remove('invalid');
  $('structure-status').textContent = r.ok ? 'reads as the engine reads it' : 'not yet valid';
  $('st-save').disabled = !r.ok;
  if (!r.ok) {
    const target = document.querySelector(`#tab-structure .msg[data-group="${r.group}"][data-index="${r.index}"]`) ||
      document.querySelector('#tab-structure .msg[data-group="structure"]');
    target.textContent = r.message;
    const row = target.closest('tr');
    if (row) row.classList.add('invalid');
  }
  drawCoverage(r.coverage);
}

function drawCoverage(coverage) {
  const p = state.preview;
  if (!p || !coverage) {
    clear($('st-strip'));
    return;
  }
  const points = p.stations.map((s, i) => ({ x: s.chainage ?? i + 1, label: s.id, index: i }));
  stripChart($('st-strip'), {
    points,
    classOf: (pt) => (coverage[pt.index] >= 0 ? { name: 'range', color: palette[coverage[pt.index] % palette.length] } : { name: 'uncovered', color: '#e00' }),
    labelOf: (pt) => `${pt.label}: ${coverage[pt.index] >= 0 ? 'range ' + (coverage[pt.index] + 1) : 'no range covers it'}`,
    legend: [{ name: 'no range: cannot run', color: '#e00' }],
  });
}

async function saveStructure() {
  const r = await attempt(() => sendJson('PUT', '/api/structure', { survey: state.survey, form: state.form }));
  if (r) {
    $('structure-status').textContent = 'saved';
    notice('Structure saved.', 'ok');
  }
}

// ---- run and progress ----
async function startRun(request) {
  if (!performance.getEntriesByName('run-clicked').length) performance.mark('run-clicked');
  const r = await attempt(() => sendJson('POST', '/api/run', request));
  if (!r) return;
  showTab('run');
  setRunning(true, r.run);
}

async function runSurvey() {
  if (!state.survey) return;
  performance.clearMarks();
  performance.mark('run-clicked');
  if ($('st-save').disabled === false && state.form) {
    const saved = await attempt(() => sendJson('PUT', '/api/structure', { survey: state.survey, form: state.form }));
    if (!saved) return;
  }
  if (leftOutCount())
    return startRun({ survey: state.survey, whatif: { stations: [], left_out: state.leftOut[state.survey], structure: state.form, note: 'drops left out' } });
  return startRun({ run: state.survey });
}

const live = { stations: 0, header: null };
const runHandlers = {
  start(d) {
    setRunning(true, d.run);
    live.stations = 0;
    live.header = null;
    clear($('live-table'));
    clear($('run-messages'));
    $('progress-bar').style.width = '0%';
    $('progress-text').textContent = `${d.run}: ${d.stations} stations, ${d.drops} drops`;
  },
  progress(d) {
    const share = d.drops ? d.drops_done / d.drops : d.stations_done / Math.max(1, d.stations);
    $('progress-bar').style.width = `${(100 * Math.min(1, share)).toFixed(1)}%`;
    $('progress-text').textContent = `${d.stations_done} of ${d.stations} stations, ${d.drops_done} of ${d.drops} drops, ` +
      `${d.seconds.toFixed(1)} s, about ${Math.ceil(d.seconds_left)} s left`;
  },
  station(d) {
    const t = $('live-table');
    const keys = Object.keys(d.row).filter((k) => k === 'station' || k === 'drops' || /^E\d_(norm_)?(MPa|ksi)$/.test(k) || /^E\d_norm_(MPa|ksi)$/.test(k) || k === 'average_rms_percent');
    if (!live.header) {
      live.header = keys;
      const tr = make('tr', {}, t);
      for (const k of keys) make('th', {}, tr, k);
    }
    const tr = make('tr', { class: 'live-row' }, t);
    if (!performance.getEntriesByName('first-station').length) performance.mark('first-station');
    for (const k of live.header) make('td', { class: typeof d.row[k] === 'number' ? 'num' : '' }, tr, formatNumber(d.row[k], 4));
  },
  message(d) {
    $('run-messages').textContent += d.line + '\n';
  },
  async end(d) {
    setRunning(false, '');
    $('progress-bar').style.width = d.status === 'ok' ? '100%' : $('progress-bar').style.width;
    const share = d.engine_seconds ? ` (engine ${d.engine_seconds.toFixed(2)} s)` : '';
    $('progress-text').textContent = `${d.run}: ${d.status} after ${d.seconds.toFixed(2)} s${share}` +
      (d.message ? `: ${d.message}` : '');
    $('progress-text').className = d.status === 'ok' ? 'ok' : 'error';
    if (!$('run-messages').textContent) $('run-messages').textContent = '(the engine said nothing)';
    await refreshProject();
    if (d.status === 'ok') {
      $('results-run').value = d.run;
      await loadResults(d.run);
      if (!$('tab-run').hidden) showTab('results');
    }
  },
};

// ---- results ----
function layerKeys(row) {
  const keys = Object.keys(row).filter((k) => /^E\d_norm_(MPa|ksi)$/.test(k));
  return keys.length ? keys : Object.keys(row).filter((k) => /^E\d_mean_(MPa|ksi)$/.test(k));
}

function chainageOf(results) {
  const byId = new Map();
  const p = state.preview;
  if (p && results.record && p.survey === surveyOf(results.record.survey)) for (const s of p.stations) byId.set(s.id.slice(0, 10).trimEnd(), s.chainage);
  return (row) => {
    if (byId.has(row.station) && byId.get(row.station) !== undefined) return byId.get(row.station);
    const n = Number(row.station);
    return Number.isFinite(n) ? n : row.station_no;
  };
}

function surveyOf(run) {
  const w = run.lastIndexOf('.w');
  return w > 0 ? run.slice(0, w) : run;
}

async function loadResults(run) {
  if (!run) return;
  if (state.survey !== surveyOf(run) && state.project.runs.some((r) => r.name === surveyOf(run))) {
    state.survey = surveyOf(run);
    $('survey-select').value = state.survey;
    state.preview = await attempt(() => getJson('/api/preview', { survey: state.survey }));
    renderPreview();
    await loadStructure();
  }
  const r = await attempt(() => getJson('/api/results', { run }));
  if (!r) return;
  state.results = r;
  state.resultsRun = run;
  $('station-panel').hidden = true;
  state.selection = new Set();
  const flagsByStation = new Map();
  for (const d of r.drops) if (d.flags) for (const f of String(d.flags).split(';')) {
    if (!flagsByStation.has(d.station)) flagsByStation.set(d.station, new Set());
    flagsByStation.get(d.station).add(f);
  }
  r.flagsByStation = flagsByStation;
  const pos = chainageOf(r);
  const bySurveyOrder = r.sections.some((s) => s.start_station !== undefined);
  for (const s of r.stations) s.position = bySurveyOrder ? s.station_no : pos(s);
  const filter = clear($('flag-filter'));
  make('option', { value: '' }, filter, 'all stations');
  make('option', { value: '*' }, filter, 'stations with any flag');
  for (const f of new Set([...flagsByStation.values()].flatMap((s) => [...s]))) make('option', { value: f }, filter, f);
  const sec = clear($('whatif-section'));
  make('option', { value: '' }, sec, '(selected stations)');
  for (const s of r.sections) make('option', { value: String(s.section) }, sec, `section ${s.section}: ${sectionRange(s)}`);
  $('results-summary').textContent = `${r.record.status}, ${r.stations.length} stations, ${r.drops.length} drops, finished ${r.record.finished_at || ''}`;
  renderResults();
  renderWhatif();
  renderExport(run);
}

function sectionRange(s) {
  const [a, b] = sectionBounds(s);
  return `${formatNumber(a, 6)} to ${formatNumber(b, 6)}, ${s.stations} stations`;
}

function sectionBounds(s) {
  for (const u of ['m', 'ft', 'station']) if (s[`start_${u}`] !== undefined) return [s[`start_${u}`], s[`end_${u}`]];
  return [0, 0];
}

function stationFlagText(r, st) {
  return [...(r.flagsByStation.get(st.station) || [])].join(', ');
}

function visibleStations() {
  const r = state.results;
  const f = $('flag-filter').value;
  let rows = r.stations.filter((s) => !f || (f === '*' ? r.flagsByStation.has(s.station) : (r.flagsByStation.get(s.station) || new Set()).has(f)));
  const { key, up } = state.sort;
  rows = [...rows].sort((a, b) => {
    const x = a[key], y = b[key];
    const c = typeof x === 'number' && typeof y === 'number' ? x - y : String(x ?? '').localeCompare(String(y ?? ''));
    return up ? c : -c;
  });
  return rows;
}

function renderResults() {
  const r = state.results;
  if (!r || !r.stations.length) return;
  const keys = layerKeys(r.stations[0]);
  const unit = keys.length ? keys[0].split('_').pop() : '';
  const ordered = [...r.stations].sort((a, b) => a.position - b.position);
  const points = ordered.map((s) => ({ x: s.position, label: s.station, flagged: stationFlagText(r, s) }));
  const xLabel = r.sections.some((s) => s.start_station !== undefined) ? 'station (survey order)' : `chainage (${state.preview ? state.preview.units.chainage : ''})`;
  const sections = r.sections.map((s) => ({ section: s.section, start: sectionBounds(s)[0], end: sectionBounds(s)[1] }));
  // Click opens the station; shift-click adds it to (or takes it from) the what-if selection.
  const pick = (p, i, event) => {
    if (!event || !event.shiftKey) return openStation(p.label);
    if (state.selection.has(p.label)) state.selection.delete(p.label);
    else state.selection.add(p.label);
    $('whatif-section').value = '';
    renderResults();
    renderWhatif();
  };
  profileChart($('modulus-chart'), {
    points, sections, yLog: true, xLabel, yLabel: `normalised modulus (${unit})`, onPick: pick, selected: state.selection,
    series: keys.map((k) => ({ name: `layer ${k.slice(1, 2)}`, values: ordered.map((s) => s[k]) })),
  });
  profileChart($('rms-chart'), {
    points, xLabel, yLabel: 'average RMS error (%)', onPick: pick, height: 200, selected: state.selection,
    series: [{ name: 'RMS %', values: ordered.map((s) => s.average_rms_percent) }],
  });
  const t = clear($('station-table'));
  const columns = [['station', 'station'], ['position', 'chainage'], ['drops', 'drops'],
    ...Object.keys(r.stations[0]).filter((k) => /^H\d_(cm|in)$/.test(k)).map((k) => [k, k]),
    ...keys.map((k) => [k, k]), ['average_rms_percent', 'RMS %'], ['flags', 'flags']];
  const head = make('tr', {}, make('thead', {}, t));
  make('th', {}, head, 'select');
  for (const [key, label] of columns) {
    const th = make('th', { class: 'sortable' }, head, label + (state.sort.key === key ? (state.sort.up ? ' ▲' : ' ▼') : ''));
    th.addEventListener('click', () => {
      state.sort = { key, up: state.sort.key === key ? !state.sort.up : true };
      renderResults();
    });
  }
  const body = make('tbody', {}, t);
  for (const s of visibleStations()) {
    const tr = make('tr', { class: 'clickable', 'data-station': s.station }, body);
    const box = make('input', { type: 'checkbox', 'aria-label': `select ${s.station}` }, make('td', {}, tr));
    box.checked = state.selection.has(s.station);
    box.addEventListener('click', (e) => e.stopPropagation());
    box.addEventListener('change', () => {
      if (box.checked) state.selection.add(s.station);
      else state.selection.delete(s.station);
      $('whatif-section').value = '';
      renderResults();
      renderWhatif();
    });
    for (const [key] of columns) {
      const v = key === 'flags' ? stationFlagText(r, s) : s[key];
      make('td', { class: key === 'flags' ? (v ? 'flags' : '') : typeof v === 'number' ? 'num' : '' }, tr, formatNumber(v, 4));
    }
    tr.addEventListener('click', () => openStation(s.station));
  }
  $('selection-text').textContent = state.selection.size ? `${state.selection.size} stations selected` : '';
}

function openStation(station) {
  const r = state.results;
  const st = r.stations.find((s) => s.station === station);
  if (!st) return;
  $('station-panel').hidden = false;
  $('station-title').textContent = `Station ${station} of ${state.resultsRun}: ${st.drops} drops, RMS ${formatNumber(st.average_rms_percent)} % (basins: points measured, lines calculated)`;
  const drops = r.drops.filter((d) => d.station === station);
  const sensors = r.sensors.filter((s) => s.station === station);
  const off = Object.keys(sensors[0] || {}).find((k) => k.startsWith('offset_')) || 'offset_cm';
  const meas = Object.keys(sensors[0] || {}).find((k) => k.startsWith('measured_')) || 'measured_um';
  const calc = Object.keys(sensors[0] || {}).find((k) => k.startsWith('calculated_')) || 'calculated_um';
  const basins = drops.map((d) => {
    const s = sensors.filter((x) => x.drop === d.drop).sort((a, b) => a.sensor - b.sensor);
    return { name: `drop ${d.drop}`, offsets: s.map((x) => x[off]), measured: s.map((x) => x[meas]), calculated: s.map((x) => x[calc]), residuals: s.map((x) => x.weighted_residual) };
  });
  const unit = (key) => key.slice(key.indexOf('_') + 1);
  basinChart($('basin-chart'), { drops: basins, offsetLabel: `offset (${unit(off)})`, deflectionLabel: `deflection (${unit(meas)})` });
  residualChart($('residual-chart'), { drops: basins, offsetLabel: `offset (${unit(off)})` });
  const t = clear($('drop-table'));
  const moduli = Object.keys(drops[0] || {}).filter((k) => /^E\d_(MPa|ksi)$/.test(k));
  const se = Object.keys(drops[0] || {}).filter((k) => /^E\d_se_percent$/.test(k));
  const load = Object.keys(drops[0] || {}).find((k) => k.startsWith('load_')) || 'load_N';
  const cols = ['drop', load, ...moduli, ...se, 'rms_percent', 'convergence', 'flags'];
  const head = make('tr', {}, make('thead', {}, t));
  for (const c of cols) make('th', {}, head, c.replace('_percent', ' %'));
  const body = make('tbody', {}, t);
  for (const d of drops) {
    const tr = make('tr', {}, body);
    for (const c of cols) make('td', { class: c === 'flags' ? (d[c] ? 'flags' : '') : typeof d[c] === 'number' ? 'num' : '' }, tr, formatNumber(d[c], 4));
  }
  $('station-panel').scrollIntoView({ behavior: 'smooth', block: 'nearest' });
}

// ---- what-if ----
const whatif = { layers: [], thickness: [], changed: new Set() };

async function renderWhatif() {
  const r = state.results;
  const t = clear($('whatif-layers'));
  if (!r || !state.form) return;
  const base = state.form;
  const u = units();
  const sectionValue = $('whatif-section').value;
  if (sectionValue) {
    const s = r.sections.find((x) => String(x.section) === sectionValue);
    const [a, b] = sectionBounds(s);
    state.selection = new Set(r.stations.filter((x) => x.position >= a && x.position <= b).map((x) => x.station));
  }
  $('whatif-count').textContent = `${state.selection.size} stations selected`;
  const first = r.stations.find((s) => state.selection.has(s.station)) || r.stations[0];
  whatif.layers = base.layers.map((l) => ({ ...l }));
  whatif.thickness = base.layers.slice(0, -1).map((_, j) => String(first[`H${j + 1}_${u.h}`] ?? ''));
  whatif.changed = new Set();
  const head = make('tr', {}, t);
  for (const h of ['layer', `thickness (${u.h})`, `seed / modulus (${u.e})`, `lower (${u.e})`, `upper (${u.e})`]) make('th', {}, head, h);
  whatif.layers.forEach((l, i) => {
    const tr = make('tr', {}, t);
    make('td', {}, tr, `${i + 1} (${l.type})`);
    const td = make('td', {}, tr);
    if (i < whatif.layers.length - 1) {
      const input = make('input', { size: 7, 'aria-label': `what-if H${i + 1}` }, td);
      input.value = whatif.thickness[i];
      input.addEventListener('input', () => {
        whatif.thickness[i] = input.value;
        whatif.changed.add(i);
      });
    } else td.textContent = 'to depth';
    for (const k of ['modulus', 'lower', 'upper']) {
      const input = make('input', { size: 7, 'aria-label': `what-if layer ${i + 1} ${k}` }, make('td', {}, tr));
      input.value = l[k] ?? '';
      input.disabled = l.type === 'fixed' && k !== 'modulus';
      input.addEventListener('input', () => (l[k] = input.value));
    }
  });
  if (state.selection.size) renderResults();
}

async function runWhatif() {
  performance.clearMarks();
  const r = state.results;
  if (!r) return;
  if (!state.selection.size) return notice('Select stations in the table or pick a section first.');
  const form = JSON.parse(JSON.stringify(state.form));
  form.layers = whatif.layers;
  for (const j of whatif.changed) for (const range of form.ranges) range.thicknesses[j] = whatif.thickness[j];
  const note = `${state.selection.size} stations of ${state.resultsRun}` + (whatif.changed.size ? `, thickness ${[...whatif.changed].map((j) => 'H' + (j + 1) + '=' + whatif.thickness[j]).join(' ')}` : '');
  await startRun({ survey: surveyOf(state.resultsRun), whatif: { stations: [...state.selection], left_out: state.leftOut[surveyOf(state.resultsRun)] || {}, structure: form, note } });
}

// ---- export ----
async function renderExport(run) {
  const list = clear($('export-list'));
  const files = await attempt(() => getJson('/api/files', { run }));
  if (!files) return;
  for (const f of files) {
    const li = make('li', {}, list);
    const a = make('a', { href: `/files/${encodeURIComponent(run)}/${encodeURIComponent(f.name)}` }, li, f.name);
    if (f.name === 'survey.html') a.setAttribute('target', '_blank');
    else a.setAttribute('download', f.name);
    make('span', { class: 'muted' }, li, ` ${f.bytes} bytes`);
  }
  const li = make('li', {}, list);
  make('a', { href: '/download/results.sqlite', download: 'results.sqlite' }, li, 'results.sqlite');
  make('span', { class: 'muted' }, li, ' the whole project\'s results database');
}

// ---- compare ----
async function renderCompare() {
  const a = $('compare-a').value, b = $('compare-b').value;
  if (!a || !b) return;
  const [ra, rb] = await Promise.all([attempt(() => getJson('/api/results', { run: a })), attempt(() => getJson('/api/results', { run: b }))]);
  if (!ra || !rb) return;
  const pos = chainageOf(ra);
  const keys = layerKeys(ra.stations[0] || {});
  const bByStation = new Map(rb.stations.map((s) => [s.station, s]));
  const matched = ra.stations.filter((s) => bByStation.has(s.station)).map((s) => ({ a: s, b: bByStation.get(s.station), x: pos(s) }));
  matched.sort((p, q) => p.x - q.x);
  const diff = (p, k) => (typeof p.a[k] === 'number' && typeof p.b[k] === 'number' && p.a[k] ? (100 * (p.b[k] - p.a[k])) / p.a[k] : null);
  profileChart($('difference-chart'), {
    points: matched.map((p) => ({ x: p.x, label: p.a.station })),
    xLabel: state.preview ? `chainage (${state.preview.units.chainage})` : 'chainage', yLabel: `${b} against ${a} (%)`, height: 260,
    series: keys.map((k) => ({ name: `layer ${k.slice(1, 2)}`, values: matched.map((p) => diff(p, k)) })),
  });
  const t = clear($('compare-table'));
  const head = make('tr', {}, make('thead', {}, t));
  make('th', {}, head, 'station');
  for (const k of keys) for (const h of [`${k} ${a}`, `${k} ${b}`, 'diff %']) make('th', {}, head, h);
  for (const h of [`RMS % ${a}`, `RMS % ${b}`]) make('th', {}, head, h);
  const body = make('tbody', {}, t);
  for (const p of matched) {
    const tr = make('tr', {}, body);
    make('td', {}, tr, p.a.station);
    for (const k of keys) {
      make('td', { class: 'num' }, tr, formatNumber(p.a[k], 4));
      make('td', { class: 'num' }, tr, formatNumber(p.b[k], 4));
      make('td', { class: 'num' }, tr, formatNumber(diff(p, k), 3));
    }
    make('td', { class: 'num' }, tr, formatNumber(p.a.average_rms_percent, 3));
    make('td', { class: 'num' }, tr, formatNumber(p.b.average_rms_percent, 3));
  }
  const unmatched = ra.stations.length - matched.length;
  if (unmatched) make('caption', {}, t, `${unmatched} stations of ${a} have no station of the same identifier in ${b}`);
}

// ---- wiring ----
function wire() {
  for (const b of document.querySelectorAll('#tabs button')) b.addEventListener('click', () => showTab(b.dataset.tab));
  $('upload-button').addEventListener('click', addFiles);
  $('survey-select').addEventListener('change', () => selectSurvey($('survey-select').value));
  $('st-units').addEventListener('change', () => {
    state.form.units = $('st-units').value;
    renderStructure();
    scheduleCheck();
  });
  $('st-title').addEventListener('input', () => {
    state.form.title = $('st-title').value;
    scheduleCheck();
  });
  $('st-stiff').addEventListener('change', () => {
    state.form.stiff_layer = $('st-stiff').checked;
    scheduleCheck();
  });
  $('st-add-layer').addEventListener('click', () => {
    state.form.layers.push({ type: 'backcalculated', poisson: '0.40', modulus: '', lower: '', upper: '' });
    renderStructure();
    scheduleCheck();
  });
  $('st-add-range').addEventListener('click', () => {
    state.form.ranges.push({ from: '', to: '', thicknesses: [] });
    renderStructure();
    scheduleCheck();
  });
  $('st-add-point').addEventListener('click', () => {
    state.form.points.push({ radius: '0', layer: '1', position: '2' });
    renderStructure();
    scheduleCheck();
  });
  $('st-save').addEventListener('click', saveStructure);
  $('run-button').addEventListener('click', runSurvey);
  $('cancel-button').addEventListener('click', () => attempt(() => sendJson('POST', '/api/cancel', {})));
  $('results-run').addEventListener('change', () => loadResults($('results-run').value));
  $('flag-filter').addEventListener('change', renderResults);
  $('select-none').addEventListener('click', () => {
    state.selection = new Set();
    $('whatif-section').value = '';
    renderResults();
    renderWhatif();
  });
  $('whatif-section').addEventListener('change', renderWhatif);
  $('whatif-run').addEventListener('click', runWhatif);
  $('compare-a').addEventListener('change', renderCompare);
  $('compare-b').addEventListener('change', renderCompare);
}

async function start() {
  wire();
  await attempt(refreshProject);
  if (state.survey) await selectSurvey(state.survey);
  const done = state.project ? state.project.runs.filter((r) => r.record && r.record.status === 'ok') : [];
  if (done.length) {
    $('results-run').value = done[done.length - 1].name;
    await loadResults(done[done.length - 1].name);
  }
  followRun(0, runHandlers);
}

start();

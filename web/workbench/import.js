// The Import screen: device files into the project, and the selected survey's stations and
// measured basins before any fit, where drops can be left out.

import { sendJson, upload } from './api.js';
import { basinChart, formatNumber, stripChart } from './charts.js';
import { $, clear, headRow, make } from './dom.js';
import { errorText, onUserAction, request, showNotice } from './notice.js';
import * as store from './store.js';

let shownStation = null; // index in the preview of the station whose drops are shown

// ---- device files ----
function fileRole(file, runs) {
  const path = `inputs/${file.name}`;
  if (runs.some((r) => r.source === path)) return 'a survey';
  if (runs.some((r) => r.structure === path)) return 'a structure';
  return '';
}

async function useAsSurvey(file) {
  const answer = await request(() => sendJson('POST', '/api/surveys', { file }), file);
  if (!answer) return;
  await store.refreshProject();
  await store.selectSurvey(answer.survey);
}

function renderInputFiles() {
  const p = store.project();
  const files = clear($('input-files'));
  if (!p || !p.inputs.length) return;
  const list = make('ul', {}, files);
  for (const f of p.inputs) {
    const li = make('li', {}, list, `${f.name} (${f.bytes} bytes) `);
    const role = fileRole(f, p.runs);
    if (role) make('span', { class: 'muted' }, li, role);
    else {
      // A file put into the project folder by hand becomes a survey here too.
      const use = make('button', { class: 'small' }, li, 'use as survey');
      onUserAction(use, 'click', () => useAsSurvey(f.name));
    }
  }
}

// The server refuses a file larger than the room it gives an upload; better said before sending it.
function tooLarge(file) {
  const p = store.project();
  if (!p) return '';
  const room = Math.min(p.max_upload_bytes, Math.max(0, p.max_project_bytes - p.input_bytes));
  if (file.size <= room) return '';
  return `${file.size} bytes is more than an upload may bring (${room} bytes: the limit per file or the room left ` +
    'in the project; see --max-upload-mb and --max-project-mb)';
}

// One file into the project and made a survey; the failure, if any, as "name: why".
async function addFile(file) {
  const refusal = tooLarge(file);
  if (refusal) return { failure: errorText(refusal, file.name) };
  try {
    const kept = await upload(file);
    const answer = await sendJson('POST', '/api/surveys', { file: kept.file });
    return { survey: answer.survey };
  } catch (e) {
    return { failure: errorText(e, file.name) };
  }
}

// Every file chosen is tried; the notice names each that failed.
async function addFiles() {
  const files = [...$('upload-input').files];
  if (!files.length) return showNotice('Choose a file first.');
  const failures = [];
  let added = '';
  for (const f of files) {
    $('upload-status').textContent = `uploading ${f.name} ...`;
    const result = await addFile(f);
    if (result.failure) failures.push(result.failure);
    else added = result.survey;
    await store.refreshProject();
  }
  $('upload-status').textContent = '';
  if (added) await store.selectSurvey(added);
  if (failures.length) showNotice(failures.join('\n'));
}

// ---- the selected survey's stations ----
function stationFlags(station) {
  return [...new Set(station.drops.flatMap((d) => (d.flags ? d.flags.split(';') : [])))];
}

function leftOutDrops(stationId) {
  return store.leftOutOf(store.selectedSurvey())[stationId] || [];
}

function drawStrip(p) {
  const points = p.stations.map((s, i) => ({ x: s.chainage ?? i + 1, label: s.id, index: i }));
  const flagsAt = (pt) => stationFlags(p.stations[pt.index]);
  stripChart($('preview-strip'), {
    points,
    classOf: (pt) => (flagsAt(pt).length ? { name: 'flagged', color: '#c4512b' } : { name: 'clean', color: '#2e8b57' }),
    labelOf: (pt) => `${pt.label} at ${formatNumber(pt.x, 6)} ${p.units.chainage}: ${flagsAt(pt).join(', ') || 'no data-check flag'}`,
    legend: [{ name: 'no flag', color: '#2e8b57' }, { name: 'a drop flagged', color: '#c4512b' }],
    onPick: (pt) => showStation(pt.index),
  });
}

function drawStationTable(p) {
  const t = clear($('preview-table'));
  headRow(t, ['station', `chainage (${p.units.chainage})`, 'lane', 'drops', 'left out', 'data-check flags']);
  const body = make('tbody', {}, t);
  p.stations.forEach((s, i) => {
    const tr = make('tr', { class: 'clickable' }, body);
    make('td', {}, tr, s.id);
    make('td', { class: 'num' }, tr, formatNumber(s.chainage, 6));
    make('td', {}, tr, s.lane);
    make('td', { class: 'num' }, tr, String(s.drops.length));
    make('td', { class: 'num' }, tr, String(leftOutDrops(s.id).length || ''));
    make('td', { class: stationFlags(s).length ? 'flags' : '' }, tr, stationFlags(s).join(', '));
    tr.addEventListener('click', () => showStation(i));
  });
}

function renderPreview() {
  const p = store.surveyPreview();
  $('preview-panel').hidden = !p;
  if (!p) return;
  $('preview-summary').textContent =
    `${p.file}: ${p.format}, ${p.stations.length} stations, ${p.drops} drops, ${p.english ? 'English' : 'metric'} units`;
  drawStrip(p);
  drawStationTable(p);
  if (shownStation !== null && shownStation < p.stations.length) showStation(shownStation);
  else clearStation();
}

function clearStation() {
  shownStation = null;
  $('preview-station-title').textContent = 'Click a station to see its drops';
  clear($('preview-basin'));
  clear($('preview-drops'));
}

function drawStationBasins(p, s, out) {
  basinChart($('preview-basin'), {
    drops: s.drops.map((d) => ({
      name: `drop ${d.seq}${out.includes(d.seq) ? ' (left out)' : ''}`,
      offsets: p.offsets,
      measured: d.basin,
      left_out: out.includes(d.seq),
    })),
    offsetLabel: `offset (${p.units.offset})`,
    deflectionLabel: `deflection (${p.units.deflection})`,
  });
}

function drawDropTable(p, s, out) {
  const t = clear($('preview-drops'));
  headRow(t, ['drop', `load (${p.units.load})`, 'flags', 'leave out']);
  const body = make('tbody', {}, t);
  for (const d of s.drops) {
    const tr = make('tr', {}, body);
    make('td', {}, tr, String(d.seq));
    make('td', { class: 'num' }, tr, formatNumber(d.load, 5));
    make('td', { class: d.flags ? 'flags' : '' }, tr, [d.flags, d.problem].filter(Boolean).join('; '));
    const box = make('input', { type: 'checkbox' }, make('td', {}, tr));
    box.checked = out.includes(d.seq);
    box.addEventListener('change', () => toggleDrop(s.id, d.seq, box.checked));
  }
}

function toggleDrop(stationId, seq, leaveOut) {
  const drops = new Set(leftOutDrops(stationId));
  if (leaveOut) drops.add(seq);
  else drops.delete(seq);
  store.leaveOut(store.selectedSurvey(), stationId, drops);
}

function showStation(i) {
  const p = store.surveyPreview();
  const s = p.stations[i];
  shownStation = i;
  $('preview-station-title').textContent = `Station ${s.id}: measured basins (before any fit)`;
  const out = leftOutDrops(s.id);
  drawStationBasins(p, s, out);
  drawDropTable(p, s, out);
}

export function startImport() {
  onUserAction($('upload-button'), 'click', addFiles);
  store.subscribe('project', renderInputFiles);
  store.subscribe('survey', () => {
    clearStation();
    renderPreview();
  });
  store.subscribe('preview', renderPreview);
  store.subscribe('left-out', renderPreview);
}

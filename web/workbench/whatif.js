// The what-if panel: rerun the picked stations of the selected run (ticked in the table,
// shift-clicked on a profile, or a whole section) with other thicknesses, seeds or bounds.

import { make, $, clear, fillSelect } from './dom.js';
import { onUserAction, showNotice } from './notice.js';
import { sectionRange, sectionStations } from './results-data.js';
import { startRun } from './run.js';
import * as store from './store.js';
import { structureForm, unitsOf } from './structure.js';

// The layers as edited here, the thicknesses above the last layer, and which of those were changed.
let edit = { form: null, layers: [], thickness: [], changed: new Set() };

function renderSections() {
  const r = store.runResults();
  const sections = r ? r.sections.map((s) => ({ value: String(s.section), label: `section ${s.section}: ${sectionRange(s)}` })) : [];
  fillSelect($('whatif-section'), [{ value: '', label: '(selected stations)' }, ...sections], '');
}

async function pickSection() {
  const r = store.runResults();
  const section = $('whatif-section').value;
  const stations = section && r ? sectionStations(r, section) : store.pickedStations().stations;
  await store.pickStations(stations, section);
}

// The thicknesses start from the first picked station's (or the first station's).
function startEdit(r, picked) {
  const form = structureForm();
  const u = unitsOf(form);
  const first = r.stations.find((s) => picked.has(s.station)) || r.stations[0] || {};
  edit = {
    form,
    layers: form.layers.map((l) => ({ ...l })),
    thickness: form.layers.slice(0, -1).map((_, j) => String(first[`H${j + 1}_${u.h}`] ?? '')),
    changed: new Set(),
  };
}

function renderThickness(tr, i) {
  const td = make('td', {}, tr);
  if (i === edit.layers.length - 1) {
    td.textContent = 'to depth';
    return;
  }
  const input = make('input', { size: 7, 'aria-label': `what-if H${i + 1}` }, td);
  input.value = edit.thickness[i];
  input.addEventListener('input', () => {
    edit.thickness[i] = input.value;
    edit.changed.add(i);
  });
}

function renderLayer(t, l, i) {
  const tr = make('tr', {}, t);
  make('td', {}, tr, `${i + 1} (${l.type})`);
  renderThickness(tr, i);
  for (const k of ['modulus', 'lower', 'upper']) {
    const input = make('input', { size: 7, 'aria-label': `what-if layer ${i + 1} ${k}` }, make('td', {}, tr));
    input.value = l[k] ?? '';
    input.disabled = l.type === 'fixed' && k !== 'modulus';
    input.addEventListener('input', () => (l[k] = input.value));
  }
}

function renderWhatif() {
  const t = clear($('whatif-layers'));
  const r = store.runResults();
  const { section, stations } = store.pickedStations();
  $('whatif-section').value = section;
  $('whatif-count').textContent = `${stations.size} stations selected`;
  if (!r || !structureForm()) return;
  startEdit(r, stations);
  const u = unitsOf(edit.form);
  const head = make('tr', {}, t);
  for (const h of ['layer', `thickness (${u.h})`, `seed / modulus (${u.e})`, `lower (${u.e})`, `upper (${u.e})`]) make('th', {}, head, h);
  edit.layers.forEach((l, i) => renderLayer(t, l, i));
}

function whatifStructure() {
  const form = structureForm();
  form.layers = edit.layers;
  for (const j of edit.changed) for (const range of form.ranges) range.thicknesses[j] = edit.thickness[j];
  return form;
}

function whatifNote(count) {
  const thickness = [...edit.changed].map((j) => `H${j + 1}=${edit.thickness[j]}`).join(' ');
  return `${count} stations of ${store.selectedRun()}` + (edit.changed.size ? `, thickness ${thickness}` : '');
}

async function runWhatif() {
  performance.clearMarks();
  const run = store.selectedRun();
  if (!store.runResults() || !structureForm()) return;
  const { stations } = store.pickedStations();
  if (!stations.size) return showNotice('Select stations in the table or pick a section first.');
  const survey = store.surveyOfRun(run);
  const whatif = { stations: [...stations], left_out: store.leftOutOf(survey), structure: whatifStructure(), note: whatifNote(stations.size) };
  await startRun({ survey, whatif });
}

export function startWhatif() {
  onUserAction($('whatif-section'), 'change', pickSection);
  onUserAction($('whatif-run'), 'click', runWhatif);
  store.subscribe('run', () => {
    renderSections();
    renderWhatif();
  });
  store.subscribe('stations', renderWhatif);
  store.subscribe('activity', () => ($('whatif-run').disabled = store.runActivity().running));
}

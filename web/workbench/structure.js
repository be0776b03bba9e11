// The Structure screen: the selected survey's pavement structure as a form, checked by the server
// as the engine would read it while the engineer types, and saved on request.  The form being
// edited belongs to this screen; others get a copy (structureForm) or ask for it to be saved.

import { getJson, sendJson } from './api.js';
import { palette, stripChart } from './charts.js';
import { $, clear, deepCopy, make } from './dom.js';
import { onUserAction, request, showError, showNotice } from './notice.js';
import * as store from './store.js';

let form = null;
let lastCheckOk = false; // the server's last reading of the form found nothing wrong
let checkTimer = 0;
let loadTicket = 0;

export function structureForm() {
  return deepCopy(form);
}

export function unitsOf(f) {
  return f && f.units === 'english' ? { h: 'in', e: 'ksi', c: 'ft' } : { h: 'cm', e: 'MPa', c: 'm' };
}

async function loadStructure() {
  const ticket = ++loadTicket;
  const survey = store.selectedSurvey();
  const answer = survey ? await request(() => getJson('/api/structure', { run: survey })) : null;
  if (ticket !== loadTicket) return;
  form = answer || null;
  lastCheckOk = false;
  if (!form) return;
  renderStructure();
  await checkStructure();
}

// ---- the form ----
function edited() {
  renderStructure();
  scheduleCheck();
}

function field(parent, value, onInput, attributes = {}) {
  const input = make('input', { size: 7, ...attributes }, parent);
  input.value = value ?? '';
  onUserAction(input, 'input', () => {
    onInput(input.value);
    scheduleCheck();
  });
  return input;
}

function removeButton(row, remove) {
  const button = make('button', { class: 'small' }, make('td', {}, row), 'remove');
  onUserAction(button, 'click', () => {
    remove();
    edited();
  });
}

function messageCell(row, group, index) {
  make('td', { class: 'msg', 'data-group': group, 'data-index': String(index) }, row);
}

function renderLayer(table, l, i) {
  const tr = make('tr', { 'data-row': `layer-${i}` }, table);
  make('td', {}, tr, String(i + 1));
  const type = make('select', {}, make('td', {}, tr));
  for (const v of ['backcalculated', 'fixed']) make('option', { value: v }, type, v);
  type.value = l.type;
  onUserAction(type, 'change', () => {
    l.type = type.value;
    edited();
  });
  field(make('td', {}, tr), l.poisson, (v) => (l.poisson = v), { 'aria-label': `layer ${i + 1} Poisson's ratio` });
  field(make('td', {}, tr), l.modulus, (v) => (l.modulus = v), { 'aria-label': `layer ${i + 1} modulus` });
  const lo = field(make('td', {}, tr), l.lower, (v) => (l.lower = v), { 'aria-label': `layer ${i + 1} lower bound` });
  const hi = field(make('td', {}, tr), l.upper, (v) => (l.upper = v), { 'aria-label': `layer ${i + 1} upper bound` });
  lo.disabled = hi.disabled = l.type === 'fixed';
  removeButton(tr, () => {
    form.layers.splice(i, 1);
    for (const r of form.ranges) r.thicknesses.splice(Math.min(i, r.thicknesses.length - 1), 1);
  });
  messageCell(tr, 'layer', i);
}

function renderLayers(u) {
  const t = clear($('st-layers'));
  const labels = ['layer', 'type', "Poisson's ratio", `seed / fixed modulus (${u.e})`, `lower bound (${u.e})`, `upper bound (${u.e})`, '', ''];
  const head = make('tr', {}, t);
  for (const h of labels) make('th', {}, head, h);
  form.layers.forEach((l, i) => renderLayer(t, l, i));
}

function renderRange(table, r, i, above) {
  while (r.thicknesses.length < above) r.thicknesses.push('');
  r.thicknesses.length = above;
  const tr = make('tr', { 'data-row': `range-${i}` }, table);
  const first = make('td', {}, tr);
  make('span', { class: `swatch c${i % 6}` }, first);
  field(first, r.from, (v) => (r.from = v), { 'aria-label': `range ${i + 1} from` });
  field(make('td', {}, tr), r.to, (v) => (r.to = v), { 'aria-label': `range ${i + 1} to` });
  r.thicknesses.forEach((h, j) =>
    field(make('td', {}, tr), h, (v) => (r.thicknesses[j] = v), { 'aria-label': `range ${i + 1} H${j + 1}` }));
  removeButton(tr, () => form.ranges.splice(i, 1));
  messageCell(tr, 'range', i);
}

function renderRanges(u) {
  const above = Math.max(0, form.layers.length - 1);
  const t = clear($('st-ranges'));
  const head = make('tr', {}, t);
  const labels = [`from (${u.c})`, `to (${u.c})`, ...Array.from({ length: above }, (_, j) => `H${j + 1} (${u.h})`), '', ''];
  for (const h of labels) make('th', {}, head, h);
  form.ranges.forEach((r, i) => renderRange(t, r, i, above));
}

function renderPoints(u) {
  const t = clear($('st-points'));
  const head = make('tr', {}, t);
  for (const h of [`radial distance (${u.h})`, 'layer', 'position', '', '']) make('th', {}, head, h);
  form.points.forEach((p, i) => {
    const tr = make('tr', {}, t);
    field(make('td', {}, tr), p.radius, (v) => (p.radius = v));
    field(make('td', {}, tr), p.layer, (v) => (p.layer = v));
    field(make('td', {}, tr), p.position, (v) => (p.position = v));
    removeButton(tr, () => form.points.splice(i, 1));
    messageCell(tr, 'point', i);
  });
}

function renderStructure() {
  const u = unitsOf(form);
  $('st-units').value = form.units;
  $('st-title').value = form.title || '';
  $('st-stiff').checked = !!form.stiff_layer;
  renderLayers(u);
  renderRanges(u);
  renderPoints(u);
}

// ---- checking as the engine reads it ----
function scheduleCheck() {
  clearTimeout(checkTimer);
  checkTimer = setTimeout(checkStructure, 250);
}

function clearMessages() {
  for (const m of document.querySelectorAll('#tab-structure .msg')) m.textContent = '';
  for (const tr of document.querySelectorAll('#tab-structure tr.invalid')) tr.classList.remove('invalid');
}

// The server's complaint beside the row it is about (or under the form).
function showComplaint(answer) {
  const target = document.querySelector(`#tab-structure .msg[data-group="${answer.group}"][data-index="${answer.index}"]`) ||
    document.querySelector('#tab-structure .msg[data-group="structure"]');
  target.textContent = answer.message;
  const row = target.closest('tr');
  if (row) row.classList.add('invalid');
}

async function checkStructure() {
  if (!form) return;
  // The coverage needs the survey's stations; a file that cannot be read yet (the Survey options
  // panel says why) leaves the form checked on its own.
  const survey = store.surveyPreview() ? store.selectedSurvey() : '';
  const answer = await request(() => sendJson('POST', '/api/structure/check', { form, survey }));
  if (!answer) return;
  clearMessages();
  lastCheckOk = answer.ok;
  $('structure-status').textContent = answer.ok ? 'reads as the engine reads it' : 'not yet valid';
  $('st-save').disabled = !answer.ok;
  if (!answer.ok) showComplaint(answer);
  drawCoverage(answer.coverage);
}

// Which thickness range each station falls in; a station no range covers cannot run.
function drawCoverage(coverage) {
  const p = store.surveyPreview();
  if (!p || !coverage) {
    clear($('st-strip'));
    return;
  }
  const points = p.stations.map((s, i) => ({ x: s.chainage ?? i + 1, label: s.id, index: i }));
  const rangeOf = (pt) => coverage[pt.index];
  stripChart($('st-strip'), {
    points,
    classOf: (pt) => (rangeOf(pt) >= 0 ? { name: 'range', color: palette[rangeOf(pt) % palette.length] } : { name: 'uncovered', color: '#e00' }),
    labelOf: (pt) => `${pt.label}: ${rangeOf(pt) >= 0 ? 'range ' + (rangeOf(pt) + 1) : 'no range covers it'}`,
    legend: [{ name: 'no range: cannot run', color: '#e00' }],
  });
}

// ---- saving ----
function putStructure() {
  return request(() => sendJson('PUT', '/api/structure', { survey: store.selectedSurvey(), form }));
}

async function saveStructure() {
  if (!(await putStructure())) return;
  $('structure-status').textContent = 'saved';
  showNotice('Structure saved.', 'ok');
}

// Before a run: the form is saved when the server's last check found it valid (the server checks
// it again); false when saving failed.
export async function saveIfValid() {
  if (!form || !lastCheckOk) return true;
  return !!(await putStructure());
}

function wireForm() {
  onUserAction($('st-units'), 'change', () => {
    form.units = $('st-units').value;
    edited();
  });
  onUserAction($('st-title'), 'input', () => {
    form.title = $('st-title').value;
    scheduleCheck();
  });
  onUserAction($('st-stiff'), 'change', () => {
    form.stiff_layer = $('st-stiff').checked;
    scheduleCheck();
  });
  const adders = {
    'st-add-layer': () => form.layers.push({ type: 'backcalculated', poisson: '0.40', modulus: '', lower: '', upper: '' }),
    'st-add-range': () => form.ranges.push({ from: '', to: '', thicknesses: [] }),
    'st-add-point': () => form.points.push({ radius: '0', layer: '1', position: '2' }),
  };
  for (const [id, add] of Object.entries(adders))
    onUserAction($(id), 'click', () => {
      add();
      edited();
    });
  onUserAction($('st-save'), 'click', saveStructure);
}

export function startStructure() {
  wireForm();
  store.subscribe('survey', loadStructure);
  // The coverage strip follows the stations as the survey's options now read them.
  store.subscribe('preview', () => form && checkStructure());
}

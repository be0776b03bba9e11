// The Survey options panel of the Import screen: every option a survey can need, as fields made
// from the server's one table of options (/api/options, the table basinfit, basinfit-import and
// the manifest use), so an option added to that table is a field here with no change to the page.
// The options are the columns of the survey's manifest row.  Only those the row sets are shown,
// with a list to add any other; saving sends only what changed and the server's one validator
// answers; a refusal lands at the field it names.  Options change how the device file is read,
// so a save reads it again; a file that cannot be read until an option is given (a CSV file's
// plate radius and offsets) opens that option here with the importer's words.

import { getJson, sendJson } from './api.js';
import { $, clear, make } from './dom.js';
import { onUserAction, request, showNotice } from './notice.js';
import * as store from './store.js';

const groups = [
  { id: 'read', title: 'Reading the device file', program: 'basinfit-import' },
  { id: 'run-folder', title: 'Writing the run folder', program: 'basinfit-import' },
  { id: 'analysis', title: 'Analysing the results', program: 'basinfit' },
];

let table = []; // the options, in the table's order
let saved = {}; // key -> text, as the survey's manifest row gives them
const drafts = new Map(); // survey -> the engineer's changes not yet saved: {values, added}
let refusals = new Map(); // key -> what the server said of that option's value
let refusal = ''; // what the server said that names no option
let loadTicket = 0;

// What an option does: the table says so itself ("group").
function groupOf(option) {
  return groups.some((g) => g.id === option.group) ? option.group : 'run-folder';
}

// The option a message of the server or the importer is about: "column 'skip_seating'" (the
// manifest), else the first command-line flag it names ("give their offsets with --offsets").
function optionNamedIn(message) {
  const column = /column '([^']+)'/.exec(message);
  if (column && table.some((o) => o.key === column[1])) return column[1];
  for (const [flag] of message.matchAll(/--[a-z][a-z0-9-]*/g)) {
    const option = table.find((o) => o.flag === flag);
    if (option) return option.key;
  }
  return '';
}

// Beside its field a message needs no "manifest.csv: run 'x', column 'key': " before its reason,
// nor the folders of the file it names (the notice keeps the whole message).
function reasonAbout(option, message) {
  const column = `column '${option.key}': `;
  if (message.includes(column)) return message.slice(message.indexOf(column) + column.length);
  if (message.startsWith(`${option.flag}: `)) return message.slice(option.flag.length + 2);
  return message.replace(/^[^\s,:]*\//, '');
}

// ---- the options as saved and as edited ----
function draft() {
  const survey = store.selectedSurvey();
  if (!drafts.has(survey)) drafts.set(survey, { values: {}, added: new Set() });
  return drafts.get(survey);
}

function valueOf(key) {
  const d = draft();
  return Object.hasOwn(d.values, key) ? d.values[key] : saved[key] ?? '';
}

function isChanged(key) {
  return valueOf(key) !== (saved[key] ?? '');
}

// What saving sends: each option changed, with its new text ('' takes it out of the row).
function changes() {
  const out = {};
  for (const o of table) if (isChanged(o.key)) out[o.key] = valueOf(o.key);
  return out;
}

// The option the survey's file cannot be read without, with the importer's words.
function problem() {
  const text = store.surveyProblem();
  return { key: text ? optionNamedIn(text) : '', text };
}

// A refusal of the value sent, else the file's problem while the value it is about is as saved.
function messageOf(key) {
  if (refusals.has(key)) return refusals.get(key);
  const p = problem();
  return p.key === key && !isChanged(key) ? p.text : '';
}

function isShown(key) {
  const d = draft();
  return Object.hasOwn(saved, key) || Object.hasOwn(d.values, key) || d.added.has(key) || !!messageOf(key);
}

const isOn = (text) => ['yes', '1', 'true'].includes(text.trim().toLowerCase());

// ---- the panel ----
function edit(option, text, row) {
  draft().values[option.key] = text;
  refusals.delete(option.key);
  row.classList.toggle('changed', isChanged(option.key));
  row.classList.remove('invalid');
  for (const m of row.querySelectorAll('.msg')) m.remove();
  renderStatus();
}

function switchField(option, cell, row) {
  const box = make('input', { type: 'checkbox', id: `option-${option.key}`, title: option.help }, cell);
  box.checked = isOn(valueOf(option.key));
  // Back to its saved state is no change, whatever word the row had for it.
  const was = saved[option.key] ?? '';
  onUserAction(box, 'change', () => edit(option, box.checked ? (isOn(was) ? was : 'yes') : isOn(was) ? '' : was, row));
}

function choiceField(option, cell, row) {
  const select = make('select', { id: `option-${option.key}`, title: option.help }, cell);
  const current = valueOf(option.key);
  const words = ['', ...(option.choices || [])];
  if (!words.includes(current)) words.push(current); // shown as the row gives it
  for (const w of words) make('option', { value: w }, select, w || '(default)');
  select.value = current;
  onUserAction(select, 'change', () => edit(option, select.value, row));
}

function textField(option, cell, row) {
  const size = option.kind === 'whole' || option.kind === 'number' ? 8 : 28;
  const input = make('input', { id: `option-${option.key}`, size, placeholder: option.value, title: option.help }, cell);
  input.value = valueOf(option.key);
  onUserAction(input, 'input', () => edit(option, input.value, row));
}

function takeOut(option) {
  const d = draft();
  d.added.delete(option.key);
  refusals.delete(option.key);
  if (Object.hasOwn(saved, option.key)) d.values[option.key] = '';
  else delete d.values[option.key];
  renderOptions();
}

function renderRow(body, option) {
  const row = make('tr', { 'data-key': option.key }, body);
  const head = make('th', { title: `${option.flag}${option.value ? ' ' + option.value : ''}` }, row);
  make('label', { for: `option-${option.key}` }, head, option.key);
  const cell = make('td', {}, row);
  if (option.kind === 'switch') switchField(option, cell, row);
  else if (option.kind === 'choice') choiceField(option, cell, row);
  else textField(option, cell, row);
  const remove = make('button', { class: 'small', title: 'back to the default when saved' }, make('td', {}, row), 'remove');
  onUserAction(remove, 'click', () => takeOut(option));
  const help = make('td', { class: 'help' }, row);
  const message = messageOf(option.key);
  if (message) make('div', { class: 'msg' }, help, reasonAbout(option, message));
  make('div', {}, help, option.help);
  row.classList.toggle('invalid', !!message);
  row.classList.toggle('changed', isChanged(option.key));
}

// One table for the three groups, so that their fields line up.
function renderGroup(place, group) {
  const shown = table.filter((o) => groupOf(o) === group.id && isShown(o.key));
  const body = make('tbody', { 'data-group': group.id }, place);
  const title = make('th', { colspan: '4' }, make('tr', { class: 'group' }, body), `${group.title} `);
  make('span', { class: 'muted' }, title, shown.length ? `(${group.program})` : `(${group.program}): all as default`);
  for (const o of shown) renderRow(body, o);
}

function shortHelp(text) {
  return text.length > 70 ? `${text.slice(0, 68)}…` : text;
}

function renderAdder() {
  const select = clear($('options-add'));
  make('option', { value: '' }, select, 'add an option…');
  for (const group of groups) {
    const hidden = table.filter((o) => groupOf(o) === group.id && !isShown(o.key));
    if (!hidden.length) continue;
    const list = make('optgroup', { label: group.title }, select);
    for (const o of hidden) make('option', { value: o.key, title: o.help }, list, `${o.key}: ${shortHelp(o.help)}`);
  }
  select.value = '';
}

function renderStatus() {
  const set = Object.keys(saved).length;
  const changed = Object.keys(changes()).length;
  const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;
  $('options-status').textContent =
    `${set ? `${plural(set, 'option')} set` : 'no option set'}${changed ? `; ${plural(changed, 'change')} not saved` : ''}`;
  $('options-save').disabled = !changed;
  $('options-undo').disabled = !changed;
}

function renderOptions() {
  const survey = store.selectedSurvey();
  $('options-panel').hidden = !survey;
  if (!survey) return;
  $('options-survey').textContent = survey;
  const p = problem();
  $('options-problem').textContent = refusal || (p.text && !p.key ? `The file cannot be read: ${p.text}` : '');
  const place = clear($('options-table'));
  for (const group of groups) renderGroup(place, group);
  renderAdder();
  renderStatus();
}

function add(key) {
  if (!key) return;
  draft().added.add(key);
  const option = table.find((o) => o.key === key);
  // A switch is added to be turned on.
  if (option.kind === 'switch' && !valueOf(key)) draft().values[key] = 'yes';
  renderOptions();
  const field = $(`option-${key}`);
  if (field) field.focus();
}

// ---- the server ----
// The file of the selected survey cannot be read: say why, and where to give what it needs.
function tellProblem() {
  const p = problem();
  if (!p.text) return;
  const where = p.key ? `\nGive ${p.key} under Survey options on the Import screen; the file is read again when they are saved.` : '';
  showNotice(`${store.selectedSurvey()}: ${p.text}${where}`);
}

async function loadOptions() {
  const ticket = ++loadTicket;
  const survey = store.selectedSurvey();
  if (!table.length) table = (await request(() => getJson('/api/options'))) || [];
  let answer = {};
  let failure = '';
  if (survey) {
    try {
      answer = await getJson('/api/survey-options', { survey });
    } catch (e) {
      failure = e.message; // a row set by hand to a value the validator refuses
    }
  }
  if (ticket !== loadTicket) return;
  saved = answer;
  refusals = new Map();
  refusal = '';
  if (failure) noteRefusal(failure);
  renderOptions();
  tellProblem();
}

function noteRefusal(message) {
  const key = optionNamedIn(message);
  if (key) refusals.set(key, message);
  else refusal = message;
}

// Sends the options changed; true when there was nothing to send or the server took them.  A
// refusal changes nothing on the server and stays at the field it names.
export async function saveSurveyOptions() {
  const survey = store.selectedSurvey();
  const sent = changes();
  if (!survey || !Object.keys(sent).length) return true;
  let answer;
  try {
    answer = await sendJson('PUT', '/api/survey-options', { survey, options: sent });
  } catch (e) {
    refusals = new Map();
    refusal = '';
    noteRefusal(e.message);
    renderOptions();
    showNotice(`${survey}: the survey options were not saved (nothing changed): ${e.message}`);
    return false;
  }
  if (survey !== store.selectedSurvey()) return true;
  saved = answer;
  drafts.delete(survey);
  refusals = new Map();
  refusal = '';
  renderOptions();
  await store.reloadPreview();
  return true;
}

async function saveFromPanel() {
  if ((await saveSurveyOptions()) && !store.surveyProblem()) showNotice('Survey options saved; the file was read again.', 'ok');
}

function undo() {
  drafts.delete(store.selectedSurvey());
  refusals = new Map();
  refusal = '';
  renderOptions();
}

export function startSurveyOptions() {
  onUserAction($('options-add'), 'change', () => add($('options-add').value));
  onUserAction($('options-save'), 'click', saveFromPanel);
  onUserAction($('options-undo'), 'click', undo);
  store.subscribe('survey', loadOptions);
  store.subscribe('preview', () => {
    renderOptions();
    tellProblem();
  });
}

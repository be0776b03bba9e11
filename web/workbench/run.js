// The Run screen: starts a run of the selected survey (or a what-if), follows the run in progress
// through the server's events and, when it ends well, shows its results.

import { followRun, sendJson } from './api.js';
import { formatNumber } from './charts.js';
import { $, clear, make, numberClass } from './dom.js';
import { onUserAction, request } from './notice.js';
import * as store from './store.js';
import { saveIfValid, structureForm } from './structure.js';
import { saveSurveyOptions } from './survey-options.js';
import { isTabShown, showTab } from './tabs.js';

let liveColumns = null; // the columns of the finished-stations table, from the first station

export async function startRun(body) {
  if (!performance.getEntriesByName('run-clicked').length) performance.mark('run-clicked');
  const answer = await request(() => sendJson('POST', '/api/run', body));
  if (!answer) return;
  showTab('run');
  await store.setActivity(true, answer.run);
}

// The survey as it is, or, with drops left out, a what-if of all its stations without them.
async function runSurvey() {
  const survey = store.selectedSurvey();
  if (!survey) return;
  performance.clearMarks();
  performance.mark('run-clicked');
  // What is run is what the screens show: option changes not yet saved are saved first.
  if (!(await saveSurveyOptions()) || !(await saveIfValid())) return;
  if (!store.leftOutCount(survey)) return startRun({ run: survey });
  const whatif = { stations: [], left_out: store.leftOutOf(survey), structure: structureForm(), note: 'drops left out' };
  return startRun({ survey, whatif });
}

function describeRun() {
  const survey = store.selectedSurvey();
  const left = store.leftOutCount(survey);
  $('run-what').textContent = !survey ? 'Add a survey first.'
    : left ? `Runs survey ${survey} without its ${left} left-out drops, as a new what-if row of the manifest.`
    : `Runs survey ${survey} (its row of the manifest; unchanged inputs are not fitted again).`;
}

function showButtons() {
  const { running } = store.runActivity();
  $('run-button').disabled = running || !store.selectedSurvey();
  $('cancel-button').disabled = !running;
}

// ---- the run's events ----
function onStart(d) {
  store.setActivity(true, d.run);
  liveColumns = null;
  clear($('live-table'));
  clear($('run-messages'));
  $('progress-bar').style.width = '0%';
  $('progress-text').className = '';
  $('progress-text').textContent = `${d.run}: ${d.stations} stations, ${d.drops} drops`;
}

function onProgress(d) {
  const share = d.drops ? d.drops_done / d.drops : d.stations_done / Math.max(1, d.stations);
  $('progress-bar').style.width = `${(100 * Math.min(1, share)).toFixed(1)}%`;
  $('progress-text').textContent = `${d.stations_done} of ${d.stations} stations, ${d.drops_done} of ${d.drops} drops, ` +
    `${d.seconds.toFixed(1)} s, about ${Math.ceil(d.seconds_left)} s left`;
}

function isLiveColumn(key) {
  return key === 'station' || key === 'drops' || /^E\d_(norm_)?(MPa|ksi)$/.test(key) || key === 'average_rms_percent';
}

function onStation(d) {
  const t = $('live-table');
  if (!liveColumns) {
    liveColumns = Object.keys(d.row).filter(isLiveColumn);
    const tr = make('tr', {}, t);
    for (const k of liveColumns) make('th', {}, tr, k);
  }
  const tr = make('tr', { class: 'live-row' }, t);
  if (!performance.getEntriesByName('first-station').length) performance.mark('first-station');
  for (const k of liveColumns) make('td', { class: numberClass(d.row[k]) }, tr, formatNumber(d.row[k], 4));
}

function onMessage(d) {
  $('run-messages').textContent += d.line + '\n';
}

async function onEnd(d) {
  await store.setActivity(false, '');
  if (d.status === 'ok') $('progress-bar').style.width = '100%';
  const engine = d.engine_seconds ? ` (engine ${d.engine_seconds.toFixed(2)} s)` : '';
  $('progress-text').textContent = `${d.run}: ${d.status} after ${d.seconds.toFixed(2)} s${engine}` + (d.message ? `: ${d.message}` : '');
  $('progress-text').className = d.status === 'ok' ? 'ok' : 'error';
  if (!$('run-messages').textContent) $('run-messages').textContent = '(the engine said nothing)';
  await store.refreshProject();
  if (d.status !== 'ok') return;
  await store.selectRun(d.run);
  if (isTabShown('run')) showTab('results');
}

export function startRunScreen() {
  onUserAction($('run-button'), 'click', runSurvey);
  onUserAction($('cancel-button'), 'click', () => request(() => sendJson('POST', '/api/cancel', {})));
  for (const topic of ['project', 'survey', 'left-out']) store.subscribe(topic, describeRun);
  for (const topic of ['survey', 'activity']) store.subscribe(topic, showButtons);
  followRun(0, { start: onStart, progress: onProgress, station: onStation, message: onMessage, end: onEnd });
}

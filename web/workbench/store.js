// What the screens share, and nothing else: the project's listing, the selected survey (with its
// preview, or why its file cannot be read, and the drops left out of it), the selected run (with
// its results and the stations picked for a what-if) and the run in progress.  Screens read
// through the getters, change through the setters and hear of changes through
// subscribe(topic, listener):
//   'project'   the listing was read again          'activity'  a run started or ended
//   'survey'    another survey is selected          'left-out'  drops of a survey left out or taken back
//   'preview'   the same survey's file read again   'stations'  the stations picked for a what-if
//   'run'       another run (or the same, again)
// Listeners run one after the other and are awaited, so a 'run' listener finds the survey's
// preview and structure already loaded.
//
// A run's kind and the survey it belongs to come from the listing ("kind", "survey"), never from
// its name: a survey may well be called road.west.

import { getJson } from './api.js';
import { request, showError } from './notice.js';
import { prepareResults } from './results-data.js';

const listeners = new Map();
let listing = null;
let survey = { name: '', preview: null, problem: '' };
let run = { name: '', results: null };
let picked = { section: '', stations: new Set() };
let activity = null; // until the server has told
const leftOut = new Map(); // survey -> {station id -> [drop sequence numbers]}
let surveyTicket = 0;
let runTicket = 0;

export function subscribe(topic, listener) {
  if (!listeners.has(topic)) listeners.set(topic, []);
  listeners.get(topic).push(listener);
}

async function publish(topic) {
  for (const listener of listeners.get(topic) || []) {
    try {
      await listener();
    } catch (e) {
      showError(e);
    }
  }
}

// ---- the project's listing ----
export function project() {
  return listing;
}

export function runs() {
  return listing ? listing.runs : [];
}

function runNamed(name) {
  return runs().find((r) => r.name === name);
}

export function surveyOfRun(name) {
  const entry = runNamed(name);
  return entry ? entry.survey : '';
}

export function surveys() {
  return runs().filter((r) => r.kind === 'survey');
}

export function finishedRuns() {
  return runs().filter((r) => r.record);
}

export async function refreshProject() {
  const answer = await request(() => getJson('/api/project'));
  if (!answer) return;
  listing = answer;
  await publish('project');
  await setActivity(answer.state.running, answer.state.run);
}

// ---- the selected survey ----
export function selectedSurvey() {
  return survey.name;
}

export function surveyPreview() {
  return survey.preview;
}

// Why the selected survey's file cannot be read (the importer's words), or ''.  Most often an
// option the file needs (a CSV file's plate radius and offsets): the Survey options panel shows
// it at that option and tells the engineer.
export function surveyProblem() {
  return survey.problem;
}

async function readPreview(name) {
  if (!name) return { preview: null, problem: '' };
  try {
    return { preview: await getJson('/api/preview', { survey: name }), problem: '' };
  } catch (e) {
    return { preview: null, problem: e.message };
  }
}

async function loadSurvey(name) {
  const ticket = ++surveyTicket;
  const read = await readPreview(name);
  if (ticket !== surveyTicket) return false;
  survey = { name, ...read };
  await publish('survey');
  return true;
}

// The selected survey's file read again, after its options changed how it is read.
export async function reloadPreview() {
  const ticket = ++surveyTicket;
  const name = survey.name;
  const read = await readPreview(name);
  if (ticket !== surveyTicket) return;
  survey = { name, ...read };
  await publish('preview');
}

// The newest finished run of a survey: its own run when that went well, else its latest what-if.
function runToShow(name) {
  const ok = finishedRuns().filter((r) => r.survey === name && r.record.status === 'ok');
  const own = ok.find((r) => r.name === name);
  return own ? own.name : ok.length ? ok[ok.length - 1].name : '';
}

// Selecting a survey shows one of its runs on the Results screen (or none), never another's.
export async function selectSurvey(name) {
  if (name === survey.name) return;
  if (!(await loadSurvey(name))) return;
  if (surveyOfRun(run.name) !== name) await showRun(runToShow(name));
}

// ---- the selected run ----
export function selectedRun() {
  return run.name;
}

export function runResults() {
  return run.results;
}

async function showRun(name) {
  const ticket = ++runTicket;
  const raw = name ? await request(() => getJson('/api/results', { run: name })) : null;
  if (ticket !== runTicket) return;
  const preview = survey.preview;
  const results = raw ? prepareResults(raw, preview, !!preview && preview.survey === surveyOfRun(name)) : null;
  run = { name, results };
  picked = { section: '', stations: new Set() };
  await publish('run');
}

// Selecting a run selects the survey it belongs to.
export async function selectRun(name) {
  const parent = surveyOfRun(name);
  if (parent && parent !== survey.name && !(await loadSurvey(parent))) return;
  await showRun(name);
}

// ---- the stations picked for a what-if (of the selected run) ----
export function pickedStations() {
  return { section: picked.section, stations: new Set(picked.stations) };
}

export async function pickStations(stations, section = '') {
  picked = { section, stations: new Set(stations) };
  await publish('stations');
}

// ---- drops left out, per survey ----
export function leftOutOf(name) {
  return structuredClone(leftOut.get(name) || {});
}

export function leftOutCount(name) {
  return Object.values(leftOut.get(name) || {}).reduce((n, drops) => n + drops.length, 0);
}

export async function leaveOut(name, station, drops) {
  const all = leftOut.get(name) || {};
  all[station] = [...drops];
  leftOut.set(name, all);
  await publish('left-out');
}

// ---- the run in progress ----
export function runActivity() {
  return activity ? { ...activity } : { running: false, run: '' };
}

export async function setActivity(running, name) {
  if (activity && activity.running === running && activity.run === name) return;
  activity = { running, run: name };
  await publish('activity');
}

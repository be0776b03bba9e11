// The workbench page: import (with the survey's options), structure, run, results (with what-if
// and export) and compare over one project.  Each screen is its own module; what they share lives
// in store.js.

import { startCompare } from './compare.js';
import { $, fillSelect } from './dom.js';
import { startExport } from './export.js';
import { startImport } from './import.js';
import { onUserAction } from './notice.js';
import { startResults } from './results.js';
import { startRunScreen } from './run.js';
import * as store from './store.js';
import { startStructure } from './structure.js';
import { startSurveyOptions } from './survey-options.js';
import { wireTabs } from './tabs.js';
import { startWhatif } from './whatif.js';

// ---- the header: the project, the selected survey, the run in progress ----
function renderSurveyChoice() {
  const p = store.project();
  $('project-root').textContent = p ? p.root : '';
  const options = store.surveys().map((r) => ({ value: r.name, label: r.name }));
  fillSelect($('survey-select'), options, store.selectedSurvey());
}

function renderActivity() {
  const { running, run } = store.runActivity();
  $('run-state').textContent = running ? `running ${run}` : 'idle';
  $('run-state').classList.toggle('busy', running);
}

function startHeader() {
  onUserAction($('survey-select'), 'change', () => store.selectSurvey($('survey-select').value));
  store.subscribe('project', renderSurveyChoice);
  store.subscribe('survey', renderSurveyChoice);
  store.subscribe('activity', renderActivity);
}

// On opening: the newest run that went well, with its survey; else the first survey.
async function openProject() {
  await store.refreshProject();
  const done = store.finishedRuns().filter((r) => r.record.status === 'ok');
  if (done.length) await store.selectRun(done[done.length - 1].name);
  else if (store.surveys().length) await store.selectSurvey(store.surveys()[0].name);
}

async function start() {
  wireTabs();
  startHeader();
  startImport();
  startSurveyOptions();
  startStructure();
  startRunScreen();
  startResults();
  startWhatif();
  startExport();
  startCompare();
  await openProject();
}

start();

// The Export panel: the selected run's output files and the project's results database.

import { getJson } from './api.js';
import { $, clear, make } from './dom.js';
import { request } from './notice.js';
import * as store from './store.js';

function fileLink(list, run, f) {
  const li = make('li', {}, list);
  const a = make('a', { href: `/files/${encodeURIComponent(run)}/${encodeURIComponent(f.name)}` }, li, f.name);
  if (f.name === 'survey.html') a.setAttribute('target', '_blank');
  else a.setAttribute('download', f.name);
  make('span', { class: 'muted' }, li, ` ${f.bytes} bytes`);
}

async function renderExport() {
  const list = clear($('export-list'));
  const run = store.selectedRun();
  if (!run) return;
  const files = await request(() => getJson('/api/files', { run }));
  if (!files || run !== store.selectedRun()) return;
  for (const f of files) fileLink(list, run, f);
  const li = make('li', {}, list);
  make('a', { href: '/download/results.sqlite', download: 'results.sqlite' }, li, 'results.sqlite');
  make('span', { class: 'muted' }, li, ' the whole project\'s results database');
}

export function startExport() {
  store.subscribe('run', renderExport);
}

// The screens as tabs: one shown at a time; a screen may ask to hear when it is shown.

const shownListeners = new Map();

export function showTab(name) {
  for (const b of document.querySelectorAll('#tabs button')) b.classList.toggle('active', b.dataset.tab === name);
  for (const s of document.querySelectorAll('.tab')) s.hidden = s.id !== `tab-${name}`;
  for (const listener of shownListeners.get(name) || []) listener();
}

export function isTabShown(name) {
  return !document.getElementById(`tab-${name}`).hidden;
}

export function onTabShown(name, listener) {
  if (!shownListeners.has(name)) shownListeners.set(name, []);
  shownListeners.get(name).push(listener);
}

export function wireTabs() {
  for (const b of document.querySelectorAll('#tabs button')) b.addEventListener('click', () => showTab(b.dataset.tab));
}

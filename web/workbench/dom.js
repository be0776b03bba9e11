// Small helpers for building the page: every text goes in as a text node, never as markup.

export const $ = (id) => document.getElementById(id);

export function make(tag, attributes = {}, parent = null, content = null) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes)) {
    if (k === 'class') node.className = v;
    else node.setAttribute(k, v);
  }
  if (content !== null) node.textContent = content;
  if (parent) parent.appendChild(node);
  return node;
}

export function clear(node) {
  while (node.firstChild) node.removeChild(node.firstChild);
  return node;
}

// Replaces the options of a <select> and keeps its value when that value is still offered.
export function fillSelect(select, options, value = select.value) {
  clear(select);
  for (const { value: v, label } of options) make('option', { value: v }, select, label);
  if (options.some((o) => o.value === value)) select.value = value;
  return select;
}

// A table head of plain labels; returns the row.
export function headRow(table, labels) {
  const row = make('tr', {}, make('thead', {}, table));
  for (const label of labels) make('th', {}, row, label);
  return row;
}

export function numberClass(value) {
  return typeof value === 'number' ? 'num' : '';
}

export function deepCopy(value) {
  return value === null || value === undefined ? value : JSON.parse(JSON.stringify(value));
}

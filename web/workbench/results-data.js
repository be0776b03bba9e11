// Reading a run's results as the server sends them (/api/results): the layer columns, the sections'
// extents, the data-check flags per station and each station's place along the route.

import { formatNumber } from './charts.js';

// The normalised moduli when the run has them, else the mean moduli.
export function layerKeys(row) {
  const keys = Object.keys(row).filter((k) => /^E\d_norm_(MPa|ksi)$/.test(k));
  return keys.length ? keys : Object.keys(row).filter((k) => /^E\d_mean_(MPa|ksi)$/.test(k));
}

export function sectionBounds(section) {
  for (const u of ['m', 'ft', 'station'])
    if (section[`start_${u}`] !== undefined) return [section[`start_${u}`], section[`end_${u}`]];
  return [0, 0];
}

export function sectionRange(section) {
  const [a, b] = sectionBounds(section);
  return `${formatNumber(a, 6)} to ${formatNumber(b, 6)}, ${section.stations} stations`;
}

// Sections cut by survey order (no chainage in the survey) are drawn against the station number.
export function bySurveyOrder(results) {
  return results.sections.some((s) => s.start_station !== undefined);
}

function flagsOf(drops) {
  const byStation = new Map();
  for (const d of drops) {
    if (!d.flags) continue;
    if (!byStation.has(d.station)) byStation.set(d.station, new Set());
    for (const f of String(d.flags).split(';')) byStation.get(d.station).add(f);
  }
  return byStation;
}

export function stationFlagText(results, station) {
  return [...(results.flagsByStation.get(station.station) || [])].join(', ');
}

// A station's chainage: from the survey's preview when the results are of that survey (the
// results' station column is cut to ten characters), else the identifier read as a number,
// else the station's number in the survey.
export function chainageOf(preview, previewMatches) {
  const byId = new Map();
  if (preview && previewMatches) for (const s of preview.stations) byId.set(s.id.slice(0, 10).trimEnd(), s.chainage);
  return (row) => {
    if (byId.get(row.station) !== undefined) return byId.get(row.station);
    const n = Number(row.station);
    return Number.isFinite(n) ? n : row.station_no;
  };
}

// The results with the flags gathered per station and a position along the route per station.
export function prepareResults(raw, preview, previewMatches) {
  const pos = chainageOf(preview, previewMatches);
  const surveyOrder = bySurveyOrder(raw);
  const stations = raw.stations.map((s) => ({ ...s, position: surveyOrder ? s.station_no : pos(s) }));
  return { ...raw, stations, flagsByStation: flagsOf(raw.drops) };
}

export function sectionStations(results, sectionNumber) {
  const section = results.sections.find((x) => String(x.section) === String(sectionNumber));
  if (!section) return new Set();
  const [a, b] = sectionBounds(section);
  return new Set(results.stations.filter((x) => x.position >= a && x.position <= b).map((x) => x.station));
}

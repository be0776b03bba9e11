// Talking to the workbench's server: JSON requests, uploads, and the run's progress stream.  Every
// failure comes out as an ApiError carrying the server's own words (its {"error": message}), or
// status 0 when no answer came at all.

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

async function send(path, init) {
  try {
    return await fetch(path, { credentials: 'same-origin', ...init });
  } catch (e) {
    throw new ApiError(0, `the workbench server did not answer (${e.message}); is basinfit-workbench still running?`);
  }
}

async function answer(response) {
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : await response.text();
  if (!response.ok) {
    const message = typeof body === 'object' && body && body.error ? body.error : String(body).trim();
    throw new ApiError(response.status, message || `the server answered ${response.status} ${response.statusText}`);
  }
  return body;
}

export async function getJson(path, params = {}) {
  const query = new URLSearchParams(params).toString();
  return answer(await send(query ? `${path}?${query}` : path, {}));
}

export async function sendJson(method, path, body) {
  return answer(await send(path, { method, headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) }));
}

export async function upload(file) {
  const path = `/api/upload?name=${encodeURIComponent(file.name)}`;
  return answer(await send(path, { method: 'PUT', headers: { 'Content-Type': 'application/octet-stream' }, body: file }));
}

// The run's events from the server.  EventSource reconnects by itself and sends the id of the
// last event it saw, so a dropped connection misses nothing.
export function followRun(after, handlers) {
  const source = new EventSource(`/api/events?after=${after}`);
  for (const name of ['start', 'progress', 'station', 'message', 'end']) {
    source.addEventListener(name, (event) => {
      const data = JSON.parse(event.data);
      if (handlers[name]) handlers[name](data, Number(event.lastEventId));
    });
  }
  return source;
}

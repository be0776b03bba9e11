// Talking to the workbench's server: JSON requests, uploads, and the run's progress stream.

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

async function answer(response) {
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : await response.text();
  if (!response.ok) {
    const message = typeof body === 'object' && body && body.error ? body.error : String(body);
    throw new ApiError(response.status, message);
  }
  return body;
}

export async function getJson(path, params = {}) {
  const query = new URLSearchParams(params).toString();
  return answer(await fetch(query ? `${path}?${query}` : path, { credentials: 'same-origin' }));
}

export async function sendJson(method, path, body) {
  return answer(
    await fetch(path, {
      method,
      credentials: 'same-origin',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    }),
  );
}

export async function upload(file) {
  const response = await fetch(`/api/upload?name=${encodeURIComponent(file.name)}`, {
    method: 'PUT',
    credentials: 'same-origin',
    headers: { 'Content-Type': 'application/octet-stream' },
    body: file,
  });
  return answer(response);
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

// The one place the page tells the engineer that something failed (or went well).  A notice stays
// until the engineer's next action: requests made in the background never clear it, so an error
// is not wiped by the refresh that follows it.

import { $ } from './dom.js';

export function showNotice(message, kind = 'error') {
  const n = $('notice');
  n.textContent = message;
  n.className = kind;
  n.hidden = !message;
}

export function clearNotice() {
  showNotice('');
}

// A failure in words, with what it was about ("road.txt: the file ...") when that is known.
export function errorText(error, subject = '') {
  const message = error instanceof Error ? error.message : String(error);
  return subject ? `${subject}: ${message}` : message;
}

export function showError(error, subject = '') {
  showNotice(errorText(error, subject));
}

// Runs a request; a failure is shown and the answer is undefined.
export async function request(action, subject = '') {
  try {
    return await action();
  } catch (e) {
    showError(e, subject);
    return undefined;
  }
}

// An event handler for something the engineer did: the old notice goes, a failure shows.
function userAction(handler) {
  return async (event) => {
    clearNotice();
    try {
      await handler(event);
    } catch (e) {
      showError(e);
    }
  };
}

export function onUserAction(element, eventName, handler) {
  element.addEventListener(eventName, userAction(handler));
}

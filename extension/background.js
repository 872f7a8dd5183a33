// The service worker: one kept-open port to the native messaging host, started on the first call. Each
// call is sent with the origin the browser reports for the calling page; the host checks it against the
// list the bank's installer wrote. A missing, failing or killed host rejects every call in flight.
'use strict';

const HOST = 'com.kestrova.lumora';
const METHODS = new Set(['GetKeyCount', 'GetUKeySN', 'GetSN', 'GetAllCertCn', 'InitKey']);
// A real token may take a while to re-initialise; no answer at all within this is a hung host.
const CALL_TIMEOUT_MS = 30000;
// The host refuses frames above 1 MiB and then ends; a page's call has no reason to come near that.
const MAX_REQUEST_CHARS = 64 * 1024;

let port = null;
let nextId = 1;
const pending = new Map();  // id -> { sendResponse, timer }

function settle(id, answer) {
  const entry = pending.get(id);
  if (!entry) return;
  pending.delete(id);
  clearTimeout(entry.timer);
  entry.sendResponse(answer);
}

function connect() {
  const p = chrome.runtime.connectNative(HOST);
  p.onMessage.addListener((answer) => {
    if (!answer || !pending.has(answer.id)) return;  // an answer with id null comes before the port closes
    settle(answer.id, typeof answer.error === 'string' ? { error: 'Certificate Manager host: ' + answer.error }
                                                         : { result: answer.result });
  });
  p.onDisconnect.addListener(() => {
    const failure = chrome.runtime.lastError;
    const why = failure ? failure.message : 'the host closed the connection.';
    if (port === p) port = null;
    for (const id of [...pending.keys()]) settle(id, { error: 'Certificate Manager host: ' + why });
  });
  return p;
}

function pageOrigin(sender) {
  if (sender.origin) return sender.origin;
  try {
    return sender.url ? new URL(sender.url).origin : '';
  } catch (e) {
    return '';
  }
}

chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (!message || typeof message.method !== 'string' || !Array.isArray(message.params)) {
    sendResponse({ error: 'Certificate Manager extension: the call is malformed' });
    return false;
  }
  if (!METHODS.has(message.method)) {
    sendResponse({ error: 'Certificate Manager extension: unknown method ' + message.method });
    return false;
  }
  const id = nextId++;
  const request = { id, method: message.method, params: message.params, origin: pageOrigin(sender) };
  if (JSON.stringify(request).length > MAX_REQUEST_CHARS) {
    sendResponse({ error: 'Certificate Manager extension: the call is too long' });
    return false;
  }
  const timer = setTimeout(() => settle(id, { error: 'Certificate Manager host: no answer within 30 seconds' }),
                           CALL_TIMEOUT_MS);
  pending.set(id, { sendResponse, timer });
  try {
    if (!port) port = connect();
    port.postMessage(request);
  } catch (e) {
    port = null;
    settle(id, { error: 'Certificate Manager host: ' + e.message });
  }
  return true;  // the answer comes later
});

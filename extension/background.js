// The service worker. At start it connects to the native messaging host, which first sends the list of
// origins the bank's installer wrote; the relay content.js is registered for those pages alone, and once
// it confirms that its page's exact origin is listed, page.js's window.lumora is put into that page: no
// other page gets window.lumora or can tell that the extension is there. The port stays open
// and carries every call, with the origin the browser reports for the calling page; the host checks it
// against the list again. A missing, failing or killed host rejects every call in flight.
'use strict';

// lumoraPage, which runs in listed pages (Firefox loads it from the manifest's scripts).
if (typeof lumoraPage !== 'function' && typeof importScripts === 'function') importScripts('page.js');

const HOST = 'com.kestrova.lumora';
const METHODS = new Set(['GetKeyCount', 'GetUKeySN', 'GetSN', 'GetAllCertCn', 'InitKey']);
// A real token may take a while to re-initialise; no answer at all within this is a hung host.
const CALL_TIMEOUT_MS = 30000;
// From the moment the host says its question opened, InitKey waits for the user's answer, which the
// host gives up on after two minutes: this outlasts it.
const INIT_KEY_TIMEOUT_MS = 150000;
// The host refuses frames above 1 MiB and then ends; a page's call has no reason to come near that.
const MAX_REQUEST_CHARS = 64 * 1024;
// Calls of one tab that may wait for their answers at once; one tab cannot crowd out the others.
const MAX_WAITING_PER_TAB = 8;
const SCRIPT_PREFIX = 'lumora-';
const EXTENSION = 'Certificate Manager extension: ';
const HOST_SAYS = 'Certificate Manager host: ';

let port = null;
let nextId = 1;
const pending = new Map();  // id -> { settle(answer), timer, tab, method, asking, withdrawn }
// Ids in the order they were sent on the current port. The host answers in that order, except an
// InitKey whose question is open; an answer it could not tie to its request (id null) belongs to the
// oldest one that is not asking.
let sent = [];
const waiting = new Map();  // tab id -> calls waiting
let origins = [];           // as the host normalised them
let registered = null;      // the list the scripts are registered for
let listKnown;              // resolves once the host told the list, or could not
let listArrived;
listKnown = new Promise((resolve) => { listArrived = resolve; });

function settle(id, answer) {
  const entry = pending.get(id);
  if (!entry) return;
  pending.delete(id);
  clearTimeout(entry.timer);
  if (entry.tab !== undefined) {
    const n = (waiting.get(entry.tab) || 1) - 1;
    if (n > 0) waiting.set(entry.tab, n); else waiting.delete(entry.tab);
  }
  try {
    entry.settle(answer);
  } catch (e) {
    // The page went away meanwhile.
  }
}

// Chromium matches ports. Firefox takes a pattern with a port but then matches nothing, so there the
// pattern names the host alone (and Chromium's pattern for a default port matches every port), so
// content.js asks whether the exact page is listed before anything is defined or posted.
const PATTERNS_HOLD_PORTS = typeof chrome.runtime.getBrowserInfo !== 'function';

function patterns(list) {
  const out = new Set();
  for (const o of list) {
    try {
      const u = new URL(o);
      out.add(`${u.protocol}//${PATTERNS_HOLD_PORTS ? u.host : u.hostname}/*`);
    } catch (e) {
      console.warn(`${EXTENSION}the host listed ${JSON.stringify(o)}, which is no origin`);
    }
  }
  return [...out];
}

// Each origin gets scripts of its own: a pattern the browser refuses costs only that origin, not the list.
async function register(list) {
  const key = JSON.stringify(list);
  if (key === registered) return;
  registered = null;
  const old = await chrome.scripting.getRegisteredContentScripts().catch(() => []);
  const ours = old.map((s) => s.id).filter((id) => id.startsWith(SCRIPT_PREFIX));
  if (ours.length > 0) await chrome.scripting.unregisterContentScripts({ ids: ours }).catch(() => {});
  const usable = [];
  for (const [i, match] of patterns(list).entries()) {
    const scripts = [
      { id: `${SCRIPT_PREFIX}relay-${i}`, matches: [match], js: ['content.js'], runAt: 'document_start', persistAcrossSessions: false },
    ];
    try {
      await chrome.scripting.registerContentScripts(scripts);
      usable.push(match);
    } catch (e) {
      console.warn(`${EXTENSION}no page scripts for ${match}: ${e.message}`);
    }
  }
  if (usable.length > 0) await offerToOpenTabs(usable);
  registered = key;
}

// Registered scripts reach pages loaded from now on; a listed page that was already open (restored at
// start, loaded before the host answered) gets them now, in its top frame only.
async function offerToOpenTabs(matches) {
  const tabs = await chrome.tabs.query({ url: matches }).catch(() => []);
  for (const tab of tabs) {
    const target = { tabId: tab.id };
    chrome.scripting.executeScript({ target, files: ['content.js'] }).catch(() => {});
  }
}

function adopt(list) {
  origins = Array.isArray(list) ? list.filter((o) => typeof o === 'string' && /^[a-z][a-z0-9+.-]*:\/\/[^/]+$/.test(o)) : [];
  listArrived();
  register(origins).catch(() => {});
}

// No answer in time. An InitKey is not reported failed while its question could still erase: it is
// withdrawn first, and fails when the host answers that (or when even that brings no answer).
function timedOut(id, timeoutMs) {
  const entry = pending.get(id);
  if (!entry) return;
  if (entry.method === 'InitKey' && !entry.withdrawn && port) {
    withdraw(id);
    entry.timer = setTimeout(() => timedOut(id, CALL_TIMEOUT_MS), CALL_TIMEOUT_MS);
    return;
  }
  settle(id, { error: `${HOST_SAYS}no answer within ${timeoutMs / 1000} seconds` });
}

function withdraw(id) {
  const entry = pending.get(id);
  if (!entry || entry.withdrawn || !port) return;
  entry.withdrawn = true;
  send({ method: 'Withdraw', params: [id] }, () => {}, CALL_TIMEOUT_MS);
}

// A page that went away (closed, reloaded, navigated elsewhere) takes its questions with it.
function withdrawTab(tab) {
  for (const [id, entry] of pending) {
    if (entry.tab === tab && entry.method === 'InitKey') withdraw(id);
  }
}

function send(request, onAnswer, timeoutMs, tab) {
  const id = nextId++;
  const timer = setTimeout(() => timedOut(id, timeoutMs), timeoutMs);
  pending.set(id, { settle: onAnswer, timer, tab, method: request.method, asking: false, withdrawn: false });
  if (tab !== undefined) waiting.set(tab, (waiting.get(tab) || 0) + 1);
  try {
    if (!port) port = connect();
    port.postMessage({ id, ...request });
    sent.push(id);
  } catch (e) {
    port = null;
    settle(id, { error: HOST_SAYS + e.message });
  }
}

function connect() {
  const p = chrome.runtime.connectNative(HOST);
  sent = [];
  p.onMessage.addListener((answer) => {
    if (answer && answer.event === 'origins') {
      adopt(answer.origins);
      return;
    }
    if (answer && answer.event === 'asking') {
      const entry = pending.get(answer.id);
      if (entry && !entry.withdrawn) {
        entry.asking = true;
        clearTimeout(entry.timer);
        entry.timer = setTimeout(() => timedOut(answer.id, INIT_KEY_TIMEOUT_MS), INIT_KEY_TIMEOUT_MS);
      }
      return;
    }
    let at = answer && answer.id !== null ? sent.indexOf(answer.id) : -1;
    if (at < 0) at = sent.findIndex((i) => !(pending.get(i) || {}).asking);
    if (at < 0) return;
    const [id] = sent.splice(at, 1);
    if (!answer || answer.id !== id) {
      settle(id, { error: HOST_SAYS + (answer && typeof answer.error === 'string' ? answer.error : 'the answer belongs to no call') });
    } else if (typeof answer.error === 'string') {
      settle(id, { error: HOST_SAYS + answer.error });
    } else {
      settle(id, { result: answer.result });
    }
  });
  p.onDisconnect.addListener(() => {
    // Firefox names the reason on the port, Chromium in lastError.
    const failure = p.error || chrome.runtime.lastError;
    const why = failure ? failure.message : 'the host closed the connection.';
    if (port === p) port = null;
    const lost = sent;
    sent = [];
    for (const id of lost) settle(id, { error: HOST_SAYS + why });
    // A host that never told a list (not installed, cannot start) lists nobody; a killed one's list stays.
    if (origins.length === 0) adopt([]);
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

// Only the top frame of a listed page, as the browser names it.
function listedSender(sender) {
  return sender.frameId === 0 && sender.tab !== undefined && origins.includes(pageOrigin(sender));
}

// Lone surrogates cannot travel as UTF-8: refused here, with a reason, rather than garbled on the way.
function requestText(request) {
  let broken = false;
  const text = JSON.stringify(request, (key, value) => {
    if (typeof value === 'string' && typeof value.isWellFormed === 'function' && !value.isWellFormed()) broken = true;
    return value;
  });
  return broken ? null : text;
}

chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (message && message.hello === true) {
    listKnown.then(() => sendResponse({ listed: listedSender(sender) }));
    return true;
  }
  // content.js relays from now on: window.lumora may appear in the page, in its own world, for its origin.
  if (message && message.define === true) {
    if (!listedSender(sender)) return false;
    chrome.scripting.executeScript({
      target: { tabId: sender.tab.id, frameIds: [0] },
      world: 'MAIN',
      func: lumoraPage,
      args: [pageOrigin(sender)],
    }).catch(() => {}).then(() => sendResponse({}));
    return true;
  }
  if (!listedSender(sender)) {
    sendResponse({ error: EXTENSION + 'this page is not one the Certificate Manager installation lists' });
    return false;
  }
  if (!message || typeof message.method !== 'string' || !Array.isArray(message.params)) {
    sendResponse({ error: EXTENSION + 'the call is malformed' });
    return false;
  }
  if (!METHODS.has(message.method)) {
    sendResponse({ error: EXTENSION + 'unknown method ' + message.method });
    return false;
  }
  const request = { method: message.method, params: message.params, origin: pageOrigin(sender) };
  const text = requestText(request);
  if (text === null) {
    sendResponse({ error: EXTENSION + 'a text parameter is not valid Unicode (a lone surrogate)' });
    return false;
  }
  if (text.length > MAX_REQUEST_CHARS) {
    sendResponse({ error: EXTENSION + 'the call is too long' });
    return false;
  }
  if ((waiting.get(sender.tab.id) || 0) >= MAX_WAITING_PER_TAB) {
    sendResponse({ error: `${EXTENSION}this page already has ${MAX_WAITING_PER_TAB} calls waiting for their answers` });
    return false;
  }
  const answer = (reply) => {
    if (typeof reply.error === 'string' && reply.error.includes('origin is not trusted')) refreshList();
    sendResponse(reply);
  };
  send(request, answer, CALL_TIMEOUT_MS, sender.tab.id);
  return true;  // the answer comes later
});

// content.js keeps a port open for as long as its page lives.
chrome.runtime.onConnect.addListener((life) => {
  if (life.name !== 'lumora-life' || !life.sender || !life.sender.tab) return;
  const tab = life.sender.tab.id;
  life.onDisconnect.addListener(() => withdrawTab(tab));
});
chrome.tabs.onRemoved.addListener((tab) => withdrawTab(tab));

// A refusal of a page we think listed means the installer changed the list: ask for it again.
function refreshList() {
  send({ method: 'ListOrigins', params: [] }, (answer) => {
    if (Array.isArray(answer.result)) adopt(answer.result);
  }, CALL_TIMEOUT_MS);
}

try {
  port = connect();
} catch (e) {
  adopt([]);
}

// Runs in the page's own world: defines window.lumora, whose methods return Promises, and carries each
// call to the extension's content script with window.postMessage. The content script adds nothing the
// page could forge: the page's origin is taken by the browser, not from this message.
(() => {
  'use strict';
  if (window.lumora) return;
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';
  const pending = new Map();
  let nextId = 1;

  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const data = event.data;
    if (!data || data.channel !== RESPONSE || !pending.has(data.id)) return;
    const { resolve, reject } = pending.get(data.id);
    pending.delete(data.id);
    if (typeof data.error === 'string') reject(new Error(data.error));
    else resolve(data.result);
  });

  // The arguments travel as given, so a call with the wrong number or type of them fails in the host the
  // way it fails in the plug-in, instead of being quietly repaired here.
  function call(method, params) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      window.postMessage({ channel: REQUEST, id, method, params }, window.location.origin === 'null' ? '*' : window.location.origin);
    });
  }

  const api = Object.freeze({
    GetKeyCount: (...args) => call('GetKeyCount', args),
    GetUKeySN: (...args) => call('GetUKeySN', args),
    GetSN: (...args) => call('GetSN', args),
    GetAllCertCn: (...args) => call('GetAllCertCn', args),
    InitKey: (...args) => call('InitKey', args),
  });
  Object.defineProperty(window, 'lumora', { value: api, enumerable: true });
  // The script arrives after the page's own first scripts may have run; they wait for this event.
  window.dispatchEvent(new Event('lumora-ready'));
})();

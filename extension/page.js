// Runs in the page's own world, beside content.js: once content.js says this page is listed, defines
// window.lumora, whose methods return Promises, and carries each call to content.js with
// window.postMessage. Nothing here can widen what the page may do: the service worker takes the page's
// origin from the browser, and the host checks it again.
(() => {
  'use strict';
  if (window.lumora) return;
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';
  const HELLO = 'lumora-hello';
  const LISTED = 'lumora-listed';
  const pending = new Map();
  let nextId = 1;

  // The arguments travel as given, so a call with the wrong number or type of them fails in the host the
  // way it fails in the plug-in, instead of being quietly repaired here.
  function call(method, params) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      window.postMessage({ channel: REQUEST, id, method, params }, window.location.origin);
    });
  }

  function define() {
    if (window.lumora) return;
    const api = Object.freeze({
      GetKeyCount: (...args) => call('GetKeyCount', args),
      GetUKeySN: (...args) => call('GetUKeySN', args),
      GetSN: (...args) => call('GetSN', args),
      GetAllCertCn: (...args) => call('GetAllCertCn', args),
      InitKey: (...args) => call('InitKey', args),
    });
    Object.defineProperty(window, 'lumora', { value: api, enumerable: true });
    // The object arrives after the page's own first scripts may have run; they wait for this event.
    window.dispatchEvent(new Event('lumora-ready'));
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const data = event.data;
    if (!data || typeof data !== 'object') return;
    if (data.channel === LISTED) {
      define();
      return;
    }
    if (data.channel !== RESPONSE || !pending.has(data.id)) return;
    const { resolve, reject } = pending.get(data.id);
    pending.delete(data.id);
    if (typeof data.error === 'string') reject(new Error(data.error));
    else resolve(data.result);
  });
  // content.js may have answered before this script ran: ask again.
  window.postMessage({ channel: HELLO }, window.location.origin);
})();

// The page's window.lumora, whose methods return Promises and carry each call to content.js with
// window.postMessage. The service worker runs this in the page's own world only after content.js heard
// that this very page (scheme, host and port) is listed: until then nothing of the extension is visible
// to the page, and nothing the page posts can bring it. Nothing here can widen what the page may do: the
// service worker takes the page's origin from the browser, and the host checks it again.
// Loaded into the service worker as a declaration; it runs only in the page, injected with its origin.
// eslint-disable-next-line no-unused-vars
function lumoraPage(expectedOrigin) {
  'use strict';
  // The tab may have gone elsewhere between the check and this; another page gets nothing.
  if (window.location.origin !== expectedOrigin || window.lumora) return;
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';
  const pending = new Map();
  let nextId = 1;

  // The arguments travel as given, so a call with the wrong number or type of them fails in the host the
  // way it fails in the plug-in, instead of being quietly repaired here.
  function call(method, params) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      window.postMessage({ channel: REQUEST, id, method, params }, expectedOrigin);
    });
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const data = event.data;
    if (!data || typeof data !== 'object' || data.channel !== RESPONSE || !pending.has(data.id)) return;
    const { resolve, reject } = pending.get(data.id);
    pending.delete(data.id);
    if (typeof data.error === 'string') reject(new Error(data.error));
    else resolve(data.result);
  });

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

// The content script: lives in an isolated world beside the page, in the top frame of pages whose host the
// bank lists. It asks the service worker whether this very page (scheme, host and port) is listed, tells
// page.js to define window.lumora only then, and relays the page's calls and the answers.
(() => {
  'use strict';
  // Injected into an open tab and registered for the next page: one relay per page.
  if (globalThis.lumoraRelay) return;
  globalThis.lumoraRelay = true;
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';
  const HELLO = 'lumora-hello';    // page.js has started
  const LISTED = 'lumora-listed';  // this page may call: page.js defines window.lumora
  let listed = false;

  const post = (message) => window.postMessage(message, window.location.origin);

  try {
    chrome.runtime.sendMessage({ hello: true }, (answer) => {
      if (chrome.runtime.lastError || !answer || answer.listed !== true) return;
      listed = true;
      post({ channel: LISTED });
    });
  } catch (e) {
    return;  // the extension was updated or removed while the page stayed
  }

  window.addEventListener('message', (event) => {
    // Only the page's own window: a frame inside it speaks for another document.
    if (event.source !== window || !listed) return;
    const data = event.data;
    if (!data || typeof data !== 'object') return;
    if (data.channel === HELLO) {
      post({ channel: LISTED });
      return;
    }
    if (data.channel !== REQUEST || typeof data.id !== 'number') return;
    const reply = (answer) => post({ channel: RESPONSE, id: data.id, ...answer });
    if (typeof data.method !== 'string' || !Array.isArray(data.params)) {
      reply({ error: 'Certificate Manager: the call is malformed' });
      return;
    }
    try {
      // Only the method and its parameters: the page's origin is the browser's to tell.
      chrome.runtime.sendMessage({ method: data.method, params: data.params }, (answer) => {
        const failure = chrome.runtime.lastError;
        if (failure || !answer) reply({ error: 'Certificate Manager extension: ' + (failure ? failure.message : 'no answer') });
        else reply(answer);
      });
    } catch (e) {
      reply({ error: 'Certificate Manager extension: ' + e.message });
    }
  });
})();

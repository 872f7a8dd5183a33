// The content script: lives in an isolated world beside the page, in the top frame of pages whose host the
// bank lists. It asks the service worker whether this very page (scheme, host and port) is listed; only
// then does it relay the page's calls, and ask for window.lumora in the page. Before that it posts
// nothing and answers nothing, so an unlisted page on a listed host cannot tell the extension is there.
(() => {
  'use strict';
  // Injected into an open tab and registered for the next page: one relay per page.
  if (globalThis.lumoraRelay) return;
  globalThis.lumoraRelay = true;
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';
  let listed = false;

  const post = (message) => window.postMessage(message, window.location.origin);

  window.addEventListener('message', (event) => {
    // Only the page's own window: a frame inside it speaks for another document.
    if (event.source !== window || !listed) return;
    const data = event.data;
    if (!data || typeof data !== 'object') return;
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

  try {
    chrome.runtime.sendMessage({ hello: true }, (answer) => {
      if (chrome.runtime.lastError || !answer || answer.listed !== true) return;
      listed = true;
      // Its end tells the service worker that this page is gone, and its questions with it.
      chrome.runtime.connect({ name: 'lumora-life' });
      chrome.runtime.sendMessage({ define: true }, () => void chrome.runtime.lastError);
    });
  } catch (e) {
    // The extension was updated or removed while the page stayed.
  }
})();

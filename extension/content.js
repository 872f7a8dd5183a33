// The content script: lives in an isolated world beside the page. It puts page.js into the page, and
// relays the page's calls to the service worker and the answers back.
(() => {
  'use strict';
  const REQUEST = 'lumora-request';
  const RESPONSE = 'lumora-response';

  const script = document.createElement('script');
  script.src = chrome.runtime.getURL('page.js');
  script.onload = () => script.remove();
  (document.head || document.documentElement).append(script);

  window.addEventListener('message', (event) => {
    // Only the page's own window: a frame inside it speaks for another origin.
    if (event.source !== window) return;
    const data = event.data;
    if (!data || data.channel !== REQUEST || typeof data.id !== 'number') return;
    const reply = (answer) => {
      const target = window.location.origin === 'null' ? '*' : window.location.origin;
      window.postMessage({ channel: RESPONSE, id: data.id, ...answer }, target);
    };
    if (typeof data.method !== 'string' || !Array.isArray(data.params)) {
      reply({ error: 'Certificate Manager: the call is malformed' });
      return;
    }
    try {
      chrome.runtime.sendMessage({ method: data.method, params: data.params }, (answer) => {
        const failure = chrome.runtime.lastError;
        if (failure || !answer) reply({ error: 'Certificate Manager extension: ' + (failure ? failure.message : 'no answer') });
        else reply(answer);
      });
    } catch (e) {
      // The extension was updated or removed while the page stayed open.
      reply({ error: 'Certificate Manager extension: ' + e.message });
    }
  });
})();

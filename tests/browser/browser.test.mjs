// The bank page's window.lumora in Debian's Chromium or Firefox ESR (LUMORA_BROWSER): through the
// extension, its background and lumora_host.exe under Wine, against tokens made with tokenctl. Runs in
// order on one browser start; the last case takes the host away.
import assert from 'node:assert/strict';
import { X509Certificate } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { BROWSER, call, Rig, windowsPath } from './rig.mjs';

const SERIAL = 'ABCDEF123456';
const LIMIT_PER_TAB = 8;
// A call answers within this, a failing host included; it is generous for a loaded machine.
const PROMPTLY_MS = 5000;

// The certificate's serial number as its DER holds it (leading zero bytes kept), which is how the token
// queries write it.
function derSerialHex(der) {
  let at = 0;
  const header = () => {
    const tag = der[at++];
    let len = der[at++];
    if (len & 0x80) {
      let n = len & 0x7f;
      len = 0;
      while (n--) len = len * 256 + der[at++];
    }
    return { tag, len };
  };
  header();  // Certificate
  header();  // TBSCertificate
  if (der[at] === 0xa0) {
    const version = header();  // [0] version
    at += version.len;
  }
  const { tag, len } = header();
  assert.equal(tag, 0x02, 'the serial is an INTEGER');
  return der.subarray(at, at + len).toString('hex');
}

// The entries as the token queries join them: each cut to its limit, whole entries up to 999 characters.
function joined(entries) {
  let text = '';
  for (const e of entries) {
    const next = text ? `${text},${e}` : e;
    if (next.length > 999) break;
    text = next;
  }
  return text;
}

describe(`window.lumora in ${BROWSER} through the native messaging host`, () => {
  const rig = new Rig();
  let listed;
  let unlisted;
  let listedToo;
  const certFile = (name) => windowsPath(path.join(rig.bin, 'testcerts', name));
  const certBytes = (name) => fs.readFileSync(path.join(rig.bin, 'testcerts', name));
  const tokenList = () => rig.tokenctl('list');

  before(async () => {
    [listed, unlisted, listedToo] = await rig.serve(3);
    // Entries the host drops cost only themselves: every listed page below still gets window.lumora.
    // http://127.0.0.1 is nphost's page, and lists the pages' host on its default port: in Chromium its
    // scripts then reach every port of it, the unlisted page's too.
    rig.setTrustedOrigins(['htps://typo.example', listed, 'http://bank.example:99999', listedToo, 'http://[::1',
                           'https://bank.example', 'http://127.0.0.1']);
    rig.installHost();
    await rig.launch(listed);
  });
  after(() => rig.close());

  test('key count with 0, 1 and 2 tokens, and the serial number of the one token', async () => {
    const page = await rig.open(listed);
    const rows = [
      { slots: [], count: 0, serial: '' },
      { slots: [1], count: 1, serial: `${SERIAL}    ` },
      { slots: [1, 4], count: 2, serial: '' },
    ];
    for (const row of rows) {
      rig.tokenctl('reset');
      for (const slot of row.slots) rig.tokenctl('insert', String(slot), '--serial', slot === 1 ? SERIAL : '0123456789ABCDEF');
      assert.deepEqual(await call(page, 'GetKeyCount'), { result: row.count }, `${row.count} tokens`);
      assert.deepEqual(await call(page, 'GetUKeySN'), { result: row.serial }, `${row.count} tokens`);
    }
    await page.close();
  });

  test('names and serial numbers of 1 and 50 certificates, the same as the plug-in answers', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    const rows = [
      { count: 1, files: ['sign.der'] },
      // The first row's certificate stays; 49 more make 50.
      { count: 50, files: ['sign.der', ...Array.from({ length: 49 }, (_, i) => `bulk/bulk${String(i + 1).padStart(3, '0')}.der`)] },
    ];
    let added = 0;
    for (const row of rows) {
      for (; added < row.count; ++added) rig.tokenctl('add-cert', '1', certFile(row.files[added]), '--key', 'none');
      const certs = row.files.map((f) => certBytes(f));
      const names = joined(certs.map((der) => /CN=([^\n]*)/.exec(new X509Certificate(der).subject)[1].slice(0, 99)));
      const serials = joined(certs.map((der) => derSerialHex(der).slice(0, 98)));
      const page = await rig.open(listed);
      assert.deepEqual(await call(page, 'GetAllCertCn'), { result: names }, `${row.count} certificates`);
      assert.deepEqual(await call(page, 'GetSN'), { result: serials }, `${row.count} certificates`);
      if (row.count === 1) {
        for (const method of ['GetAllCertCn', 'GetSN']) {
          const plugin = rig.run('nphost.exe', [windowsPath(path.join(rig.bin, 'npLumora.dll')), method]);
          assert.equal(plugin.stdout.trim(), `string ${JSON.stringify(method === 'GetSN' ? serials : names)}`, method);
        }
        // The page runs every query itself when not told otherwise; a person can look at its answers.
        const shown = await rig.open(listed, { manual: false });
        await shown.waitFor(() => document.getElementById('GetSN').textContent !== '', null);
        const dir = path.join(rig.build, 'screenshots');
        fs.mkdirSync(dir, { recursive: true });
        await shown.screenshot(path.join(dir, `browser_test_page_${BROWSER}.png`));
        assert.equal(await shown.evaluate(() => document.getElementById('GetAllCertCn').textContent), JSON.stringify(names));
        await shown.close();
      }
      await page.close();
    }
  });

  test('calls with the wrong arguments fail as in the plug-in, at once, and an empty serial touches nothing', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    const page = await rig.open(listed);
    const rows = [
      { method: 'GetKeyCount', args: [1], error: /GetKeyCount takes no parameters/ },
      { method: 'InitKey', args: [], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: [4099], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: [SERIAL, SERIAL], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: ['\ud800'], error: /not valid Unicode/ },
      { method: 'InitKey', args: [''], result: 4101 },
      { method: 'InitKey', args: [SERIAL.toLowerCase()], result: 4099 },
    ];
    for (const row of rows) {
      const started = Date.now();
      const answer = await call(page, row.method, ...row.args);
      if (row.error) assert.match(answer.error ?? '', row.error, JSON.stringify(row));
      else assert.deepEqual(answer, { result: row.result }, JSON.stringify(row));
      assert.ok(Date.now() - started < PROMPTLY_MS, JSON.stringify(row));
    }
    assert.match(tokenList(), /label="Opalix Token"/);
    await page.close();
  });

  test('an unlisted page, on another port of a listed host, has no window.lumora, hears nothing, and what it posts reaches nothing', async () => {
    const hosts = rig.hostPids().length;
    const page = await rig.visit(`${unlisted}/?manual`);
    await page.evaluate(() => {
      for (let id = 1; id <= 20; ++id) {
        window.postMessage({ channel: 'lumora-request', id, method: 'GetKeyCount', params: [] }, '*');
      }
    });
    // A listed page opened after it is ready; by then the unlisted one would have been told it may call.
    const ready = await rig.open(listed);
    assert.equal(await page.evaluate(() => typeof window.lumora), 'undefined');
    // A forged "you are listed" brings nothing either.
    await page.evaluate(() => window.postMessage({ channel: 'lumora-listed' }, '*'));
    await (await rig.open(listed)).close();
    assert.equal(await page.evaluate(() => typeof window.lumora), 'undefined');
    assert.deepEqual(await page.evaluate(() => window.lumoraHeard.filter((m) => !['lumora-request', 'lumora-listed'].includes(m && m.channel))), []);
    assert.equal(await page.evaluate(() => document.getElementById('status').textContent),
                 'Waiting for the Certificate Manager extension…');
    assert.equal(rig.hostPids().length, hosts, 'no host was started');
    await ready.close();
    await page.close();
  });

  test('a page\'s own origin and id fields change nothing: the browser names the page', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    const page = await rig.open(listed);
    const answers = await page.evaluate(() => new Promise((resolve) => {
      const seen = [];
      window.addEventListener('message', (event) => {
        if (event.data && event.data.channel === 'lumora-response') seen.push(event.data);
        if (seen.some((a) => a.id === 3)) resolve(seen);
      });
      const post = (m) => window.postMessage({ channel: 'lumora-request', method: 'GetKeyCount', params: [], ...m }, '*');
      post({ id: 'one', origin: 'https://bank.example' });  // not a call: ids are numbers
      post({ id: 2, origin: 'http://elsewhere.example' });
      post({ id: 3, origin: null, method: 'GetUKeySN' });
    }));
    assert.deepEqual(answers.map((a) => [a.id, a.result ?? a.error]), [[2, 1], [3, `${SERIAL}    `]]);
    await page.close();
  });

  test('frames: only the top of a listed page gets window.lumora, and no frame can call through it', async () => {
    const probe = () => ({ lumora: typeof window.lumora, origin: window.location.origin });
    const rows = [
      { what: 'a listed page framing an unlisted one', top: listed, src: `${unlisted}/?manual`, topHas: true },
      { what: 'an unlisted page framing a listed one', top: unlisted, src: `${listed}/?manual`, topHas: false },
      { what: 'a listed page framing about:blank', top: listed, src: 'about:blank', topHas: true },
      { what: 'a listed page framing a data: page', top: listed, src: 'data:text/html,<p>data', topHas: true },
      { what: 'a listed page framing itself, sandboxed', top: listed, src: `${listed}/?manual`, sandbox: true, topHas: true },
    ];
    for (const row of rows) {
      const page = await rig.visit(`${row.top}/frame?src=${encodeURIComponent(row.src)}${row.sandbox ? '&sandbox' : ''}`);
      if (row.topHas) await page.waitFor(() => window.lumora !== undefined, null);
      else await (await rig.open(listed)).close();  // by then the unlisted top would have been told
      const frames = page.frames();
      assert.equal(frames.length, 1, row.what);
      const inFrame = await frames[0].evaluate(probe);
      assert.equal(inFrame.lumora, 'undefined', `${row.what}: the frame (${inFrame.origin})`);
      assert.equal(await page.evaluate(() => typeof window.lumora), row.topHas ? 'object' : 'undefined', row.what);
      if (row.topHas) {
        // The frame posts a call to its parent; the parent's next own call is answered, the frame's never.
        await frames[0].evaluate(() => window.parent.postMessage(
          { channel: 'lumora-request', id: 1000, method: 'GetKeyCount', params: [] }, '*'));
        const ids = await page.evaluate(async () => {
          const seen = [];
          window.addEventListener('message', (e) => { if (e.data && e.data.channel === 'lumora-response') seen.push(e.data.id); });
          await window.lumora.GetKeyCount();
          return seen;
        });
        assert.ok(!ids.includes(1000), `${row.what}: ${JSON.stringify(ids)}`);
      }
      await page.close();
    }
  });

  // Also two listed tabs at once, each getting its own answers.
  test(`a tab may have ${LIMIT_PER_TAB} calls waiting; a flooding tab fails at once while others are answered in time`, async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    for (let i = 1; i <= 50; ++i) rig.tokenctl('add-cert', '1', certFile(`bulk/bulk${String(i).padStart(3, '0')}.der`), '--key', 'none');
    const flood = await rig.open(listed);
    const other = await rig.open(listedToo);
    const stranger = await rig.visit(`${unlisted}/?manual`);
    const flooding = flood.evaluate(async (n) => {
      const started = performance.now();
      const calls = Array.from({ length: n }, () => window.lumora.GetAllCertCn().then(
        (names) => ({ ok: true, names: names.split(',').length }),
        (e) => ({ ok: false, why: e.message, ms: performance.now() - started })));
      return Promise.all(calls);
    }, 30);
    const strangerFlood = stranger.evaluate(() => {
      for (let id = 1; id <= 2000; ++id) window.postMessage({ channel: 'lumora-request', id, method: 'GetAllCertCn', params: [] }, '*');
    });
    // The other tab's calls, one after the other, each answered in time and with its own answer.
    const times = await other.evaluate(async () => {
      const out = [];
      for (let i = 0; i < 5; ++i) {
        const started = performance.now();
        const [count, serial] = await Promise.all([window.lumora.GetKeyCount(), window.lumora.GetUKeySN()]);
        out.push({ ms: performance.now() - started, count, serial });
      }
      return out;
    });
    const outcomes = await flooding;
    await strangerFlood;
    const refused = outcomes.filter((o) => !o.ok);
    // A slot is free again once an answer came, so more than the limit may succeed over the whole flood.
    const answered = outcomes.filter((o) => o.ok);
    assert.ok(answered.length >= LIMIT_PER_TAB && refused.length >= 10, `${answered.length} answered, ${refused.length} refused`);
    for (const a of answered) assert.equal(a.names, 50);
    for (const r of refused) {
      assert.match(r.why, new RegExp(`already has ${LIMIT_PER_TAB} calls waiting`));
      assert.ok(r.ms < 1000, `refused after ${r.ms} ms`);
    }
    for (const t of times) {
      assert.deepEqual([t.count, t.serial], [1, `${SERIAL}    `]);
      assert.ok(t.ms < PROMPTLY_MS, `answered after ${t.ms} ms`);
    }
    for (const tab of [flood, other, stranger]) await tab.close();
  });

  test('a tab closed while its question is open takes the question with it, and nothing is erased', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL, '--label', 'Bank Token');
    const page = await rig.open(listed);
    await page.evaluate((serial) => { window.lumora.InitKey(serial).catch(() => {}); }, SERIAL);
    await rig.untilQuestionShows();
    await page.close();
    const gone = await rig.runAsync('host_erase_answer.exe', ['gone', '20000']);
    assert.equal(gone.status, 0, `the question went with its tab (${gone.status} ${gone.stderr})`);
    assert.match(tokenList(), /label="Bank Token"/);
  });

  test('InitKey asks the user, one question at a time, while other tabs are answered; a cancel keeps the token and the page off for a while, a confirmation erases it', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL, '--label', 'Bank Token', '--pin', '135790');
    rig.tokenctl('add-cert', '1', certFile('sign.der'));
    const other = await rig.open(listed);
    for (const [answer, origin] of [['cancel', listedToo], ['erase', listed]]) {
      const page = answer === 'cancel' ? await rig.open(origin) : other;
      let user = answer === 'erase' ? rig.runAsync('host_erase_answer.exe', [answer, '30000']) : null;
      const asking = call(page, 'InitKey', SERIAL);
      if (answer === 'cancel') {
        await rig.untilQuestionShows();
        // While the question is open: another tab's reads are answered, and its InitKey refused at once.
        for (const [method, result] of [['GetKeyCount', 1], ['InitKey', 4099]]) {
          const started = Date.now();
          assert.deepEqual(await call(other, method, ...(method === 'InitKey' ? [SERIAL] : [])), { result }, method);
          assert.ok(Date.now() - started < PROMPTLY_MS, `${method} answered after ${Date.now() - started} ms`);
        }
        user = rig.runAsync('host_erase_answer.exe', [answer, '30000']);
      }
      const result = await asking;
      const seen = await user;
      assert.equal(seen.status, 0, `${answer}: the question was shown (${seen.stderr})`);
      const question = JSON.parse(seen.stdout);
      assert.equal(question.request,
                   `The page ${origin} asks to re-initialise the token "Bank Token" (serial number ${SERIAL}).`);
      assert.match(question.warning, /Every certificate and key on the token will be erased/);
      assert.doesNotMatch(question.erase, /&/, 'no mnemonic on the Erase button');
      assert.equal(question.defaultButton, 'cancel');
      assert.equal(question.topmost, true);
      const state = tokenList();
      if (answer === 'cancel') {
        assert.deepEqual(result, { result: 4099 });
        assert.match(state, /label="Bank Token"/);
        assert.match(state, /class=certificate/);
        assert.equal(rig.run('host_pin_check.exe', ['1', '135790']).status, 0, 'the PIN is unchanged');
        // The page whose question was cancelled is refused at once, without a question.
        const started = Date.now();
        assert.deepEqual(await call(page, 'InitKey', SERIAL), { result: 4099 });
        assert.ok(Date.now() - started < PROMPTLY_MS);
        await page.close();
      } else {
        assert.deepEqual(result, { result: 0 });
        assert.doesNotMatch(state, /label="Bank Token"/);
        assert.doesNotMatch(state, /class=/);
        assert.equal(rig.run('host_pin_check.exe', ['1', '246802']).status, 0, 'the default PIN opens it');
      }
    }
    await other.close();
  });

  test('a host killed while calls are in flight rejects them all within seconds, and the next call starts it again', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    for (let i = 1; i <= 50; ++i) rig.tokenctl('add-cert', '1', certFile(`bulk/bulk${String(i).padStart(3, '0')}.der`), '--key', 'none');
    const page = await rig.open(listed);
    // Calls enough for some host work; the first answer shows the host is busy with the rest.
    await page.evaluate(async (n) => {
      window.inFlight = Array.from({ length: n }, () => window.lumora.GetAllCertCn());
      await Promise.race(window.inFlight);
    }, LIMIT_PER_TAB);
    const pid = rig.killHost();
    const killed = Date.now();
    const outcomes = await page.evaluate(async () =>
      (await Promise.allSettled(window.inFlight)).map((o) => (o.status === 'fulfilled' ? 'ok' : o.reason.message)));
    assert.ok(Date.now() - killed < PROMPTLY_MS, `settled ${Date.now() - killed} ms after the kill`);
    // The browser names a dead host by what it noticed first: the exit, or a failed write of a queued call.
    for (const why of outcomes.filter((o) => o !== 'ok')) {
      assert.match(why, /Native host has exited|Error when communicating with the native messaging host|host closed the connection/);
    }
    // A call made before the browser told the extension of the exit still goes to the dead host and fails
    // at once; the next one starts a new host.
    let answer;
    for (let i = 0; i < 3 && !('result' in (answer ?? {})); ++i) answer = await call(page, 'GetKeyCount');
    assert.deepEqual(answer, { result: 1 });
    assert.notEqual(rig.hostPids().at(-1), pid, 'a new host answered');
    await page.close();
  });

  test('a host that is gone rejects the next call at once, with the browser\'s reason', async () => {
    const page = await rig.open(listed);
    rig.uninstallHost();
    rig.killHost();
    await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 0)));
    let answer;
    // The kill may not have reached the browser yet: the first call may still die with the old host.
    for (let i = 0; i < 3; ++i) {
      const started = Date.now();
      answer = await call(page, 'GetKeyCount');
      assert.ok(Date.now() - started < PROMPTLY_MS);
      if (/not found|No such native application/.test(answer.error ?? '')) break;
    }
    assert.match(answer.error ?? '', /native messaging host not found|No such native application/);
    await page.close();
  });
});

// The bank page's window.lumora in Debian's Chromium: through the extension, its service worker and
// lumora_host.exe under Wine, against tokens made with tokenctl. Runs in order on one browser: the host is
// installed only after the first case, which needs it absent.
import assert from 'node:assert/strict';
import { X509Certificate } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { call, Rig, windowsPath } from './rig.mjs';

const SERIAL = 'ABCDEF123456';
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

describe('window.lumora through the native messaging host', () => {
  const rig = new Rig();
  let listed;
  let unlisted;
  const certFile = (name) => windowsPath(path.join(rig.bin, 'testcerts', name));
  const certBytes = (name) => fs.readFileSync(path.join(rig.bin, 'testcerts', name));
  const tokenList = () => rig.tokenctl('list');

  before(async () => {
    [listed, unlisted] = await rig.serve(2);
    rig.setTrustedOrigins([listed, 'https://bank.example']);
    await rig.launch();
  });
  after(() => rig.close());

  test('a host that is not installed rejects every call at once, with the browser\'s reason', async () => {
    const page = await rig.open(listed);
    for (const method of ['GetKeyCount', 'GetUKeySN', 'GetAllCertCn']) {
      const started = Date.now();
      const answer = await call(page, method);
      assert.match(answer.error ?? '', /native messaging host not found/, method);
      assert.ok(Date.now() - started < PROMPTLY_MS, method);
    }
    await page.close();
    rig.installHost();
  });

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
      for (const method of ['GetAllCertCn', 'GetSN']) {
        const plugin = rig.run('nphost.exe', [windowsPath(path.join(rig.bin, 'npLumora.dll')), method]);
        assert.equal(plugin.stdout.trim(), `string ${JSON.stringify(method === 'GetSN' ? serials : names)}`, method);
      }
      if (row.count === 1) {
        // The page runs every query itself when not told otherwise; a person can look at its answers.
        const shown = await rig.open(listed, { manual: false });
        await shown.waitForFunction(() => document.getElementById('GetSN').textContent !== '');
        const dir = path.join(rig.build, 'screenshots');
        fs.mkdirSync(dir, { recursive: true });
        await shown.screenshot({ path: path.join(dir, 'browser_test_page.png'), fullPage: true });
        assert.equal(await shown.textContent('#GetAllCertCn'), JSON.stringify(names));
        await shown.close();
      }
      await page.close();
    }
  });

  test('calls with the wrong arguments fail as in the plug-in, and an empty serial touches nothing', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    const page = await rig.open(listed);
    const rows = [
      { method: 'GetKeyCount', args: [1], error: /GetKeyCount takes no parameters/ },
      { method: 'InitKey', args: [], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: [4099], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: [SERIAL, SERIAL], error: /InitKey takes one text parameter/ },
      { method: 'InitKey', args: [''], result: 4101 },
      { method: 'InitKey', args: [SERIAL.toLowerCase()], result: 4099 },
    ];
    for (const row of rows) {
      const answer = await call(page, row.method, ...row.args);
      if (row.error) assert.match(answer.error ?? '', row.error, JSON.stringify(row));
      else assert.deepEqual(answer, { result: row.result }, JSON.stringify(row));
    }
    assert.match(tokenList(), /label="Opalix Token"/);
    await page.close();
  });

  test('InitKey from a page whose origin is not listed is refused and leaves the token as it was', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL, '--label', 'Bank Token', '--pin', '135790');
    rig.tokenctl('add-cert', '1', certFile('sign.der'));
    const page = await rig.open(unlisted);
    for (const method of ['InitKey', 'GetKeyCount']) {
      const answer = await call(page, method, ...(method === 'InitKey' ? [SERIAL] : []));
      assert.match(answer.error ?? '', /origin is not trusted/, method);
      assert.ok(answer.error.includes(unlisted), answer.error);
    }
    const state = tokenList();
    assert.match(state, /label="Bank Token"/);
    assert.match(state, /class=certificate/);
    assert.equal(rig.run('host_pin_check.exe', ['1', '135790']).status, 0, 'the PIN is unchanged');
    await page.close();
  });

  test('InitKey from a listed page re-initialises the token: label and PIN reset, objects gone', async () => {
    const page = await rig.open(listed);
    assert.deepEqual(await call(page, 'GetAllCertCn'), { result: 'Alice Signer' });
    assert.deepEqual(await call(page, 'InitKey', SERIAL), { result: 0 });
    const state = tokenList();
    assert.doesNotMatch(state, /label="Bank Token"/);
    assert.doesNotMatch(state, /class=/);
    assert.equal(rig.run('host_pin_check.exe', ['1', '246802']).status, 0, 'the default PIN opens it');
    assert.equal(rig.run('host_pin_check.exe', ['1', '135790']).status, 1, 'the old PIN does not');
    assert.deepEqual(await call(page, 'GetAllCertCn'), { result: '' });
    await page.close();
  });

  test('a host killed while calls are in flight rejects them all within seconds, and the next call starts it again', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1', '--serial', SERIAL);
    for (let i = 1; i <= 50; ++i) rig.tokenctl('add-cert', '1', certFile(`bulk/bulk${String(i).padStart(3, '0')}.der`), '--key', 'none');
    const page = await rig.open(listed);
    // Calls enough for several seconds of host work; the first answer shows the host is busy with the rest.
    await page.evaluate(async () => {
      window.inFlight = Array.from({ length: 80 }, () => window.lumora.GetAllCertCn());
      await Promise.race(window.inFlight);
    });
    const pid = rig.hostPids().at(-1);
    process.kill(pid, 'SIGKILL');
    const killed = Date.now();
    const outcomes = await page.evaluate(async () =>
      (await Promise.allSettled(window.inFlight)).map((o) => (o.status === 'fulfilled' ? 'ok' : o.reason.message)));
    assert.ok(Date.now() - killed < PROMPTLY_MS, `settled ${Date.now() - killed} ms after the kill`);
    const rejected = outcomes.filter((o) => o !== 'ok');
    assert.ok(rejected.length > 0, 'some calls were still in flight');
    // The browser names a dead host by what it noticed first: the exit, or a failed write of a queued call.
    for (const why of rejected) assert.match(why, /Native host has exited|Error when communicating with the native messaging host/);
    assert.deepEqual(await call(page, 'GetKeyCount'), { result: 1 });
    assert.notEqual(rig.hostPids().at(-1), pid, 'a new host answered');
    await page.close();
  });
});

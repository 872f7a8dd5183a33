// The extension as the package delivers it, with no step by hand: package.sh builds the x64 package and the
// store uploads, pointed at a server of this test on 127.0.0.1; the browser's policy file (run.sh names it
// and removes it on every exit) holds what the package writes to the registry for EXTENSIONS=force.
// Chromium installs the Chromium upload, packed as a CRX3 with a key made here, from its update manifest;
// Firefox ESR installs the unsigned XPI. A listed page then counts the tokens.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { BROWSER, CHROMIUM, call, extensionId, FIREFOX_EXTENSION_ID, Rig, sourceDir } from './rig.mjs';

const policyFile = process.env.LUMORA_POLICY_FILE;
const VERSION = '1.0.15';  // the package's: any three fields

// Runs a Linux program; its output, or a failure naming it.
function run(file, args) {
  const r = spawnSync(file, args, { encoding: 'utf8', timeout: 120000 });
  if (r.status !== 0) throw new Error(`${path.basename(file)} ${args.join(' ')}: ${r.status ?? r.signal}\n${r.stderr}${r.stdout}`);
  return r.stdout;
}

// The values the package writes under `key` (a key of its Registry table), by name, formatted text resolved.
function registryValues(msi, key) {
  const values = {};
  for (const row of run('msiinfo', ['export', msi, 'Registry']).split(/\r?\n/).slice(3)) {
    const [, , rowKey, name, value] = row.split('\t');
    if (rowKey === key) values[name] = value.replaceAll('[\\{]', '{').replaceAll('[\\}]', '}');
  }
  return values;
}

// A CRX3 of the folder, packed by Chromium with a new key; answers the file and the extension's ID.
function packCrx(dir) {
  const { privateKey, publicKey } = crypto.generateKeyPairSync('rsa', { modulusLength: 2048 });
  const pem = `${dir}.pem`;
  fs.writeFileSync(pem, privateKey.export({ type: 'pkcs8', format: 'pem' }));
  run(CHROMIUM, ['--headless', '--no-sandbox', `--user-data-dir=${dir}.profile`, `--pack-extension=${dir}`,
                 `--pack-extension-key=${pem}`]);
  return { crx: `${dir}.crx`, id: extensionId(publicKey.export({ type: 'spki', format: 'der' })) };
}

describe(`the extension in ${BROWSER} by the package's policy`, () => {
  const rig = new Rig(BROWSER, { policy: true });
  const served = {};  // path -> [content type, file]
  const fetched = [];
  let base;
  let listed;

  before(async () => {
    const server = http.createServer((req, res) => {
      fetched.push(req.url.split('?')[0]);
      const [type, file] = served[req.url.split('?')[0]] ?? [];
      if (!file) return res.writeHead(404).end();
      res.writeHead(200, { 'content-type': type }).end(fs.readFileSync(file));
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    rig.servers.push(server);
    base = `http://127.0.0.1:${server.address().port}`;

    // The package names the Chromium ID, which is the test key's, known once the upload is packed: for
    // Chromium, a first run of package.sh gives the upload.
    const out = path.join(rig.root, 'dist');
    const pack = (...args) => run(path.join(sourceDir, 'scripts', 'package.sh'),
                                  ['--arch', 'x64', '--tree', rig.build, '--out', out, '--version', VERSION, ...args]);
    const urls = ['--firefox-id', FIREFOX_EXTENSION_ID, '--firefox-install-url', `${base}/lumora.xpi`];
    if (BROWSER === 'chromium') {
      pack();
      const dir = path.join(rig.root, 'crx');
      run('python3', ['-m', 'zipfile', '-e', path.join(out, `extension-chromium-${VERSION}.zip`), dir]);
      const { crx, id: packed } = packCrx(dir);
      const { version } = JSON.parse(fs.readFileSync(path.join(dir, 'manifest.json'), 'utf8'));
      fs.writeFileSync(path.join(rig.root, 'updates.xml'), [
        "<?xml version='1.0' encoding='UTF-8'?>",
        "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>",
        `  <app appid='${packed}'><updatecheck codebase='${base}/lumora.crx' version='${version}'/></app>`,
        '</gupdate>', ''].join('\n'));
      served['/updates.xml'] = ['text/xml', path.join(rig.root, 'updates.xml')];
      served['/lumora.crx'] = ['application/x-chrome-extension', crx];
      rig.chromiumId = packed;
      urls.push('--chrome-id', packed, '--chrome-update-url', `${base}/updates.xml`);
    }
    pack(...urls);
    served['/lumora.xpi'] = ['application/x-xpinstall', path.join(out, `extension-firefox-${VERSION}.xpi`)];
    const msi = path.join(out, `CertificateManager-${VERSION}-x64.msi`);
    const policy = BROWSER === 'chromium'
      ? { ExtensionInstallForcelist: Object.values(registryValues(msi, 'SOFTWARE\\Policies\\Google\\Chrome\\ExtensionInstallForcelist')) }
      : { policies: { ExtensionSettings: JSON.parse(registryValues(msi, 'SOFTWARE\\Policies\\Mozilla\\Firefox').ExtensionSettings) } };
    fs.writeFileSync(policyFile, JSON.stringify(policy, null, 2));

    [listed] = await rig.serve(1);
    rig.setTrustedOrigins([listed]);
    rig.installHost();
    await rig.start();
  });
  after(() => rig.close());

  test('a listed page gets window.lumora and the token count', async () => {
    rig.tokenctl('reset');
    rig.tokenctl('insert', '1');
    rig.tokenctl('insert', '4', '--serial', '0123456789ABCDEF');
    // The browser fetches and installs the extension after it starts, and a page loaded before that never
    // gets it: a new page each time, until one does (the host's first start also takes seconds).
    const deadline = Date.now() + 90000;
    let page;
    while (!page) {
      page = await rig.open(listed, { timeout: 5000 }).catch((e) => {
        if (Date.now() > deadline) throw e;
        return null;
      });
    }
    assert.deepEqual(await call(page, 'GetKeyCount'), { result: 2 });
    assert.ok(fetched.includes(BROWSER === 'chromium' ? '/lumora.crx' : '/lumora.xpi'), fetched.join(' '));
    await page.close();
  });
});

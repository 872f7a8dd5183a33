// The test bench of the browser tests: Debian's Chromium with the extension loaded in a profile of its own,
// the host manifest in that profile pointing at a script that runs lumora_host.exe under Wine, a token
// state folder shared with tokenctl.exe, the installed list of trusted origins, and the test page served
// on 127.0.0.1 from two ports (two origins: one to list, one not to).
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = path.resolve(here, '../..');
export const extensionDir = path.join(sourceDir, 'extension');
export const HOST_NAME = 'com.kestrova.lumora';
export const CHROMIUM = '/usr/bin/chromium';
const WINE = '/usr/lib/wine/wine64';
const INSTALL_KEY = 'HKLM\\SOFTWARE\\Kestrova\\Brindlemark_Lumora';

// Without these Chromium keeps trying the network, which this machine closes, many connections at a time.
const QUIET_FLAGS = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync'];

export function buildDir() {
  const dir = process.env.VD_BUILD_DIR;
  if (!dir || !fs.existsSync(path.join(dir, 'bin', 'lumora_host.exe'))) {
    throw new Error('VD_BUILD_DIR must name a build tree with bin/lumora_host.exe');
  }
  return dir;
}

// What keeps the browser tests from running here, or null.
export function missingPrerequisite() {
  if (!fs.existsSync(CHROMIUM)) return `${CHROMIUM} is not installed (Debian package chromium)`;
  if (!fs.existsSync(path.join(here, 'node_modules', 'playwright-core'))) return 'run npm ci in tests/browser';
  if (!fs.existsSync(WINE)) return `${WINE} is not installed`;
  return null;
}

// Chromium's ID of an unpacked extension: the SHA-256 of its public key, first 16 bytes, a-p per half-byte.
export function extensionId() {
  const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, 'manifest.json'), 'utf8'));
  const digest = crypto.createHash('sha256').update(Buffer.from(manifest.key, 'base64')).digest('hex');
  return [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join('');
}

export function windowsPath(linuxPath) { return 'Z:' + linuxPath.replaceAll('/', '\\'); }

export class Rig {
  constructor() {
    this.build = buildDir();
    this.bin = path.join(this.build, 'bin');
    this.prefix = process.env.WINEPREFIX || path.join(this.build, 'wineprefix');
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'lumora-browser-'));
    this.tokens = path.join(this.root, 'tokens');
    this.profile = path.join(this.root, 'profile');
    this.pidFile = path.join(this.root, 'host.pids');
    fs.mkdirSync(this.tokens);
    fs.mkdirSync(this.profile);
    this.servers = [];
    this.context = null;
  }

  wineEnv() {
    return { ...process.env, WINEPREFIX: this.prefix, WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=',
             SIMTOKEN_DIR: windowsPath(this.tokens) };
  }

  // Runs a Windows program (of the build tree unless `exe` is a path); answers { status, stdout, stderr }.
  // Output goes through files, not pipes: a Wine helper that the first program of a prefix starts inherits
  // its handles and lives on, and a pipe would be waited on until the time-out.
  run(exe, args, timeout = 60000) {
    const file = exe.includes('/') || exe === 'reg.exe' ? exe : path.join(this.bin, exe);
    const out = path.join(this.root, 'run.out');
    const err = path.join(this.root, 'run.err');
    const fds = [fs.openSync(out, 'w'), fs.openSync(err, 'w')];
    let r;
    try {
      r = spawnSync(WINE, [file, ...args], { env: this.wineEnv(), stdio: ['ignore', fds[0], fds[1]], timeout });
    } finally {
      fds.forEach((fd) => fs.closeSync(fd));
    }
    return { status: r.status, stdout: fs.readFileSync(out, 'latin1'), stderr: fs.readFileSync(err, 'latin1') };
  }

  tokenctl(...args) {
    const r = this.run('tokenctl.exe', args);
    if (r.status !== 0) throw new Error(`tokenctl ${args.join(' ')}: ${r.stderr}`);
    return r.stdout;
  }

  // The list the bank's installer writes; null removes it.
  setTrustedOrigins(origins) {
    const args = origins === null
      ? ['delete', INSTALL_KEY, '/v', 'TrustedOrigins', '/f']
      : ['add', INSTALL_KEY, '/v', 'TrustedOrigins', '/t', 'REG_MULTI_SZ', '/d', origins.join('\\0'), '/f'];
    const r = this.run('reg.exe', args);
    if (origins !== null && r.status !== 0) throw new Error('reg add failed: ' + r.stderr);
  }

  // Serves extension/test-page on `count` ports of 127.0.0.1; answers their origins.
  async serve(count) {
    const pageDir = path.join(extensionDir, 'test-page');
    const origins = [];
    for (let i = 0; i < count; ++i) {
      const server = http.createServer((req, res) => {
        const name = new URL(req.url, 'http://x').pathname === '/' ? 'index.html' : null;
        if (!name) {
          res.writeHead(404).end();
          return;
        }
        res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
        res.end(fs.readFileSync(path.join(pageDir, name)));
      });
      await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
      this.servers.push(server);
      origins.push(`http://127.0.0.1:${server.address().port}`);
    }
    return origins;
  }

  // The host manifest in the profile, naming a script that starts the Windows host under Wine. Each start
  // appends its process id to pidFile (exec keeps the id), so a test can kill the host it started.
  installHost() {
    const script = path.join(this.root, 'lumora-host.sh');
    const env = this.wineEnv();
    const quote = (s) => `'${s.replaceAll("'", "'\\''")}'`;
    fs.writeFileSync(script, [
      '#!/bin/sh',
      `echo $$ >> ${quote(this.pidFile)}`,
      `export WINEPREFIX=${quote(env.WINEPREFIX)} WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='`,
      `export SIMTOKEN_DIR=${quote(env.SIMTOKEN_DIR)}`,
      `exec ${WINE} ${quote(path.join(this.bin, 'lumora_host.exe'))} "$@"`,
      '',
    ].join('\n'), { mode: 0o755 });
    const dir = path.join(this.profile, 'NativeMessagingHosts');
    fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(dir, `${HOST_NAME}.json`), JSON.stringify({
      name: HOST_NAME,
      description: 'Certificate Manager token queries (test)',
      path: script,
      type: 'stdio',
      allowed_origins: [`chrome-extension://${extensionId()}/`],
    }, null, 2));
  }

  hostPids() {
    if (!fs.existsSync(this.pidFile)) return [];
    return fs.readFileSync(this.pidFile, 'utf8').split('\n').filter(Boolean).map(Number);
  }

  async launch() {
    const { chromium } = await import('playwright-core');
    this.context = await chromium.launchPersistentContext(this.profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: [`--disable-extensions-except=${extensionDir}`, `--load-extension=${extensionDir}`, ...QUIET_FLAGS],
    });
    return this.context;
  }

  // A page of `origin` whose window.lumora is there.
  async open(origin, { manual = true } = {}) {
    const page = await this.context.newPage();
    await page.goto(origin + (manual ? '/?manual' : '/'));
    await page.waitForFunction(() => window.lumora !== undefined, null, { timeout: 10000 });
    return page;
  }

  async close() {
    if (this.context) await this.context.close().catch(() => {});
    for (const s of this.servers) s.close();
    this.setTrustedOrigins(null);
    fs.rmSync(this.root, { recursive: true, force: true });
    // Chromium writes these even with a profile of its own.
    fs.rmSync(path.join(os.homedir(), '.config', 'chromium', 'Crash Reports'), { recursive: true, force: true });
  }
}

// One call on the page: { result } or { error } with the rejection's message.
export function call(page, method, ...args) {
  return page.evaluate(async ([m, a]) => {
    try {
      return { result: await window.lumora[m](...a) };
    } catch (e) {
      return { error: e.message };
    }
  }, [method, args]);
}

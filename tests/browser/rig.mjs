// The test bench of the browser tests: Debian's Chromium (Playwright) or Firefox ESR (Puppeteer over
// WebDriver BiDi) with the extension in a profile of its own, the host manifest where that browser looks
// for it, pointing at a script that runs lumora_host.exe under Wine, a token state folder shared with
// tokenctl.exe, the installed list of trusted origins, and the test pages served on 127.0.0.1 from several
// ports (origins to list and not to).
import { spawn, spawnSync } from 'node:child_process';
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
export const FIREFOX = '/usr/bin/firefox-esr';
export const FIREFOX_EXTENSION_ID = 'lumora@kestrova.example';
// LUMORA_BROWSER picks the browser: chromium (the default) or firefox.
export const BROWSER = process.env.LUMORA_BROWSER === 'firefox' ? 'firefox' : 'chromium';
const WINE = '/usr/lib/wine/wine64';
const INSTALL_KEY = 'HKLM\\SOFTWARE\\Kestrova\\Brindlemark_Lumora';

// Without these Chromium keeps trying the network, which this machine closes, many connections at a time.
const QUIET_FLAGS = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync'];
// What keeps Chromium from installing an extension that policy forces: Playwright's defaults, and ours.
const NO_POLICY_INSTALL = ['--disable-extensions', '--disable-background-networking', '--disable-component-update'];

export function buildDir() {
  const dir = process.env.VD_BUILD_DIR;
  if (!dir || !fs.existsSync(path.join(dir, 'bin', 'lumora_host.exe'))) {
    throw new Error('VD_BUILD_DIR must name a build tree with bin/lumora_host.exe');
  }
  return dir;
}

// What keeps the browser tests from running here, or null.
export function missingPrerequisite(browser = BROWSER) {
  if (browser === 'chromium' && !fs.existsSync(CHROMIUM)) return `${CHROMIUM} is not installed (Debian package chromium)`;
  if (browser === 'firefox' && !fs.existsSync(FIREFOX)) return `${FIREFOX} is not installed (Debian package firefox-esr)`;
  const driver = browser === 'firefox' ? 'puppeteer-core' : 'playwright-core';
  if (!fs.existsSync(path.join(here, 'node_modules', driver))) return 'run npm ci in tests/browser';
  if (!fs.existsSync(WINE)) return `${WINE} is not installed`;
  return null;
}

// Chromium's ID of an unpacked extension: the SHA-256 of its public key, first 16 bytes, a-p per half-byte.
// Of the packed extension it is the same, of the key it was packed with (`publicKey`, DER).
export function extensionId(publicKey = null) {
  const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, 'manifest.json'), 'utf8'));
  const digest = crypto.createHash('sha256').update(publicKey ?? Buffer.from(manifest.key, 'base64')).digest('hex');
  return [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join('');
}

export function windowsPath(linuxPath) { return 'Z:' + linuxPath.replaceAll('/', '\\'); }

// A test page of the served folder, or one made for the request: /frame?src=URL[&sandbox] frames src.
function pageFor(url) {
  const u = new URL(url, 'http://x');
  if (u.pathname === '/') return fs.readFileSync(path.join(extensionDir, 'test-page', 'index.html'));
  if (u.pathname === '/frame') {
    const src = (u.searchParams.get('src') || 'about:blank').replaceAll('"', '&quot;');
    const sandbox = u.searchParams.has('sandbox') ? ' sandbox="allow-scripts"' : '';
    return `<!doctype html><title>frame</title><iframe id="f" src="${src}"${sandbox}></iframe>`;
  }
  return null;
}

// One page of the browser, the same to the tests whichever driver runs it.
class Tab {
  constructor(page, driver) {
    this.page = page;
    this.driver = driver;
  }
  evaluate(fn, arg) { return this.page.evaluate(fn, arg); }
  waitFor(fn, arg, timeout = 10000) {
    return this.driver === 'playwright' ? this.page.waitForFunction(fn, arg, { timeout })
                                        : this.page.waitForFunction(fn, { timeout }, arg);
  }
  // The frames below the top one, each with evaluate().
  frames() { return this.page.frames().filter((f) => f !== this.page.mainFrame()); }
  screenshot(file) { return this.page.screenshot({ path: file, fullPage: true }); }
  close() { return this.page.close(); }
}

export class Rig {
  // With `policy`, the browser starts without the extension: policy installs it.
  constructor(browser = BROWSER, { policy = false } = {}) {
    this.browser = browser;
    this.policy = policy;
    this.chromiumId = extensionId();  // whose pages the host manifest allows in Chromium
    this.build = buildDir();
    this.bin = path.join(this.build, 'bin');
    this.prefix = process.env.WINEPREFIX || path.join(this.build, 'wineprefix');
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'lumora-browser-'));
    this.tokens = path.join(this.root, 'tokens');
    this.profile = path.join(this.root, 'profile');
    this.home = path.join(this.root, 'home');  // Firefox's HOME: it reads the host manifest from there
    this.pidFile = path.join(this.root, 'host.pids');
    fs.mkdirSync(this.tokens);
    fs.mkdirSync(this.profile);
    fs.mkdirSync(this.home);
    this.servers = [];
    this.context = null;
    this.firefox = null;
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
    // A loaded Wine now and then fails a new process while its DLLs initialise (STATUS_DLL_INIT_FAILED,
    // which leaves 0x42 as the exit status), before any of the program ran: run it again then.
    const dllInitFailed = 0x42;
    let result;
    for (let attempt = 0; attempt < 3; ++attempt) {
      const fds = [fs.openSync(out, 'w'), fs.openSync(err, 'w')];
      let r;
      try {
        r = spawnSync(WINE, [file, ...args], { env: this.wineEnv(), stdio: ['ignore', fds[0], fds[1]], timeout });
      } finally {
        fds.forEach((fd) => fs.closeSync(fd));
      }
      result = { status: r.status, signal: r.signal, stdout: fs.readFileSync(out, 'latin1'),
                 stderr: fs.readFileSync(err, 'latin1') };
      if (result.status !== dllInitFailed || result.stdout || result.stderr) break;
    }
    return result;
  }

  tokenctl(...args) {
    const r = this.run('tokenctl.exe', args);
    if (r.status !== 0) {
      throw new Error(`tokenctl ${args.join(' ')}: exit ${r.status ?? r.signal}, ${r.stderr}${r.stdout}`);
    }
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

  // Resolves once an erase question is on the screen (it is left as it is).
  async untilQuestionShows() {
    const r = await this.runAsync('host_erase_answer.exe', ['seen', '20000']);
    if (r.status !== 0) throw new Error(`no erase question showed (${r.status} ${r.stderr})`);
  }

  // The same as run(), without blocking: for a tool that must act while the browser waits.
  runAsync(exe, args, timeout = 60000) {
    return new Promise((resolve) => {
      let stdout = '';
      let stderr = '';
      const child = spawn(WINE, [path.join(this.bin, exe), ...args], { env: this.wineEnv(), stdio: ['ignore', 'pipe', 'pipe'] });
      const timer = setTimeout(() => child.kill('SIGKILL'), timeout);
      child.stdout.on('data', (d) => { stdout += d; });
      child.stderr.on('data', (d) => { stderr += d; });
      // The output is complete once the program exits: Wine's helpers may keep the pipes open longer.
      child.on('exit', (status) => {
        clearTimeout(timer);
        setImmediate(() => resolve({ status, stdout, stderr }));
      });
    });
  }

  // Serves the test pages on `count` ports of 127.0.0.1; answers their origins.
  async serve(count) {
    const origins = [];
    for (let i = 0; i < count; ++i) {
      const server = http.createServer((req, res) => {
        const body = pageFor(req.url);
        if (!body) {
          res.writeHead(404).end();
          return;
        }
        res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
        res.end(body);
      });
      await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
      this.servers.push(server);
      origins.push(`http://127.0.0.1:${server.address().port}`);
    }
    return origins;
  }

  manifestFile() {
    return this.browser === 'firefox'
      ? path.join(this.home, '.mozilla', 'native-messaging-hosts', `${HOST_NAME}.json`)
      : path.join(this.profile, 'NativeMessagingHosts', `${HOST_NAME}.json`);
  }

  // The host manifest where the browser looks for it, naming a script that starts the Windows host under
  // Wine (or `exe`, another program of the build tree). Each start appends its process id to pidFile (exec
  // keeps the id), so a test can kill the host it started.
  installHost(exe = 'lumora_host.exe') {
    const script = path.join(this.root, `${exe}.sh`);
    const env = this.wineEnv();
    const quote = (s) => `'${s.replaceAll("'", "'\\''")}'`;
    fs.writeFileSync(script, [
      '#!/bin/sh',
      `echo $$ >> ${quote(this.pidFile)}`,
      `export WINEPREFIX=${quote(env.WINEPREFIX)} WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='`,
      `export SIMTOKEN_DIR=${quote(env.SIMTOKEN_DIR)}`,
      process.env.DISPLAY ? `export DISPLAY=${quote(process.env.DISPLAY)}` : '',
      `exec ${WINE} ${quote(path.join(this.bin, exe))} "$@"`,
      '',
    ].join('\n'), { mode: 0o755 });
    const manifest = {
      name: HOST_NAME,
      description: 'Certificate Manager token queries (test)',
      path: script,
      type: 'stdio',
    };
    if (this.browser === 'firefox') manifest.allowed_extensions = [FIREFOX_EXTENSION_ID];
    else manifest.allowed_origins = [`chrome-extension://${this.chromiumId}/`];
    fs.mkdirSync(path.dirname(this.manifestFile()), { recursive: true });
    fs.writeFileSync(this.manifestFile(), JSON.stringify(manifest, null, 2));
  }

  uninstallHost() { fs.rmSync(this.manifestFile(), { force: true }); }

  // Kills the newest host, if it still runs.
  killHost() {
    const pid = this.hostPids().at(-1);
    try {
      if (pid) process.kill(pid, 'SIGKILL');
    } catch (e) {
      if (e.code !== 'ESRCH') throw e;  // it ended by itself
    }
    return pid;
  }

  hostPids() {
    if (!fs.existsSync(this.pidFile)) return [];
    return fs.readFileSync(this.pidFile, 'utf8').split('\n').filter(Boolean).map(Number);
  }

  // Starts the browser; with `readyOrigin`, also waits until the extension has the host's list and offers
  // that listed origin's pages the object (the host's first start in a fresh prefix may take seconds).
  async launch(readyOrigin) {
    await this.start();
    if (readyOrigin) await (await this.open(readyOrigin, { timeout: 60000 })).close();
  }

  async start() {
    if (this.browser === 'firefox') {
      const puppeteer = (await import('puppeteer-core')).default;
      this.firefox = await puppeteer.launch({
        browser: 'firefox', executablePath: FIREFOX, headless: true, env: { ...process.env, HOME: this.home },
        // The store upload is unsigned until the store signs it.
        extraPrefsFirefox: this.policy ? { 'xpinstall.signatures.required': false } : {},
      });
      if (!this.policy) await this.firefox.installExtension(extensionDir);
      return this.firefox;
    }
    const { chromium } = await import('playwright-core');
    this.context = await chromium.launchPersistentContext(this.profile, {
      executablePath: CHROMIUM,
      headless: true,
      ...(this.policy
        ? { args: QUIET_FLAGS.filter((f) => !NO_POLICY_INSTALL.includes(f)), ignoreDefaultArgs: NO_POLICY_INSTALL }
        : { args: [`--disable-extensions-except=${extensionDir}`, `--load-extension=${extensionDir}`, ...QUIET_FLAGS] }),
    });
    return this.context;
  }

  // A page at `url`, loaded.
  async visit(url) {
    const page = this.firefox ? await this.firefox.newPage() : await this.context.newPage();
    await page.goto(url);
    return new Tab(page, this.firefox ? 'puppeteer' : 'playwright');
  }

  // A page of `origin` whose window.lumora is there.
  async open(origin, { manual = true, timeout = 10000 } = {}) {
    const tab = await this.visit(origin + (manual ? '/?manual' : '/'));
    await tab.waitFor(() => window.lumora !== undefined, null, timeout);
    return tab;
  }

  async close() {
    if (this.context) await this.context.close().catch(() => {});
    if (this.firefox) await this.firefox.close().catch(() => {});
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

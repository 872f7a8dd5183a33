// Benchmark, in the browser LUMORA_BROWSER names (chromium or firefox), all in one run on one token:
// - the round trip of GetKeyCount and of GetAllCertCn with 50 certificates from a page through the
//   extension and lumora_host.exe, against the same call through the plug-in in nphost;
// - the round trip of GetKeyCount through lumora_host.exe against a bare echo host (host_echo.exe, the
//   same transport and Wine start-up without the host's own work), target at most 1.3 times the echo's;
// - the round trip of GetKeyCount while another tab's erase question is open, against the same without;
// - the time from the start of a page load to its first answer, with the host already running.
// Roads are measured in alternating slices, so that other work on the machine weighs on both alike, and
// compared by their medians. Prints a table and ROW lines; exits non-zero, saying why, when it cannot
// measure.
import path from 'node:path';

import { BROWSER, missingPrerequisite, Rig, windowsPath } from './rig.mjs';

const SERIAL = 'ABCDEF123456';
const SLICES = 4;
const ROWS = [
  // method, calls on each road, the target's slack over the plug-in's time (ms), what the target says
  { method: 'GetKeyCount', rounds: 200, budgetMs: 10,
    target: 'page round trip through the host within the plug-in call + 10 ms' },
  { method: 'GetAllCertCn', rounds: 40, budgetMs: 10,
    target: 'page round trip through the host within the plug-in call + 10 ms (50 certificates)' },
];
const ECHO_ROUNDS = 400;
const ECHO_TARGET = 1.3;
const LOADS = 10;

const median = (xs) => [...xs].sort((x, y) => x - y)[Math.floor(xs.length / 2)];

function fail(why) {
  console.error(`bench: cannot measure: ${why}`);
  process.exit(1);
}

// `rounds` calls of `method` in the page, one after the other; the times in ms.
function timeCalls(page, method, rounds) {
  return page.evaluate(async ([m, n]) => {
    const times = [];
    for (let i = 0; i < n; ++i) {
      const start = performance.now();
      await window.lumora[m]();
      times.push(performance.now() - start);
    }
    return times;
  }, [method, rounds]).catch((e) => fail(`${method} in the page: ${e.message}`));
}

// The same, timed in batches of `batch` calls: a call's time is its batch's over `batch`, which Firefox's
// millisecond-coarse clock in pages can still resolve.
function timeBatches(page, method, rounds, batch) {
  return page.evaluate(async ([m, n, k]) => {
    const times = [];
    for (let i = 0; i < n; i += k) {
      const start = performance.now();
      for (let j = 0; j < k; ++j) await window.lumora[m]();
      times.push((performance.now() - start) / k);
    }
    return times;
  }, [method, rounds, batch]).catch((e) => fail(`${method} in the page: ${e.message}`));
}

// Points the host name at `exe`, ends the running host and waits for the first answer of the new one.
async function switchHost(rig, page, exe) {
  rig.installHost(exe);
  rig.killHost();
  for (let i = 0; i < 50; ++i) {
    const ok = await page.evaluate(() => window.lumora.GetKeyCount().then(() => true, () => false));
    if (ok) return;
  }
  fail(`no answer through ${exe}`);
}

const missing = missingPrerequisite();
if (missing) fail(missing);

const rig = new Rig();
try {
  rig.tokenctl('reset');
  rig.tokenctl('insert', '1', '--serial', SERIAL);
  for (let i = 1; i <= 50; ++i) {
    const file = path.join(rig.bin, 'testcerts', 'bulk', `bulk${String(i).padStart(3, '0')}.der`);
    rig.tokenctl('add-cert', '1', windowsPath(file), '--key', 'none');
  }
  const [origin] = await rig.serve(1);
  rig.setTrustedOrigins([origin, 'http://127.0.0.1']);  // the page, and nphost's for the plug-in's figures
  rig.installHost();
  await rig.launch(origin);
  const page = await rig.open(origin);

  const results = [];
  for (const row of ROWS) {
    const pageTimes = [];
    const pluginMedians = [];
    const pluginMins = [];
    for (let slice = 0; slice < SLICES; ++slice) {
      const first = await page.evaluate((m) => window.lumora[m](), row.method);
      if (row.method === 'GetAllCertCn' && String(first).split(',').length !== 50) {
        fail(`GetAllCertCn answered ${JSON.stringify(first).slice(0, 80)}, not 50 names`);
      }
      pageTimes.push(...await timeCalls(page, row.method, row.rounds / SLICES));
      const plugin = rig.run('plugin_roundtrip_bench.exe', [row.method, String(row.rounds / SLICES)], 300000);
      const fields = plugin.stdout.trim().split(/\s+/);
      if (plugin.status !== 0 || fields.length !== 4) fail(`plugin_roundtrip_bench ${row.method}: ${plugin.stderr}`);
      pluginMedians.push(Number(fields[1]) / 1000);
      pluginMins.push(Number(fields[2]) / 1000);
    }
    const pageMs = median(pageTimes);
    const pluginMs = median(pluginMedians);
    if (!(pluginMs > 0) || !(pageMs > 0)) fail(`${row.method}: no time was measured`);
    results.push({ ...row, pageMs, pageMinMs: Math.min(...pageTimes), pluginMs, pluginMinMs: Math.min(...pluginMins) });
  }

  // Our host against the echo, in alternating slices; each slice starts its host afresh.
  const roads = { host: [], echo: [] };
  for (let slice = 0; slice < SLICES; ++slice) {
    for (const [road, exe] of [['host', 'lumora_host.exe'], ['echo', 'host_echo.exe']]) {
      await switchHost(rig, page, exe);
      roads[road].push(...await timeBatches(page, 'GetKeyCount', ECHO_ROUNDS / SLICES, 10));
    }
  }
  await switchHost(rig, page, 'lumora_host.exe');
  const hostMs = median(roads.host);
  const echoMs = median(roads.echo);

  // Reads while a question is open: another tab asks to erase and nobody answers until the reads are done.
  const asker = await rig.open(origin);
  await asker.evaluate((serial) => { window.lumora.InitKey(serial).catch(() => {}); }, SERIAL);
  await rig.untilQuestionShows().catch((e) => fail(e.message));
  const whileAsking = median(await timeBatches(page, 'GetKeyCount', ECHO_ROUNDS / SLICES, 10));
  const cancelled = await rig.runAsync('host_erase_answer.exe', ['cancel', '20000']);
  if (cancelled.status !== 0) fail(`the question could not be cancelled (${cancelled.status})`);
  await asker.close();

  // Page loads with the host running: from the start of the load to the object and to the first answer.
  const loads = [];
  for (let i = 0; i < LOADS; ++i) {
    const tab = await rig.visit(`${origin}/`);
    await tab.waitFor(() => window.lumoraTimes && window.lumoraTimes.firstAnswer !== undefined, null);
    loads.push(await tab.evaluate(() => window.lumoraTimes));
    await tab.close();
  }
  const readyMs = median(loads.map((l) => l.ready));
  const firstMs = median(loads.map((l) => l.firstAnswer));

  console.log(`browser: ${BROWSER}`);
  console.log('method         page via host ms, median (min)   plug-in in nphost ms, median (min)   difference ms');
  for (const r of results) {
    console.log(`${r.method.padEnd(14)} ${r.pageMs.toFixed(3).padStart(9)} (${r.pageMinMs.toFixed(3)})` +
                `        ${r.pluginMs.toFixed(3).padStart(9)} (${r.pluginMinMs.toFixed(3)})` +
                `            ${(r.pageMs - r.pluginMs).toFixed(3)}`);
  }
  console.log(`GetKeyCount through lumora_host.exe ${hostMs.toFixed(3)} ms, through the echo host ${echoMs.toFixed(3)} ms` +
              ` (${(hostMs / echoMs).toFixed(2)}x), ${whileAsking.toFixed(3)} ms while a question is open; page load to window.lumora ${readyMs.toFixed(1)} ms,` +
              ` to the first answer ${firstMs.toFixed(1)} ms (median of ${LOADS})`);
  for (const r of results) {
    const met = r.pageMs <= r.pluginMs + r.budgetMs ? 'yes' : 'no';
    console.log(['ROW', `${BROWSER}: ${r.method} round trip, page through the host vs the plug-in in nphost`,
                 r.pageMs.toFixed(3), r.pluginMs.toFixed(3), 'ms', r.target, met].join('\t'));
  }
  console.log(['ROW', `${BROWSER}: GetKeyCount round trip, page through lumora_host vs a bare echo host`,
               hostMs.toFixed(3), echoMs.toFixed(3), 'ms', `at most ${ECHO_TARGET}x the echo host`,
               hostMs <= ECHO_TARGET * echoMs ? 'yes' : 'no'].join('\t'));
  console.log(['ROW', `${BROWSER}: GetKeyCount round trip while another tab's question is open vs none`,
               whileAsking.toFixed(3), hostMs.toFixed(3), 'ms', 'answered while asking (figure)', 'yes'].join('\t'));
  console.log(['ROW', `${BROWSER}: page load to the first answer (host running, median of ${LOADS})`,
               firstMs.toFixed(1), '-', 'ms', 'figure only', '-'].join('\t'));
} finally {
  await rig.close();
}

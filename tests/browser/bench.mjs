// Benchmark: the round trip of GetKeyCount and of GetAllCertCn with 50 certificates from a page through
// the extension and lumora_host.exe, against the same call through the plug-in in nphost, in one run on one
// token. The two are measured in alternating slices, so that other work on the machine weighs on both
// alike, and compared by their medians. Prints a table and ROW lines; exits non-zero, saying why, when it
// cannot measure.
import path from 'node:path';

import { missingPrerequisite, Rig, windowsPath } from './rig.mjs';

const SERIAL = 'ABCDEF123456';
const ROWS = [
  // method, calls on each road, the target's slack over the plug-in's time (ms), what the target says
  { method: 'GetKeyCount', rounds: 200, budgetMs: 10,
    target: 'page round trip through the host within the plug-in call + 10 ms' },
  { method: 'GetAllCertCn', rounds: 40, budgetMs: 10,
    target: 'page round trip through the host within the plug-in call + 10 ms (50 certificates)' },
];

function fail(why) {
  console.error(`bench: cannot measure: ${why}`);
  process.exit(1);
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
  rig.setTrustedOrigins([origin]);
  rig.installHost();
  await rig.launch();
  const page = await rig.open(origin);

  const SLICES = 4;
  const median = (xs) => [...xs].sort((x, y) => x - y)[Math.floor(xs.length / 2)];
  const results = [];
  for (const row of ROWS) {
    const pageTimes = [];
    const pluginMedians = [];
    const pluginMins = [];
    for (let slice = 0; slice < SLICES; ++slice) {
      const inPage = await page.evaluate(async ([method, rounds]) => {
        const first = await window.lumora[method]();  // warm: the host is started by the first call
        const times = [];
        for (let i = 0; i < rounds; ++i) {
          const start = performance.now();
          await window.lumora[method]();
          times.push(performance.now() - start);
        }
        return { first, times };
      }, [row.method, row.rounds / SLICES]).catch((e) => fail(`${row.method} in the page: ${e.message}`));
      if (row.method === 'GetAllCertCn' && String(inPage.first).split(',').length !== 50) {
        fail(`GetAllCertCn answered ${JSON.stringify(inPage.first).slice(0, 80)}, not 50 names`);
      }
      pageTimes.push(...inPage.times);
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

  console.log('method         page via host ms, median (min)   plug-in in nphost ms, median (min)   difference ms');
  for (const r of results) {
    console.log(`${r.method.padEnd(14)} ${r.pageMs.toFixed(3).padStart(9)} (${r.pageMinMs.toFixed(3)})` +
                `        ${r.pluginMs.toFixed(3).padStart(9)} (${r.pluginMinMs.toFixed(3)})` +
                `            ${(r.pageMs - r.pluginMs).toFixed(3)}`);
  }
  for (const r of results) {
    const met = r.pageMs <= r.pluginMs + r.budgetMs ? 'yes' : 'no';
    console.log(['ROW', `${r.method} round trip, page through the host vs the plug-in in nphost`,
                 r.pageMs.toFixed(3), r.pluginMs.toFixed(3), 'ms', r.target, met].join('\t'));
  }
} finally {
  await rig.close();
}

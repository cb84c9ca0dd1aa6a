// The server's memory with 50 pages open in headless Chromium, each following a ten-minute
// drive replayed at 100 times its pace, six times over: it must not grow with the changes.
//   QAV_HOSTSIM=... node --expose-gc dashboard/bench/memory.js [PAGES [ROUNDS]]
import fs from 'node:fs';
import path from 'node:path';
import { startDashboard } from '../server.js';
import { RECORDINGS, launchBrowser, replay, statusIs, tempDir } from '../test/harness.js';

if (!global.gc) throw new Error('run it with node --expose-gc');
const PAGES = Number(process.argv[2] ?? 50);
const ROUNDS = Number(process.argv[3] ?? 6);

// Ten minutes of a drive, from the built-in drive's document with a job: a paced document a
// second with the speed swinging, a gameplay event every 15 s, a pause of 5 s every 2 minutes
const base = JSON.parse(JSON.parse(fs.readFileSync(path.join(RECORDINGS, 'drive.jsonl'), 'utf8')
  .split('\n')[3]).document);
const work = tempDir('memory');
const recording = path.join(work, 'ten-minutes.jsonl');
const out = [];
let eventSeq = 0;
for (let t = 0; t <= 600; t++) {
  const paused = t === 0 || t % 120 < 5 || t === 600;
  if (t > 0 && t % 15 === 0 && t < 600) eventSeq++;
  const doc = { ...base, written: 1000 + t * 1000, paused, gameTime: 480 + Math.floor(t / 3),
                speed: paused ? 0 : Math.round((20 + 8 * Math.sin(t / 20)) * 100) / 100,
                job: t === 0 || t === 600 ? null : base.job, eventSeq,
                lastEvent: t === 600 ? 'game.closed' : eventSeq ? ['toll.paid', 'player.fined'][eventSeq % 2] : '' };
  out.push(JSON.stringify({ at: t, cause: 'paced', document: JSON.stringify(doc) + '\n' }));
}
fs.writeFileSync(recording, out.join('\n') + '\n');

let changes = 0;
const dir = path.join(work, 'QAV');
const dashboard = await startDashboard({ dir, port: 0, onChange: () => { changes++; } });
const browser = await launchBrowser();
const pages = [];
for (let i = 0; i < PAGES; i++) {
  // a browser keeps six connections to one site, and each page's event stream holds one: a
  // context of its own for each page, as if on 50 devices
  const page = await (await browser.createBrowserContext()).newPage();
  await page.goto(`http://127.0.0.1:${dashboard.port}/`);
  pages.push(page);
}
const memory = () => {
  global.gc();
  const m = process.memoryUsage();
  return { heap: m.heapUsed / 1024, rss: m.rss / 1024 };
};
const rows = [];
for (let round = 0; round < ROUNDS; round++) {
  const { status, output } = await replay(recording, dir, 100);
  if (status !== 0) throw new Error(output);
  await Promise.all(pages.map((p) => statusIs(p, ['closed'], 60000)));
  rows.push({ round, changes, open: dashboard.pages.size, ...memory() });
}
await browser.close();
await dashboard.close();

console.log(`${PAGES} pages; each round a ten-minute drive at 100x (${out.length} documents)`);
console.log('| after | changes pushed | pages connected | heap used KiB | resident KiB |\n|---|---|---|---|---|');
for (const r of rows)
  console.log(`| round ${r.round + 1} | ${r.changes} | ${r.open} | ${r.heap.toFixed(0)} | ${r.rss.toFixed(0)} |`);
const spread = (k) => { const v = rows.map((r) => r[k]); return (Math.max(...v) - Math.min(...v)) / 1024; };
console.log(`over ${rows.at(-1).changes - rows[0].changes} changes after the first round: the heap ` +
            `within ${spread('heap').toFixed(1)} MiB, the resident size within ${spread('rss').toFixed(1)} MiB`);

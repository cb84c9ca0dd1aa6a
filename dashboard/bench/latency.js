// How soon a player sees a pause or a start: 100 of each in a hostsim drive, timed from the
// host's call to the page's DOM in headless Chromium, against this machine's wall clock, and
// broken into the reader's poll, the push to the page, the page's update and its next frame.
//   QAV_HOSTSIM=... QAV_PLUGIN=... node dashboard/bench/latency.js
import fs from 'node:fs';
import path from 'node:path';
import { startDashboard } from '../server.js';
import { drive, launchBrowser, tempDir } from '../test/harness.js';

const TOGGLES = 200; // 100 pauses, 100 starts
const wallNow = () => performance.timeOrigin + performance.now();
// written is the writer's CLOCK_MONOTONIC in ms; process.hrtime is the same clock
const monoToWall = () => wallNow() - Number(process.hrtime.bigint()) / 1e6;

const work = tempDir('latency');
// Pauses and starts 0.2 to 0.3 s apart, off the reader's 20 ms beat, while the truck drives
const lines = ['0 load', '0 position -3120.5 42.25 1288.75', '0.5 start', '0.5 drive 60'];
for (let i = 0; i < TOGGLES; i++)
  lines.push(`+${(0.2 + ((i * 37) % 100) / 1000).toFixed(3)} ${i % 2 ? 'start' : 'pause'}`);
lines.push('+0.5 shutdown');
const scenario = path.join(work, 'toggles.scenario');
fs.writeFileSync(scenario, lines.join('\n') + '\n');

const read = new Map(); // written -> wall time the reader gave the change
const dashboard = await startDashboard({
  dir: path.join(work, 'QAV'), port: 0,
  onChange: (c) => { if (c.document) read.set(String(c.document.written), wallNow()); },
});
const browser = await launchBrowser();
const page = await browser.newPage();
// Seen from inside the page, before its own script: when each message arrives, when the
// paused line changes in the DOM, and the frame after that
await page.evaluateOnNewDocument(() => {
  const seen = (window.qavSeen = []);
  const now = () => performance.timeOrigin + performance.now();
  const Source = window.EventSource;
  window.EventSource = class extends Source {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (e) => {
        const m = JSON.parse(e.data);
        if (m.document) seen.push({ written: m.document.written, paused: m.document.paused, recv: now() });
      });
    }
  };
  addEventListener('DOMContentLoaded', () => {
    new MutationObserver(() => {
      const last = seen.at(-1);
      if (!last || last.dom) return;
      last.dom = now();
      requestAnimationFrame(() => setTimeout(() => { last.frame = now(); }));
    }).observe(document.getElementById('paused'), { childList: true, characterData: true, subtree: true });
  });
});
await page.goto(`http://127.0.0.1:${dashboard.port}/`);
const offsetBefore = monoToWall();
const result = await drive(scenario, work);
const offsetAfter = monoToWall();
await new Promise((r) => setTimeout(r, 500));
const seen = await page.evaluate(() => window.qavSeen);
await browser.close();
await dashboard.close();
if (result.status !== 0) throw new Error(`hostsim failed:\n${result.output}`);

const parts = { poll: [], push: [], dom: [], frame: [], total: [] };
const offset = (offsetBefore + offsetAfter) / 2;
for (let i = 1; i < seen.length; i++) {
  const s = seen[i];
  if (s.paused === seen[i - 1].paused || !s.dom || !s.frame) continue;
  const call = Number(s.written) + offset, got = read.get(s.written);
  parts.poll.push(got - call);
  parts.push.push(s.recv - got);
  parts.dom.push(s.dom - s.recv);
  parts.frame.push(s.frame - s.dom);
  parts.total.push(s.dom - call);
}
const pct = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.ceil((p / 100) * xs.length) - 1)];
console.log(`${parts.total.length} pauses and starts (of ${TOGGLES + 1}, the first start included); the clocks moved ` +
            `${Math.abs(offsetAfter - offsetBefore).toFixed(2)} ms apart during the drive`);
console.log('| part | p50 ms | p99 ms | max ms |\n|---|---|---|---|');
const names = { poll: "the reader's poll (the call to follow() giving the change)",
                push: 'the push (to the page\'s message handler)', dom: 'the page\'s update of its DOM',
                total: '**the call to the DOM**', frame: 'then the next frame drawn' };
for (const k of ['poll', 'push', 'dom', 'total', 'frame'])
  console.log(`| ${names[k]} | ${pct(parts[k], 50).toFixed(1)} | ${pct(parts[k], 99).toFixed(1)} | ` +
              `${Math.max(...parts[k]).toFixed(1)} |`);

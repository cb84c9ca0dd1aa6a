// docs/dashboard.png: the page in headless Chromium two and a half minutes into a hostsim drive.
//   QAV_HOSTSIM=... QAV_PLUGIN=... node dashboard/bench/screenshot.js [OUT.png]
import fs from 'node:fs';
import path from 'node:path';
import { startDashboard } from '../server.js';
import { HERE, drive, launchBrowser, tempDir } from '../test/harness.js';

const out = process.argv[2] ?? path.join(HERE, '..', '..', 'docs', 'dashboard.png');
const work = tempDir('screenshot');
const scenario = path.join(work, 'drive.scenario');
fs.writeFileSync(scenario, `0 load
0 position -3120.5 42.25 1288.75
1 start
1 drive 60
5 job cargo="Pine logs" source.city=Aldmoor source.company="Northwood Timber" destination.city=Brennick destination.company="Harbor Mills" income=14250 cargo.mass=18200 delivery.time=540 planned_distance.km=312
30 drive 85
45 event toll.paid
60 heading 35
70 drive 40
85 drive 0
95 pause
105 start
106 drive 75
130 event player.fined
150 shutdown
`);
const dashboard = await startDashboard({ dir: path.join(work, 'QAV'), port: 0 });
const browser = await launchBrowser();
const page = await browser.newPage();
await page.setViewport({ width: 1280, height: 560 });
await page.goto(`http://127.0.0.1:${dashboard.port}/`);
const driving = drive(scenario, work, 200000);
await new Promise((r) => setTimeout(r, 140000));
await page.screenshot({ path: out });
console.log(`wrote ${out}; hostsim: ${(await driving).status}`);
await browser.close();
await dashboard.close();

// The page in headless Chromium beside a live hostsim drive and replayed recordings with
// hostile texts: what its DOM shows, and that no host text ever becomes an element.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { startDashboard } from '../server.js';
import { HERE, HOSTSIM, RECORDINGS, drive, launchBrowser, replay, shown, statusIs, tempDir }
  from './harness.js';

const skip = HOSTSIM ? false : 'needs QAV_HOSTSIM and QAV_PLUGIN';
let browser;
before(async () => { if (!skip) browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

/** A page on the dashboard, phone-sized, that notes every request and every dialog. */
async function openPage(port, query = '') {
  const page = await browser.newPage();
  await page.setViewport({ width: 390, height: 844 });
  page.requests = [];
  page.dialogs = [];
  page.on('request', (r) => page.requests.push(new URL(r.url()).pathname));
  page.on('dialog', (d) => { page.dialogs.push(d.message()); d.dismiss(); });
  await page.goto(`http://127.0.0.1:${port}/${query}`);
  await page.waitForFunction(() => document.getElementById('status').textContent !== '');
  return page;
}

/** The dashboard on a fresh folder for fn({ dashboard, dir, work }), closed whatever happens. */
async function withDashboard(options, fn) {
  const work = tempDir('page'), dir = path.join(work, 'QAV');
  const context = { dir, work, dashboard: await startDashboard({ dir, port: 0, ...options }) };
  try {
    await fn(context);
  } finally {
    await context.dashboard.close();
  }
}

const elements = (page) => page.evaluate(() =>
  [...document.querySelectorAll('*')].map((e) => `${e.tagName}#${e.id}`).join(' '));

/** The document's values as the page must show them, texts exactly. */
function expected(doc) {
  const place = (company, city) => [company, city].filter((s) => s !== '').join(', ');
  return { cargo: doc.job.cargo, from: place(doc.job.sourceCompany, doc.job.sourceCity),
           to: place(doc.job.destinationCompany, doc.job.destinationCity),
           lastEvent: doc.lastEvent || 'none yet' };
}

const lines = (file) => fs.readFileSync(path.join(RECORDINGS, file), 'utf8').split('\n').filter(Boolean);
const MARKUP = '<img src=x onerror=alert(1)>';
const marked = () => lines('drive.jsonl').slice(0, 9).map((l) => l
  .replace('"cargo\\":\\"Pine logs', `"cargo\\":\\"${MARKUP}`)
  .replace('Harbor Mills', '<b>Harbor</b> & <script>alert(2)</script>'));
const hostile = [
  { name: 'texts of bytes that are not UTF-8 and of control bytes at their limit, then closing',
    lines: () => lines('texts.jsonl'), end: 'closed' },
  { name: 'the largest document: control bytes and the longest numbers',
    lines: () => lines('largest.jsonl'), end: 'gone' },
  { name: 'a cargo and a company named with markup, then a refused document whose version is markup',
    lines: () => [...marked(), marked()[8].replace('\\"version\\":\\"1.0.0', `\\"version\\":\\"${MARKUP}`)],
    end: 'gone', problem: `the last read was refused: a QAV document of version ${MARKUP}: ` +
                          'this reader knows 1.x only' },
];

for (const row of hostile) {
  test(`hostile texts reach the page as text: ${row.name}`, { skip, timeout: 60000 }, () =>
    withDashboard({}, async ({ dashboard, dir, work }) => {
      const recording = path.join(work, 'recording.jsonl');
      const docs = row.lines();
      fs.writeFileSync(recording, docs.join('\n') + '\n');
      const page = await openPage(dashboard.port);
      const before = await elements(page);
      assert.equal((await replay(recording, dir)).status, 0);
      await statusIs(page, [row.end]);
      const last = docs.map((l) => JSON.parse(JSON.parse(l).document))
        .filter((d) => d.job && d.version === '1.0.0').pop();
      const got = await shown(page);
      for (const [field, text] of Object.entries(expected(last))) assert.equal(got[field], text, field);
      if (row.name.includes('cargo')) assert.equal(got.cargo, MARKUP);
      assert.equal(got.problem, row.problem ?? '');
      assert.equal(await elements(page), before, 'an element was made');
      assert.deepEqual(page.dialogs, []);
      // the browser's own request for a tab icon is not the page's
      assert.deepEqual([...new Set(page.requests)].filter((p) => p !== '/favicon.ico').sort(),
                       ['/', '/dashboard.css', '/dashboard.js', '/events']);
      const [wide, width] = await page.evaluate(() =>
        [document.documentElement.scrollWidth, window.innerWidth]);
      assert.ok(wide <= width, `the page is ${wide} px wide on a ${width} px phone`);
    }));
}

/** An event stream read by Node, as a page that only listens: all it was sent. */
function streamOf(port) {
  const stream = { text: '' };
  stream.request = http.get({ host: '127.0.0.1', port, path: '/events', agent: false }, (res) => {
    res.setEncoding('utf8').on('data', (chunk) => { stream.text += chunk; }).on('error', () => {});
  }).on('error', () => {});
  return stream;
}

test('a drive: the job, the speed and the events, then closed with the last values kept, ' +
     'and 50 pages follow it', { skip, timeout: 90000 }, () =>
  withDashboard({}, async ({ dashboard, work }) => {
    const page = await openPage(dashboard.port);
    const streams = Array.from({ length: 49 }, () => streamOf(dashboard.port));
    const driving = drive(path.join(HERE, 'drive.scenario'), work);
    await page.waitForFunction(() => document.getElementById('lastEvent').textContent === 'player.fined' &&
      Number(document.getElementById('kmh').textContent) > 0, { timeout: 30000 });
    const during = await shown(page);
    assert.equal((await driving).status, 0);
    await statusIs(page, ['closed']);
    const { cargo, from, to, planned, mass, eventCount, status } = during;
    assert.deepEqual({ cargo, from, to, planned, mass, eventCount, status },
                     { cargo: 'Pine logs', from: 'Northwood Timber, Aldmoor', to: 'Harbor Mills, Brennick',
                       planned: '312 km (194 mi)', mass: '18.2 t', eventCount: '2', status: 'live' });
    assert.ok(Math.abs(Number(during.kmh) / 1.609344 - Number(during.mph)) <= 1, 'km/h against mph');
    // the closing document empties the job and names game.closed: the page keeps what it showed
    const keep = { status: '', kmh: '', mph: '', clock: '', paused: '' };
    assert.deepEqual({ ...await shown(page), ...keep }, { ...during, ...keep });
    assert.equal(dashboard.pages.size, 50);
    await new Promise((r) => setTimeout(r, 200));
    for (const s of streams) {
      assert.match(s.text, /"kind":"closed".*\n\n$/, 'a page missed the closing change');
      assert.ok(s.text.split('data: ').length > 6, 'a page missed changes');
      s.request.destroy();
    }
  }));

test('the page says when the dashboard stopped, keeps the values, and counts the events it ' +
     'missed when the dashboard is back', { skip, timeout: 60000 }, () =>
  withDashboard({ checkWriter: false }, async (context) => {
    const { dir, work } = context, port = context.dashboard.port;
    // the recorded pid and written: one session, whose writer is long gone, judged by age
    const [first, rest] = [path.join(work, 'first.jsonl'), path.join(work, 'rest.jsonl')];
    fs.writeFileSync(first, lines('drive.jsonl').slice(0, 7).join('\n') + '\n'); // toll.paid: event 1
    fs.writeFileSync(rest, lines('drive.jsonl').slice(7).join('\n') + '\n');     // event 2, closing
    const page = await openPage(port);
    assert.equal((await replay(first, dir, 8, { restamp: false })).status, 0);
    await page.waitForFunction(() => document.getElementById('eventCount').textContent === '1');
    const before = await shown(page);
    assert.equal(before.notes, 'writer not checked');
    await context.dashboard.close();
    await page.waitForFunction(() => !document.getElementById('link').hidden, { timeout: 10000 });
    const away = await shown(page);
    assert.match(away.link, /the dashboard stopped/);
    assert.deepEqual({ ...away, link: '' }, { ...before, link: '' });
    assert.equal((await replay(rest, dir, 8, { restamp: false })).status, 0);
    context.dashboard = await startDashboard({ dir, port, checkWriter: false });
    await page.waitForFunction(() => document.getElementById('link').hidden, { timeout: 10000 });
    await statusIs(page, ['closed']);
    const back = await shown(page);
    assert.equal(back.eventCount, '2');
    const same = { link: '', status: '', eventCount: '' };
    assert.deepEqual({ ...back, ...same }, { ...before, ...same });
  }));

test('the status as a drive goes: live, stale in a freeze, live, gone after a crash',
     { skip, timeout: 60000 }, () =>
  withDashboard({}, async ({ dashboard, work }) => {
    const page = await openPage(dashboard.port);
    await page.evaluate(() => {
      const status = document.getElementById('status');
      window.statuses = [status.textContent];
      new MutationObserver(() => window.statuses.push(status.textContent))
        .observe(status, { childList: true, characterData: true, subtree: true });
    });
    const scenario = path.join(HERE, '..', '..', 'readers', 'tests', 'freeze-crash.scenario');
    assert.equal((await drive(scenario, work)).status, 0);
    await statusIs(page, ['gone']);
    const seen = await page.evaluate(() => window.statuses);
    assert.deepEqual(seen.map((s) => s.split(/[ :]/)[0]).filter((w, i, all) => w !== all[i - 1]),
                     ['waiting', 'live', 'stale', 'live', 'gone'], seen.join(' / '));
    assert.ok(seen.includes('stale 3 s'), seen.join(' / '));
  }));

test('?overlay is transparent and leaves out the trace', { skip, timeout: 30000 }, () =>
  withDashboard({}, async ({ dashboard }) => {
    const views = {};
    for (const query of ['', '?overlay'])
      views[query] = await (await openPage(dashboard.port, query)).evaluate(() => [
        getComputedStyle(document.body).backgroundColor,
        getComputedStyle(document.querySelector('.trace')).display]);
    assert.deepEqual(views, { '': ['rgb(21, 24, 28)', 'block'], '?overlay': ['rgba(0, 0, 0, 0)', 'none'] });
  }));

// What the dashboard's tests and benchmarks share: a headless Chromium, hostsim playing a drive
// or a recording, temporary folders, and the page's shown values. Every wait has a deadline.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const HERE = path.dirname(fileURLToPath(import.meta.url));
export const RECORDINGS = path.join(HERE, '..', '..', 'docs', 'recordings');
export const HOSTSIM = process.env.QAV_HOSTSIM;  // build/native/bin/hostsim
export const PLUGIN = process.env.QAV_PLUGIN;    // build/native/bin/libQAV.so
export const CHROMIUM = process.env.QAV_CHROMIUM ?? '/usr/bin/chromium';

const made = []; // removed when the process ends, browser profiles included
process.on('exit', () => made.forEach((d) => fs.rmSync(d, { recursive: true, force: true })));
export function tempDir(name) {
  made.push(fs.mkdtempSync(path.join(os.tmpdir(), `qav-dashboard-${name}-`)));
  return made.at(-1);
}

/** Chromium, headless, with nothing that reaches beyond this machine, in a fresh profile. */
export async function launchBrowser() {
  const { default: puppeteer } = await import('puppeteer-core');
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: tempDir('profile'),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout: 30000,
  });
}

/** Runs a program to its end (at most limitMs); resolves to { status, output }. */
export function run(command, args, { env, limitMs = 120000 } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { env: { ...process.env, ...env } });
    let output = '';
    child.stdout.on('data', (d) => { output += d; });
    child.stderr.on('data', (d) => { output += d; });
    const timer = setTimeout(() => child.kill('SIGKILL'), limitMs);
    child.on('error', reject);
    child.on('close', (status) => {
      clearTimeout(timer);
      resolve({ status, output });
    });
  });
}

/** hostsim plays scenario against the native plug-in, writing into dataHome/QAV. */
export function drive(scenario, dataHome, limitMs = 120000) {
  fs.mkdirSync(path.join(dataHome, 'QAV'), { recursive: true });
  return run(HOSTSIM, ['--plugin', PLUGIN, scenario], { env: { XDG_DATA_HOME: dataHome }, limitMs });
}

/** hostsim publishes a recording into dir, speed times as fast, as written now unless
    asked to keep the recorded pid and written. */
export function replay(recording, dir, speed = 4, { restamp = true } = {}) {
  fs.mkdirSync(dir, { recursive: true });
  return run(HOSTSIM, ['--replay', recording, '--to', dir, '--speed', String(speed),
                       ...(restamp ? ['--restamp'] : [])]);
}

/** What the page shows, by element id. */
export function shown(page) {
  return page.evaluate(() => Object.fromEntries(
    ['status', 'notes', 'kmh', 'mph', 'paused', 'clock', 'cargo', 'from', 'to', 'income', 'mass',
     'planned', 'lastEvent', 'eventCount', 'problem', 'link']
      .map((id) => [id, document.getElementById(id).textContent])));
}

/** Waits until the page's status starts with one of the words. */
export function statusIs(page, words, timeout = 30000) {
  return page.waitForFunction((w) => w.some((word) =>
    document.getElementById('status').textContent.startsWith(word)), { timeout }, words);
}

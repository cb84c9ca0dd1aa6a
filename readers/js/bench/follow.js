#!/usr/bin/env node
// What follow() costs idle and how soon it yields a document, for two versions of the reader
// side by side in one run (each in its own process, at the same time):
//   git show main:readers/js/qav-reader.js > /tmp/qav-reader-main.js
//   node readers/js/bench/follow.js /tmp/qav-reader-main.js readers/js/qav-reader.js [SECONDS] [PUBLISHES]
// Idle: CPU time over SECONDS (60) as a share of one core, for a folder without a document and
// for a paused host (its document stale, its process running and looked at), beside a bare
// 20 ms setInterval and a Node process doing nothing. Latency: from just before the rename of
// telemetry.json, as the plug-in publishes, to follow() yielding it, over PUBLISHES (200)
// publishes 50 to 150 ms apart; every process stamps with the same monotonic clock.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const SELF = fileURLToPath(import.meta.url);
const document = (pid, written, seq, ns) =>
  `{"plugin":"QAV","version":"1.0.0","pid":${pid},"written":${written},"game":"haulsim",` +
  `"gameVersion":"1.18","paused":true,"gameTime":480,"position":{"x":1.5,"y":2,"z":-3},` +
  `"speed":0.0,"job":null,"lastEvent":"toll.paid","eventSeq":${seq},"benchNs":"${ns}"}\n`;
const publish = (dir, text) => {
  fs.writeFileSync(path.join(dir, 'telemetry.json.tmp'), text);
  fs.renameSync(path.join(dir, 'telemetry.json.tmp'), path.join(dir, 'telemetry.json'));
};
const msNow = () => process.hrtime.bigint() / 1000000n; // the reader's tick on Linux

async function child([role, module, dir, arg]) {
  let start = process.cpuUsage(), began = process.hrtime.bigint();
  const share = () => {
    const used = process.cpuUsage(start), wall = Number(process.hrtime.bigint() - began) / 1000;
    return (100 * (used.user + used.system)) / wall;
  };
  if (role === 'interval') {
    const t = setInterval(() => {}, 20);
    setTimeout(() => { clearInterval(t); console.log(JSON.stringify({ cpu: share() })); }, arg * 1000);
    return;
  }
  if (role === 'nothing') {
    setTimeout(() => console.log(JSON.stringify({ cpu: share() })), arg * 1000);
    return;
  }
  const { Reader } = await import(pathToFileURL(path.resolve(module)));
  const reader = new Reader(dir), stop = new AbortController();
  if (role === 'idle') {
    let first = true;
    for await (const change of reader.follow({ signal: stop.signal })) {
      if (!first) continue;
      // measured from the first change on: loading the module is no part of waiting
      [first, start, began] = [false, process.cpuUsage(), process.hrtime.bigint()];
      setTimeout(() => stop.abort(), arg * 1000);
      void change;
    }
    console.log(JSON.stringify({ cpu: share() }));
    return;
  }
  const latencies = [];
  process.stdin.on('end', () => stop.abort()).resume();
  for await (const change of reader.follow({ signal: stop.signal })) {
    const at = process.hrtime.bigint();
    if (change.document) latencies.push(Number(at - BigInt(change.document.benchNs)) / 1e6);
    if (latencies.length === 1) process.stdout.write('ready\n');
  }
  console.log(JSON.stringify({ latencies: latencies.slice(1) }));
}

function run(args) {
  const p = spawn(process.execPath, [SELF, '--child', ...args.map(String)], { stdio: ['pipe', 'pipe', 'inherit'] });
  let out = '';
  p.stdout.setEncoding('utf8').on('data', (s) => { out += s; });
  const ready = new Promise((resolve) => p.stdout.on('data', () => out.includes('ready\n') && resolve()));
  const done = new Promise((resolve) => p.on('exit', () => resolve(JSON.parse(out.split('\n').at(-2)))));
  return { p, ready, done };
}

const rank = (sorted, q) => sorted[Math.max(0, Math.ceil(q * sorted.length) - 1)];
const fmt = (n) => n.toFixed(2).padStart(8);

async function main([oldModule, newModule, seconds = 60, publishes = 200]) {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'qav-bench-'));
  const folder = (name) => fs.mkdirSync(path.join(tmp, name), { recursive: true }) ?? path.join(tmp, name);
  const versions = [['main', oldModule], ['this', newModule]];
  // a paused host: this process, its last document written now and left to go stale
  for (const [name] of versions) publish(folder(`paused-${name}`), document(process.pid, msNow(), 1, 0));
  console.log(`idle, ${seconds} s, CPU time as a share of one core:`);
  const idle = [
    ...versions.flatMap(([name, module]) => [
      [`${name}: no document yet`, run(['idle', module, folder(`empty-${name}`), seconds])],
      [`${name}: a paused host (stale, looked at)`, run(['idle', module, path.join(tmp, `paused-${name}`), seconds])]]),
    ['a bare 20 ms setInterval', run(['interval', '', '', seconds])],
    ['a Node process doing nothing', run(['nothing', '', '', seconds])]];
  for (const [name, r] of idle) console.log(`  ${name.padEnd(40)} ${(await r.done).cpu.toFixed(3)} %`);

  console.log(`\nlatency, rename to follow() yielding it, ms, ${publishes} publishes:`);
  const readers = versions.map(([name, module]) => [name, folder(`latency-${name}`), module]);
  const runs = readers.map(([, dir, module]) => run(['latency', module, dir]));
  for (const [, dir] of readers) publish(dir, document(process.pid, msNow(), 0, process.hrtime.bigint()));
  await Promise.all(runs.map((r) => r.ready));
  for (let i = 1; i <= publishes; i++) {
    await new Promise((resolve) => setTimeout(resolve, 50 + Math.random() * 100));
    const order = i % 2 ? readers : [...readers].reverse();
    for (const [, dir] of order) publish(dir, document(process.pid, msNow(), i, process.hrtime.bigint()));
  }
  await new Promise((resolve) => setTimeout(resolve, 1500));
  for (const r of runs) r.p.stdin.end();
  console.log(`  ${'reader'.padEnd(8)} ${'seen'.padStart(5)} ${'p50'.padStart(8)} ${'p99'.padStart(8)} ${'max'.padStart(8)}`);
  for (const [i, [name]] of readers.entries()) {
    const l = (await runs[i].done).latencies.sort((a, b) => a - b);
    console.log(`  ${name.padEnd(8)} ${String(l.length).padStart(5)} ${fmt(rank(l, 0.5))} ${fmt(rank(l, 0.99))} ${fmt(l.at(-1))}`);
  }
  fs.rmSync(tmp, { recursive: true, force: true });
}

if (process.argv[2] === '--child') child(process.argv.slice(3));
else main(process.argv.slice(2));

#!/usr/bin/env node
// qav-dashboard [DIR] [--port N] [--lan] [--age-only|--check-writer]: a live page of QAV's
// telemetry for a browser on this machine, a phone on the same network (--lan), or streaming
// software's browser source (the page's ?overlay view).
import os from 'node:os';
import { findDir } from '../readers/js/qav-reader.js';
import { startDashboard } from './server.js';

const USAGE = 'usage: qav-dashboard [DIR] [--port N] [--lan] [--age-only|--check-writer]';

function fail(message, status) {
  console.error(`qav-dashboard: ${message}`);
  process.exit(status);
}

/** The options, or a usage error's message. */
function parseArgs(argv) {
  const o = { dir: undefined, port: 8480, lan: false, checkWriter: undefined };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--port') {
      const v = argv[++i];
      if (!/^\d{1,5}$/.test(v ?? '') || Number(v) > 65535)
        return `--port takes a number from 0 to 65535, not ${v === undefined ? 'nothing' : JSON.stringify(v)}`;
      o.port = Number(v);
    } else if (a === '--lan') {
      o.lan = true;
    } else if (a === '--age-only' || a === '--check-writer') {
      if (o.checkWriter !== undefined) return 'give --age-only or --check-writer, not both';
      o.checkWriter = a === '--check-writer';
    } else if (a.startsWith('-') && a !== '-') {
      return `unknown option ${JSON.stringify(a)}`;
    } else if (o.dir !== undefined) {
      return 'one folder at most';
    } else {
      o.dir = a;
    }
  }
  return o;
}

function main() {
  const o = parseArgs(process.argv.slice(2));
  if (typeof o === 'string') fail(`${o}\n${USAGE}`, 2);
  const dir = findDir(o.dir);
  if (dir === null) fail('the system does not say where the data folder is: give it', 2);

  startDashboard({ dir, port: o.port, host: o.lan ? '0.0.0.0' : '127.0.0.1',
                   checkWriter: o.checkWriter }).then((dashboard) => {
    const stop = () => dashboard.close().then(() => process.exit(0));
    process.once('SIGINT', stop);
    process.once('SIGTERM', stop);
    const p = dashboard.port;
    console.log(`qav-dashboard: reading ${dir}`);
    console.log(`open http://127.0.0.1:${p}/ in a browser on this computer`);
    console.log(`for streaming software's browser source: http://127.0.0.1:${p}/?overlay`);
    if (o.lan) {
      const lan = Object.values(os.networkInterfaces()).flat()
        .filter((a) => a && a.family === 'IPv4' && !a.internal);
      for (const a of lan) console.log(`on a phone on the same network: http://${a.address}:${p}/`);
      if (lan.length === 0) console.log('this computer has no network address now: only this computer can open it');
    }
    console.log('Ctrl+C stops it');
  }, (e) => {
    if (e.code === 'EADDRINUSE')
      fail(`port ${o.port} is already in use, by another program or another qav-dashboard. ` +
           'Close that one, or start this one with another port: --port 8481', 1);
    if (e.code === 'EACCES')
      fail(`this computer does not let qav-dashboard use port ${o.port}: choose one above 1023 with --port`, 1);
    fail(`cannot listen on port ${o.port}: ${e.message}`, 1);
  });
}

main();

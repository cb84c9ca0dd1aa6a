#!/usr/bin/env node
// Reads QAV's telemetry.json as a companion application should, and tells whether the host
// that writes it is live, stale, closed or gone. Node 18 or later, no dependencies.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const MAX_DOCUMENT = 8192; // every 1.x document fits, line feed included
export const STALE_MS = 3000n;    // a writer that wrote nothing for this long is stale
const CLOCK_SLACK_MS = 100n;      // process start times and ticks are both a few ms coarse
const WINDOWS = process.platform === 'win32';

/** The file is not a QAV 1.x document; the message says why. */
export class NotQav extends Error {}

/** The folder QAV writes to: given, or %LOCALAPPDATA%\QAV, $XDG_DATA_HOME/QAV,
    ~/.local/share/QAV. null when the system does not say. */
export function findDir(given) {
  if (given) return given;
  if (WINDOWS) return process.env.LOCALAPPDATA ? path.join(process.env.LOCALAPPDATA, 'QAV') : null;
  const xdg = process.env.XDG_DATA_HOME ?? '';
  if (xdg.startsWith('/')) return path.join(xdg, 'QAV');
  return process.env.HOME ? path.join(process.env.HOME, '.local', 'share', 'QAV') : null;
}

/** Last-write time, size and file number (new with every replace on POSIX), queried by name
    so that no handle is left open to stall a rename; null when missing or not a file (a
    FIFO someone left there would block the open). */
function stampOf(file) {
  try {
    const s = fs.statSync(file, { bigint: true });
    return s.isFile() ? `${s.mtimeNs} ${s.size} ${s.ino}` : null;
  } catch {
    return null;
  }
}

/** The file's first MAX_DOCUMENT + 1 bytes, or null to try again (missing, or held by someone
    who does not share it). Node opens with read, write and delete sharing on Windows. */
function readFile(file) {
  let fd;
  try {
    fd = fs.openSync(file, 'r');
    const buf = Buffer.alloc(MAX_DOCUMENT + 1);
    let total = 0, got;
    while (total < buf.length && (got = fs.readSync(fd, buf, total, buf.length - total, null)) > 0)
      total += got;
    return buf.subarray(0, total);
  } catch {
    return null;
  } finally {
    if (fd !== undefined) fs.closeSync(fd); // at once: the plug-in's next rename must not find it open
  }
}

/** The clock QAV stamps written with, in milliseconds, as a BigInt. Node has no
    GetTickCount64: on Windows os.uptime() counts the same time since the system started. */
export function tickMs() {
  if (WINDOWS) return BigInt(Math.floor(os.uptime() * 1000));
  return process.hrtime.bigint() / 1000000n; // CLOCK_MONOTONIC on Linux
}

/** Whether pid runs and started no later than written (the session's first document). Node
    cannot read a process's start time on Windows: there it goes by pid alone. */
export function writerAlive(pid, written) {
  let fields;
  try {
    fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(')').pop().trim().split(' ');
  } catch {
    if (!WINDOWS && fs.existsSync('/proc')) return false;
    try {
      process.kill(pid, 0);
      return true;
    } catch (e) {
      return e.code === 'EPERM';
    }
  }
  if (fields[0] === 'Z' || fields[0] === 'X') return false;
  // the start time counts from boot, suspends included; written does not count them
  const booted = BigInt(Math.round(parseFloat(fs.readFileSync('/proc/uptime', 'latin1')) * 1000));
  const suspended = booted > tickMs() ? booted - tickMs() : 0n;
  const startMs = (BigInt(fields[19]) * 1000n) / 100n - suspended; // USER_HZ is 100 on Linux
  return startMs <= written + CLOCK_SLACK_MS;
}

/** The document, with written and job.income as BigInt read from the text itself:
    JSON.parse would round them past 2^53. Throws NotQav when it is not a QAV 1.x document. */
export function parse(data) {
  let doc;
  try {
    const text = new TextDecoder('utf-8', { fatal: true }).decode(data);
    // Inside a JSON string a quote is escaped, so "written": only ever starts a member.
    doc = JSON.parse(text.replace(/"(written|income)":(\d+)/g, '"$1":"$2"'));
  } catch {
    throw new NotQav('not a QAV document: not a JSON object');
  }
  if (doc === null || typeof doc !== 'object' || Array.isArray(doc))
    throw new NotQav('not a QAV document: not a JSON object');
  if (doc.plugin !== 'QAV') throw new NotQav('not a QAV document: its "plugin" is not "QAV"');
  if (typeof doc.version !== 'string' || !doc.version.startsWith('1.'))
    throw new NotQav(`a QAV document of version ${doc.version}: this reader knows 1.x only`);
  const u32 = (n) => Number.isInteger(n) && n >= 0 && n < 2 ** 32;
  if (typeof doc.written === 'string') doc.written = BigInt(doc.written);
  if (doc.job && typeof doc.job.income === 'string') doc.job.income = BigInt(doc.job.income);
  if (!u32(doc.pid) || typeof doc.written !== 'bigint' || doc.written >= 2n ** 64n ||
      !u32(doc.eventSeq) || typeof doc.paused !== 'boolean' || typeof doc.lastEvent !== 'string')
    throw new NotQav('not a QAV document: pid, written, paused, lastEvent or eventSeq ' +
                     'is missing or of the wrong type');
  return doc;
}

const sleep = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

function closingShape(doc) {
  return doc.paused && !doc.job && doc.lastEvent === 'game.closed';
}

export class Reader {
  constructor(dir) {
    this.path = path.join(dir, 'telemetry.json');
    this.stamp = null;        // of the last read
    this.bytes = Buffer.alloc(0); // the last new document's bytes
    this.doc = null;
    this.events = 0;          // gameplay events since the previous document: eventSeq's rise
    this.closing = false;     // the last document is the session's closing one
    this.sessionWritten = 0n; // written of the session's first document read
    this.documents = 0;       // new documents read
    this.reads = 0;           // times the file was opened
  }

  /** Reads the file if its last-write time or size changed. true for a new document
      (this.doc and this.events set), false for none; throws NotQav for a refused one. */
  poll() {
    const stamp = stampOf(this.path);
    if (stamp === null || stamp === this.stamp) return false;
    let data = null;
    // a sharing violation or a file being replaced passes in a few milliseconds
    for (let attempt = 0; attempt < 5; attempt++) {
      this.reads++;
      data = readFile(this.path);
      if (data && data.length > 0 && data[data.length - 1] === 0x0a) break;
      sleep(5);
    }
    if (data === null) return false;
    this.stamp = stamp;
    if (data.length > MAX_DOCUMENT) throw new NotQav('not a QAV document: larger than 8 KiB');
    if (data.length === 0 || data[data.length - 1] !== 0x0a)
      throw new NotQav('not a QAV document: it does not end with a line feed (cut short?)');
    if (data.equals(this.bytes)) return false;
    const doc = parse(data);

    // a new pid, or a load document (no event yet, eventSeq back at 0), starts a session
    const prev = this.doc;
    const fresh = prev === null || doc.pid !== prev.pid ||
                  (doc.eventSeq === 0 && doc.lastEvent === '');
    this.events = (doc.eventSeq - (fresh ? 0 : prev.eventSeq) + 2 ** 32) % 2 ** 32;
    if (fresh) this.sessionWritten = doc.written;
    // the closing document is paused, has no job and names game.closed without counting it;
    // a gameplay event of that name raises eventSeq, and the documents after it keep naming it
    this.closing = closingShape(doc) &&
                   (fresh || (this.events === 0 && prev.lastEvent !== 'game.closed'));
    this.bytes = Buffer.from(data);
    this.doc = doc;
    this.documents++;
    return true;
  }

  verdict() {
    if (this.doc === null) return 'waiting for the plug-in';
    const now = tickMs(), doc = this.doc;
    // a tick from the future was taken before this machine last started
    const alive = doc.written <= now + CLOCK_SLACK_MS && writerAlive(doc.pid, this.sessionWritten);
    // a closing document that also wrote a waiting event counted it: once its writer is gone,
    // its shape is enough
    if (this.closing || (!alive && closingShape(doc))) return 'closed';
    if (!alive) return 'host gone without a closing document';
    if (now < doc.written + STALE_MS) return 'live';
    return `stale ${(now - doc.written) / 1000n} s`;
  }
}

/** qav-reader [DIR]: one line per new document and one per verdict change, until Ctrl+C. */
export function main(argv = process.argv.slice(2)) {
  const dir = findDir(argv[0]);
  if (dir === null) {
    console.error('qav-reader: the system does not say where the data folder is: give it');
    process.exit(2);
  }
  const reader = new Reader(dir);
  let said = null;
  console.log(`reading ${reader.path}`);
  setInterval(() => {
    try {
      if (reader.poll()) {
        const d = reader.doc;
        console.log(`document ${reader.documents}: pid ${d.pid}, written ${d.written}, ` +
                    `${d.paused ? 'paused' : 'running'}, ` +
                    `event ${JSON.stringify(d.lastEvent)} #${d.eventSeq} (+${reader.events})`);
      }
    } catch (e) {
      if (!(e instanceof NotQav)) throw e;
      console.log(`refused: ${e.message}`);
    }
    const verdict = reader.verdict();
    if (verdict !== said) console.log(`verdict: ${(said = verdict)}`);
  }, 20);
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) main();

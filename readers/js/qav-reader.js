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
const WRAP = 2 ** 32; // eventSeq's modulus

/** The file is not a QAV 1.x document; the message says why. */
export class NotQav extends Error {}

const NO_FOLDER = 'the system does not say where the data folder is: give it';

/** The folder QAV writes to: given, or %LOCALAPPDATA%\QAV, $XDG_DATA_HOME/QAV,
    ~/.local/share/QAV. null when the system does not say. */
export function findDir(given) {
  if (given) return given;
  if (WINDOWS) return process.env.LOCALAPPDATA ? path.join(process.env.LOCALAPPDATA, 'QAV') : null;
  const xdg = process.env.XDG_DATA_HOME ?? '';
  if (xdg.startsWith('/')) return path.join(xdg, 'QAV');
  return process.env.HOME ? path.join(process.env.HOME, '.local', 'share', 'QAV') : null;
}

/** Throws a RangeError when the system refuses the path as too long (ENAMETOOLONG): a
    reader would otherwise wait in silence, for ever, for a file it cannot even name. */
function refuseTooLong(dir, file) {
  try {
    fs.statSync(file, { throwIfNoEntry: false });
  } catch (e) {
    if (e.code !== 'ENAMETOOLONG') return;
    // the system's words without the path, which is the very thing too long to show
    throw new RangeError(`the folder path is too long (${Buffer.byteLength(dir)} bytes; the ` +
                         `system says ${e.message.split(',')[0]})`);
  }
}

/** Last-write time, size and file number (new with every replace on POSIX), queried by name
    so that no handle is left open to stall a rename; null when missing or not a file. stat
    is fs.statSync or fs.promises.stat: the result, or a promise of it, follows. */
function stampOf(stat, file) {
  const stamp = (s) => s.isFile() ? { key: `${s.mtimeNs} ${s.size} ${s.ino}`, mtimeMs: s.mtimeMs } : null;
  try {
    const s = stat(file, { bigint: true });
    return s instanceof Promise ? s.then(stamp, () => null) : stamp(s);
  } catch {
    return null;
  }
}

// Opening never waits: a FIFO renamed over the document between the stat and the open would
// otherwise hold the reader for good. What was opened is read only if it is a regular file.
const OPEN_FLAGS = fs.constants.O_RDONLY | (fs.constants.O_NONBLOCK ?? 0);

/** The file's first MAX_DOCUMENT + 1 bytes, or null to try again (missing, not a regular
    file, or held by someone who does not share it). Node opens with read, write and delete
    sharing on Windows. */
function readFile(file) {
  let fd;
  try {
    fd = fs.openSync(file, OPEN_FLAGS);
    if (!fs.fstatSync(fd).isFile()) return null;
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

/** readFile through fs.promises. */
async function readFileAsync(file) {
  let handle;
  try {
    handle = await fs.promises.open(file, OPEN_FLAGS);
    if (!(await handle.stat()).isFile()) return null;
    const buf = Buffer.alloc(MAX_DOCUMENT + 1);
    let total = 0, got;
    while (total < buf.length &&
           (got = (await handle.read(buf, total, buf.length - total, null)).bytesRead) > 0)
      total += got;
    return buf.subarray(0, total);
  } catch {
    return null;
  } finally {
    await handle?.close();
  }
}

/** Whether dir lies in a Wine prefix: a "drive_c" folder above it beside the prefix's
    system.reg, or its dosdevices folder, which Wine makes with the prefix while it saves
    system.reg only later. Only a reader outside Wine can tell, so never on Windows. */
function inWinePrefix(dir) {
  if (WINDOWS) return false;
  let at;
  try {
    at = fs.realpathSync(dir);
  } catch {
    at = path.resolve(dir);
  }
  for (; path.dirname(at) !== at; at = path.dirname(at)) {
    if (path.basename(at) !== 'drive_c') continue;
    const beside = (name) => fs.statSync(path.join(path.dirname(at), name), { throwIfNoEntry: false });
    if (beside('system.reg')?.isFile() || beside('dosdevices')?.isDirectory()) return true;
  }
  return false;
}

/** Clock ticks per second of /proc's start times, from the kernel's AT_CLKTCK in
    /proc/self/auxv (Node has no sysconf); 100, Linux's usual, if it cannot be read. */
function clockTicks() {
  const AT_NULL = 0n, AT_CLKTCK = 17n;
  try {
    const auxv = fs.readFileSync('/proc/self/auxv');
    const wide = ['arm64', 'loong64', 'mips64el', 'ppc64', 'riscv64', 's390x', 'x64'].includes(process.arch);
    const word = wide ? 8 : 4;
    const read = (at) => wide ? auxv.readBigUInt64LE(at) : BigInt(auxv.readUInt32LE(at));
    for (let at = 0; at + 2 * word <= auxv.length; at += 2 * word) {
      const type = read(at);
      if (type === AT_NULL) break;
      if (type === AT_CLKTCK && read(at + word) > 0n) return read(at + word);
    }
  } catch {
    // no /proc: the rate Linux gives user space on every architecture
  }
  return 100n;
}
let ticksPerSecond = null;

// Windows: written is GetTickCount64(). Node's nearest is os.uptime(), which libuv takes from
// GetTickCount64() since 1.45 (Node 20.3) but in whole seconds before (Node 18), too coarse for
// a 3 s boundary. So process.hrtime, fine-grained, is anchored to it: each look at os.uptime()
// can only lag the tick, so the largest offset seen is the closest.
let uptimeOffsetMs = null;

/** The clock QAV stamps written with, in milliseconds, as a BigInt: CLOCK_MONOTONIC on POSIX;
    on Windows GetTickCount64(), through os.uptime() anchored as said above. */
export function tickMs() {
  const hr = process.hrtime.bigint() / 1000000n;
  if (!WINDOWS) return hr; // libuv's hrtime is CLOCK_MONOTONIC on POSIX
  const offset = BigInt(Math.floor(os.uptime() * 1000)) - hr;
  if (uptimeOffsetMs === null || offset > uptimeOffsetMs) uptimeOffsetMs = offset;
  return hr + uptimeOffsetMs;
}

/** The highest pid this system gives: /proc/sys/kernel/pid_max, or Linux's largest. */
function pidMax() {
  try {
    return Number(fs.readFileSync('/proc/sys/kernel/pid_max', 'latin1'));
  } catch {
    return 4194304;
  }
}

/** Whether a process with this pid runs, by the pid alone. */
function pidRuns(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch (e) {
    return e.code === 'EPERM';
  }
}

/** Whether pid runs and started no later than written (the session's first document, on
    tickMs()'s clock). pid 0, and a number that is no pid here, never does. Where the start
    time cannot be read (Windows, or /proc hiding other users' processes) it goes by pid alone. */
export function writerAlive(pid, written) {
  if (!Number.isInteger(pid) || pid <= 0 || pid >= WRAP) return false;
  if (!WINDOWS && (pid >= 2 ** 31 || pid > pidMax())) return false;
  let fields;
  try {
    fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(')').pop().trim().split(' ');
  } catch {
    return pidRuns(pid);
  }
  if (fields[0] === 'Z' || fields[0] === 'X') return false;
  // the start time counts from boot, suspends included; written does not count them
  const booted = BigInt(Math.round(parseFloat(fs.readFileSync('/proc/uptime', 'latin1')) * 1000));
  const now = tickMs();
  const suspended = booted > now ? booted - now : 0n;
  ticksPerSecond ??= clockTicks();
  const startMs = (BigInt(fields[19]) * 1000n) / ticksPerSecond - suspended;
  return startMs <= written + CLOCK_SLACK_MS;
}

const NESTING_MAX = 64; // objects and arrays within each other, the document's object included

/** A JSON number as spelt, until a member's type says what it must be. */
class Spelling {
  constructor(text) {
    this.text = text;
  }
}

const ESCAPES = new Map([['"', '"'], ['\\', '\\'], ['/', '/'], ['b', '\b'], ['f', '\f'],
                         ['n', '\n'], ['r', '\r'], ['t', '\t']]);

/** An own, enumerable member, even one named __proto__. */
function put(object, key, value) {
  Object.defineProperty(object, key, { value, writable: true, enumerable: true, configurable: true });
}

/** Exactly one JSON value by RFC 8259, whitespace allowed around every token. Objects never
    hold a key twice and nest at most NESTING_MAX deep; numbers come back as a Spelling. */
function parseJson(text) {
  let i = 0;
  const fail = (what) => {
    throw new NotQav(`not a QAV document: not JSON: ${what} at character ${i + 1}`);
  };
  const isDigit = () => i < text.length && text[i] >= '0' && text[i] <= '9';
  const skipSpace = () => {
    while (text[i] === ' ' || text[i] === '\t' || text[i] === '\n' || text[i] === '\r') i++;
  };
  const expect = (c, what) => {
    skipSpace();
    if (text[i] !== c) fail(`${what} expected`);
    i++;
  };

  function hex4() {
    let code = 0;
    for (const end = i + 4; i < end; i++) {
      const d = i < text.length ? '0123456789abcdef'.indexOf(text[i].toLowerCase()) : -1;
      if (d < 0) fail('four hexadecimal digits expected');
      code = code * 16 + d;
    }
    return code;
  }

  function string() {
    i++; // the opening quote
    let out = '', from = i;
    for (;;) {
      if (i >= text.length) fail('a text without its closing quote');
      const c = text.charCodeAt(i);
      if (c === 0x22) break;
      if (c < 0x20) fail('a control character not escaped');
      if (c !== 0x5c) {
        i++;
        continue;
      }
      out += text.slice(from, i++);
      const simple = ESCAPES.get(text[i]);
      if (simple !== undefined) {
        out += simple;
        i++;
      } else if (text[i] === 'u') {
        i++;
        const unit = hex4();
        if (unit >= 0xdc00 && unit <= 0xdfff) fail('a lone surrogate');
        if (unit >= 0xd800 && unit <= 0xdbff) {
          if (text[i] !== '\\' || text[i + 1] !== 'u') fail('a lone surrogate');
          i += 2;
          const low = hex4();
          if (low < 0xdc00 || low > 0xdfff) fail('a lone surrogate');
          out += String.fromCharCode(unit, low);
        } else {
          out += String.fromCharCode(unit);
        }
      } else {
        fail('an unknown escape');
      }
      from = i;
    }
    out += text.slice(from, i++);
    return out;
  }

  function number() {
    const from = i;
    if (text[i] === '-') i++;
    if (text[i] === '0') i++;
    else if (isDigit()) while (isDigit()) i++;
    else fail('a value expected');
    if (text[i] === '.') {
      i++;
      if (!isDigit()) fail('digits expected after the point');
      while (isDigit()) i++;
    }
    if (text[i] === 'e' || text[i] === 'E') {
      i++;
      if (text[i] === '+' || text[i] === '-') i++;
      if (!isDigit()) fail('digits expected in the exponent');
      while (isDigit()) i++;
    }
    return new Spelling(text.slice(from, i));
  }

  function container(depth, close, member) {
    if (depth > NESTING_MAX)
      throw new NotQav(`not a QAV document: nested more than ${NESTING_MAX} deep`);
    i++;
    skipSpace();
    if (text[i] === close) {
      i++;
      return;
    }
    for (;;) {
      member();
      skipSpace();
      if (text[i] === close) break;
      if (text[i] !== ',') fail(`',' or '${close}' expected`);
      i++;
    }
    i++;
  }

  function value(depth) {
    skipSpace();
    const c = text[i];
    if (c === '{') {
      const object = {};
      container(depth, '}', () => {
        skipSpace();
        if (text[i] !== '"') fail('a key expected');
        const key = string();
        expect(':', "':'");
        const v = value(depth + 1);
        if (Object.hasOwn(object, key))
          throw new NotQav(`not a QAV document: ${JSON.stringify(key)} twice in one object`);
        put(object, key, v);
      });
      return object;
    }
    if (c === '[') {
      const array = [];
      container(depth, ']', () => array.push(value(depth + 1)));
      return array;
    }
    if (c === '"') return string();
    for (const [word, meaning] of [['true', true], ['false', false], ['null', null]])
      if (text.startsWith(word, i)) {
        i += word.length;
        return meaning;
      }
    return number();
  }

  const result = value(1);
  skipSpace();
  if (i < text.length) fail('more after the value');
  return result;
}

// The members of a 1.x document and their types. Integers must be spelt as digits alone.
const TEXT = 'a text', BOOLEAN = 'true or false', NUMBER = 'a number or null';
const U32 = 'an integer 0..2^32-1', U64 = 'an integer 0..2^64-1';
const POSITION = { x: NUMBER, y: NUMBER, z: NUMBER };
const JOB = {
  cargo: TEXT, cargoId: TEXT, sourceCity: TEXT, sourceCityId: TEXT, sourceCompany: TEXT,
  sourceCompanyId: TEXT, destinationCity: TEXT, destinationCityId: TEXT, destinationCompany: TEXT,
  destinationCompanyId: TEXT, income: U64, cargoMass: NUMBER, deliveryTime: U32, plannedKm: U32,
};
const DOCUMENT = {
  pid: U32, written: U64, game: TEXT, gameVersion: TEXT, paused: BOOLEAN, gameTime: U32,
  position: POSITION, speed: NUMBER, job: { nullable: JOB }, lastEvent: TEXT, eventSeq: U32,
};
const LIMITS = new Map([[U32, 2n ** 32n], [U64, 2n ** 64n]]);

const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v) && !(v instanceof Spelling);

/** A value outside the known members: numbers as Numbers, the rest as JSON.parse gives it. */
function plain(v) {
  if (v instanceof Spelling) return Number(v.text);
  if (Array.isArray(v)) return v.map(plain);
  if (isObject(v)) for (const key of Object.keys(v)) put(v, key, plain(v[key]));
  return v;
}

/** v as the type says, or NotQav naming the member. */
function typed(v, type, name) {
  const wrong = (what) => new NotQav(`not a QAV document: ${JSON.stringify(name)} is not ${what}`);
  if (type === TEXT || type === BOOLEAN) {
    if (typeof v !== (type === TEXT ? 'string' : 'boolean')) throw wrong(type);
    return v;
  }
  if (type === NUMBER) {
    if (v !== null && !(v instanceof Spelling)) throw wrong(type);
    return v && Number(v.text);
  }
  if (LIMITS.has(type)) {
    // digits alone: no sign, point or exponent, so "-0", "5.0" and "1e3" are not integers
    if (!(v instanceof Spelling) || [...v.text].some((c) => c < '0' || c > '9')) throw wrong(type);
    const n = BigInt(v.text);
    if (n >= LIMITS.get(type)) throw wrong(type);
    return type === U64 ? n : Number(n);
  }
  if (type.nullable) return v === null ? null : typed(v, type.nullable, name);
  if (!isObject(v)) throw wrong(type === JOB ? 'an object or null' : 'an object');
  const member = (key) => name === '' ? key : `${name}.${key}`;
  for (const key of Object.keys(v))
    put(v, key, Object.hasOwn(type, key) ? typed(v[key], type[key], member(key)) : plain(v[key]));
  for (const key of Object.keys(type))
    if (!Object.hasOwn(v, key))
      throw new NotQav(`not a QAV document: ${JSON.stringify(member(key))} is missing`);
  return v;
}

/** JSON.stringify's view of a document: written and job.income, BigInts, as decimal texts. */
function documentJson() {
  const out = { ...this, written: String(this.written) };
  if (this.job !== null) out.job = { ...this.job, income: String(this.job.income) };
  return out;
}

/** The document in data (bytes; its final line feed may be there). written and job.income are
    BigInts, the other integers Numbers; JSON.stringify renders the BigInts as decimal texts.
    Throws NotQav, naming what is wrong, for anything but a QAV 1.x document. */
export function parse(data) {
  let text;
  try {
    text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(data);
  } catch {
    throw new NotQav('not a QAV document: not UTF-8');
  }
  if (text.charCodeAt(0) === 0xfeff) throw new NotQav('not a QAV document: a byte order mark first');
  const doc = parseJson(text);
  if (!isObject(doc)) throw new NotQav('not a QAV document: not a JSON object');
  if (doc.plugin !== 'QAV') throw new NotQav('not a QAV document: its "plugin" is not "QAV"');
  if (typeof doc.version !== 'string') throw new NotQav('not a QAV document: its "version" is not a text');
  if (!doc.version.startsWith('1.'))
    throw new NotQav(`a QAV document of version ${doc.version}: this reader knows 1.x only`);
  typed(doc, DOCUMENT, '');
  Object.defineProperty(doc, 'toJSON', { value: documentJson, writable: true, configurable: true });
  return doc;
}

const CLOSED_EVENT = 'game.closed'; // the closing document's lastEvent
const DOCUMENT_NAME = 'telemetry.json';
const RECENT_PIDS = 4;              // writers remembered at once, the least recently seen dropped
const WRITER_CHECK_MS = 1000n;      // a look at the writer's process stays good this long

/** paused, no job, game.closed: how the closing document looks (a gameplay event may too). */
function closingShape(doc) {
  return doc.paused === true && doc.job === null && doc.lastEvent === CLOSED_EVENT;
}

/** The load document: what the plug-in publishes before the host sends anything. */
function loadShape(doc) {
  return doc.paused === true && doc.gameTime === 0 && doc.job === null && doc.lastEvent === '' &&
         doc.eventSeq === 0;
}

export class Reader {
  #checkWriter; // undefined: decided by the folder and the pid; true or false: forced
  #dir;
  #wine = false; // the folder lies in a Wine prefix: its pids and ticks are not this system's
  #writers = new Map(); // pid -> its last document (eventSeq, written, load, closing,
                        // lastEvent) and its session's start (since on tickMs(), sessionWritten)
  #shared = false;      // another writer published less than STALE_MS before this document
  #docTick = 0n;        // when the last document was written, on tickMs()'s clock
  #unfinished = null;   // the stamp of a read without its line feed, refused if read so twice
  #look = null;         // the last look at the writer's process: { key, at, runs }

  /** dir: the folder, or undefined or "" for the data folder (findDir()). options.checkWriter:
      undefined to decide by the folder (a Wine prefix cannot be checked) and the pid, true to
      check the writer's process, false to judge by the document's age alone. Throws a
      TypeError when there is no data folder to be found, a RangeError when the system refuses
      the path as too long. */
  constructor(dir, { checkWriter } = {}) {
    dir = findDir(dir);
    if (dir === null) throw new TypeError(NO_FOLDER);
    this.path = path.join(dir, DOCUMENT_NAME);
    refuseTooLong(dir, this.path);
    this.#checkWriter = checkWriter;
    this.#dir = dir;
    this.stamp = null;        // of the last read
    this.bytes = Buffer.alloc(0); // the last new document's bytes
    this.doc = null;
    this.events = 0;          // gameplay events since the previous document: eventSeq's rise
    this.newSession = false;  // the last document began a session: events counted afresh
    this.closing = false;     // the last document is the session's closing one
    this.sessionWritten = 0n; // written of the session's first document read
    this.documents = 0;       // new documents read
    this.reads = 0;           // times the file was opened
  }

  /** Reads the file if its last-write time or size changed. true for a new document
      (this.doc, this.events and this.newSession set), false for none; throws NotQav for a
      refused one. Never waits: a file being replaced is read again at the next poll. */
  poll() {
    const stamp = stampOf(fs.statSync, this.path);
    if (stamp === null || stamp.key === this.stamp) return false;
    this.reads++;
    return this.#take(stamp, readFile(this.path));
  }

  /** poll() with the event loop left free: fs.promises for every step. */
  async #pollAsync() {
    const stamp = await stampOf(fs.promises.stat, this.path);
    if (stamp === null || stamp.key === this.stamp) return false;
    this.reads++;
    return this.#take(stamp, await readFileAsync(this.path));
  }

  #take(stamp, data) {
    if (data === null) return false; // gone, not a regular file, or not shared: next poll
    const whole = data.length > 0 && data[data.length - 1] === 0x0a;
    if (!whole && data.length <= MAX_DOCUMENT && this.#unfinished !== stamp.key) {
      this.#unfinished = stamp.key; // being written in place: one more look before refusing
      return false;
    }
    this.#unfinished = null;
    this.stamp = stamp.key;
    if (data.length > MAX_DOCUMENT)
      throw new NotQav(`not a QAV document: larger than ${MAX_DOCUMENT / 1024} KiB`);
    if (!whole) throw new NotQav('not a QAV document: it does not end with a line feed (cut short?)');
    if (data.equals(this.bytes)) return false;
    const doc = parse(data);
    // A new prefix has its system.reg only once Wine first saves it: look again at every writer
    // not seen before, until found.
    if (!this.#wine && !this.#writers.has(doc.pid)) this.#wine = inWinePrefix(this.#dir);
    // In a Wine prefix written counts on Wine's clock, which Node cannot read: the file's
    // last-write time against the wall clock dates it instead, taken over to tickMs() at once
    // so that a later change of the wall clock does not age it.
    const docTick = this.#wine ? tickMs() - (BigInt(Date.now()) - stamp.mtimeMs) : doc.written;
    this.#count(doc, docTick);
    this.bytes = Buffer.from(data);
    this.doc = doc;
    this.#docTick = docTick;
    this.documents++;
    return true;
  }

  /** Sessions, events, closing and sharing, per writer: two hosts on one folder each count
      their own events. */
  #count(doc, docTick) {
    const prev = this.#writers.get(doc.pid);
    const rise = prev ? (doc.eventSeq - prev.eventSeq + WRAP) % WRAP : 0;
    const load = loadShape(doc);
    const fresh = prev === undefined || (load && !prev.load) || doc.written < prev.written ||
                  rise >= WRAP / 2; // eventSeq fell: a restart whose load document was missed
    this.newSession = fresh;
    this.events = fresh ? doc.eventSeq : rise;
    // a gameplay event of that name raises eventSeq, and the documents after it keep naming it
    this.closing = closingShape(doc) &&
                   (fresh || (rise === 0 && prev.lastEvent !== CLOSED_EVENT));
    // Two writers share the folder when another, not closed, wrote less than STALE_MS ago.
    this.#shared = false;
    for (const [pid, other] of this.#writers)
      if (pid !== doc.pid && !other.closing && doc.written - other.written < STALE_MS)
        this.#shared = true;
    const since = fresh ? docTick : prev.since;
    this.sessionWritten = fresh ? doc.written : prev.sessionWritten;
    this.#writers.delete(doc.pid);
    this.#writers.set(doc.pid, { eventSeq: doc.eventSeq, written: doc.written, since, load,
                                 closing: this.closing, lastEvent: doc.lastEvent,
                                 sessionWritten: this.sessionWritten });
    if (this.#writers.size > RECENT_PIDS) this.#writers.delete(this.#writers.keys().next().value);
  }

  /** Whether the writer's process is looked at: not in a Wine prefix or for pid 1 (a host in
      its own pid namespace), unless forced; pid 1 never. */
  #checksWriter() {
    if (this.doc.pid === 1) return false;
    return this.#checkWriter ?? !this.#wine;
  }

  /** The status now: { kind, ageMs, writerChecked, shared }. */
  status() {
    return this.statusAt(tickMs());
  }

  /** The status when tickMs() reads now (a BigInt): status() is statusAt(tickMs()). */
  statusAt(now) {
    if (this.doc === null) return { kind: 'waiting', ageMs: null, writerChecked: false, shared: false };
    const doc = this.doc, checked = this.#checksWriter();
    // a stamp from the future was taken before this machine last started: its age is unknown
    const age = this.#ahead(now) ? null : now > this.#docTick ? now - this.#docTick : 0n;
    // the closing document needs no look at its writer
    const runs = age === null || (checked && this.closing) ? false
               : checked ? this.#writerRuns(now) : age < STALE_MS;
    // a closing document that also wrote a waiting event counted it: once its writer is gone,
    // its shape is enough
    let kind;
    if (this.closing || (!runs && closingShape(doc))) kind = 'closed';
    else if (!runs && checked) kind = 'gone';
    else kind = age !== null && age < STALE_MS ? 'live' : 'stale';
    return { kind, ageMs: age === null ? null : Number(age), writerChecked: checked,
             shared: this.#shared };
  }

  /** Whether the last document is stamped further ahead of now than clocks can disagree. */
  #ahead(now) {
    return this.#docTick > now + CLOCK_SLACK_MS;
  }

  /** writerAlive, asked at most once a WRITER_CHECK_MS while the session stays the same. */
  #writerRuns(now) {
    const since = this.#writers.get(this.doc.pid)?.since ?? this.#docTick;
    const key = `${this.doc.pid} ${since}`;
    if (this.#look === null || this.#look.key !== key || now - this.#look.at >= WRITER_CHECK_MS ||
        now < this.#look.at)
      this.#look = { key, at: now, runs: writerAlive(this.doc.pid, since) };
    return this.#look.runs;
  }

  /** The status in words, as the command prints it. */
  verdict() {
    return statusText(this.status());
  }

  /** Changes as they come: an async iterable of { document, status, events, newSession,
      problem }, the first at once. It never blocks the event loop, and ends when the loop
      over it ends or signal aborts, closing its watch and timers.

      It watches the folder (fs.watch: inotify on Linux, ReadDirectoryChangesW on Windows) and
      polls as soon as telemetry.json is replaced or written; it also wakes when the status
      would change with nothing written (the stale age reached, the writer's process due for
      its look, once a second) and polls once a second whatever the watch says, for changes a
      watch misses (a drive that does not report them) and to find a folder made anew. Where
      the folder is not there yet, or the system will not watch it, it polls every intervalMs
      instead. */
  async *follow({ intervalMs = 20, signal } = {}) {
    let timer, immediate = null, wake = null, told = false;
    const rouse = () => {
      clearTimeout(timer);
      const resolve = wake;
      wake = null;
      resolve?.();
    };
    // The events of one turn of the event loop (the temp file renamed over the document, or
    // several writes in place) make one poll, once that turn's other I/O is through.
    const folder = new FolderWatch(this.#dir, () => {
      told = true;
      immediate ??= setImmediate(() => {
        immediate = null;
        if (told) rouse();
      });
    });
    signal?.addEventListener('abort', rouse, { once: true });
    try {
      let said = null, tended = null;
      while (!signal?.aborted) {
        if (tended === null || tickMs() - tended >= SAFETY_MS || folder.missing) {
          tended = tickMs();
          folder.renew();
        }
        told = false; // an event from here on may have come after this poll's stat: poll again
        let fresh = false, problem = null;
        try {
          fresh = await this.#pollAsync();
        } catch (e) {
          if (!(e instanceof NotQav)) throw e;
          problem = e.message;
        }
        const status = this.status();
        if (fresh || problem !== null || statusKey(status) !== said) {
          said = statusKey(status);
          yield { document: fresh ? this.doc : null, status, events: fresh ? this.events : 0,
                  newSession: fresh && this.newSession, problem };
        }
        if (signal?.aborted) break;
        if (told) continue;
        const now = tickMs();
        const poll = folder.failed || folder.missing ? intervalMs : Number(tended + SAFETY_MS - now);
        const ms = Math.max(1, Math.min(poll, this.#nextChangeIn(now)));
        await new Promise((resolve) => {
          wake = resolve;
          timer = setTimeout(rouse, ms);
        });
      }
    } finally {
      clearTimeout(timer);
      clearImmediate(immediate);
      folder.close();
      signal?.removeEventListener('abort', rouse);
    }
  }

  /** Milliseconds until the status can change with nothing written: the stale age reached, a
      stamp from the future come within the slack, the look at the writer's process due. */
  #nextChangeIn(now) {
    if (this.doc === null || this.closing) return Infinity; // closed stays closed
    const at = [];
    if (this.#ahead(now)) at.push(this.#docTick - CLOCK_SLACK_MS);
    else if (this.#docTick + STALE_MS > now) at.push(this.#docTick + STALE_MS);
    if (this.#look !== null && this.#checksWriter()) at.push(this.#look.at + WRITER_CHECK_MS);
    return at.reduce((ms, t) => Math.min(ms, Number(t - now)), Infinity);
  }
}

const SAFETY_MS = 1000n; // while the folder is watched, follow() still polls this often

/** What tells follow() that the folder may have changed: fs.watch on it. */
class FolderWatch {
  #dir;
  #hear;           // called when telemetry.json may have changed
  #watcher = null;
  failed = false;  // the system would not watch the folder, or the watch broke
  missing = false; // the folder is not there (yet): a host's first documents come with it

  constructor(dir, hear) {
    this.#dir = dir;
    this.#hear = hear;
  }

  /** Watches the folder as it is now. A watch stays with the folder it was given, even once
      that is deleted or moved away, so follow() renews it at every safety poll: a folder made
      anew is heard within a second. The new watch starts before the old one ends. */
  renew() {
    let watcher = null;
    try {
      // Not persistent: as with a plain poll, a follow() left at a change (its loop neither
      // broken nor done) keeps nothing running; its timer holds the process while it waits.
      watcher = fs.watch(this.#dir, { persistent: false }, (type, name) => {
        // the temp file's own events, before its rename, are not the document's
        if (!name || String(name).toLowerCase() === DOCUMENT_NAME) this.#hear();
      });
      // Windows reports a watched folder deleted as an error; closing at once frees its name
      // for the plug-in to make it again.
      watcher.on('error', () => {
        if (watcher !== this.#watcher) return;
        this.close();
        this.failed = true;
        this.#hear();
      });
      this.failed = this.missing = false;
    } catch (e) {
      // not there yet is no failure: follow() polls, and looks for it, every intervalMs until
      // it is, so that the documents of the host that makes it are not missed
      this.missing = e.code === 'ENOENT' || e.code === 'ENOTDIR';
      this.failed = !this.missing;
    }
    this.#watcher?.close();
    this.#watcher = watcher;
  }

  close() {
    this.#watcher?.close();
    this.#watcher = null;
  }
}

/** What a change of status is told by: not the age, which changes all the time. */
function statusKey(status) {
  return `${status.kind} ${status.writerChecked} ${status.shared}`;
}

const KIND_TEXT = {
  waiting: () => 'waiting for the plug-in',
  live: () => 'live',
  stale: (s) => s.ageMs === null ? 'stale' : `stale ${Math.floor(s.ageMs / 1000)} s`,
  closed: () => 'closed',
  gone: () => 'host gone without a closing document',
};

/** A status in words: "live", "stale 5 s (writer not checked)", ... */
export function statusText(status) {
  let text = KIND_TEXT[status.kind](status);
  if (status.kind !== 'waiting' && !status.writerChecked) text += ' (writer not checked)';
  if (status.shared) text += ' (two writers share this folder)';
  return text;
}

const USAGE = 'usage: qav-reader [--age-only | --check-writer] [DIR]';

/** The command's arguments: { dir, checkWriter }, or a string saying what is wrong. */
function parseArguments(argv) {
  let dir, checkWriter, options = true;
  for (const arg of argv) {
    if (options && arg === '--') options = false;
    else if (options && (arg === '--age-only' || arg === '--check-writer')) {
      if (checkWriter !== undefined) return 'give --age-only or --check-writer once';
      checkWriter = arg === '--check-writer';
    } else if (options && arg.startsWith('-') && arg !== '-') return `unknown option ${arg}`;
    else if (dir !== undefined) return 'give one folder at most';
    else dir = arg;
  }
  return { dir, checkWriter };
}

/** qav-reader [--age-only | --check-writer] [DIR]: one line per new document or refusal, and
    one per change of verdict, until Ctrl+C. */
export async function main(argv = process.argv.slice(2)) {
  const args = parseArguments(argv);
  if (typeof args === 'string') {
    console.error(`qav-reader: ${args}\n${USAGE}`);
    process.exit(2);
  }
  const dir = findDir(args.dir);
  if (dir === null) {
    console.error(`qav-reader: ${NO_FOLDER}`);
    process.exit(2);
  }
  let reader;
  try {
    reader = new Reader(dir, { checkWriter: args.checkWriter });
  } catch (e) {
    if (!(e instanceof RangeError)) throw e;
    console.error(`qav-reader: ${e.message}`);
    process.exit(2);
  }
  for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(0));
  let said = null;
  console.log(`reading ${reader.path}`);
  for await (const change of reader.follow()) {
    const d = change.document;
    if (d)
      console.log(`document ${reader.documents}: pid ${d.pid}, written ${d.written}, ` +
                  `${d.paused ? 'paused' : 'running'}, ` +
                  `event ${JSON.stringify(d.lastEvent)} #${d.eventSeq} (+${change.events})`);
    if (change.problem !== null) console.log(`refused: ${change.problem}`);
    if (statusKey(change.status) !== said) {
      said = statusKey(change.status);
      console.log(`verdict: ${statusText(change.status)}`);
    }
  }
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) main();

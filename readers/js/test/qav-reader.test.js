// What a reader can get wrong, against fabricated documents and the recordings in
// docs/recordings. The command beside real drives: readers/tests/drive.sh.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { setTimeout as delay } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';
import { NotQav, Reader, parse, tickMs } from '../qav-reader.js';

const ROOT = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', '..');
const RECORDINGS = path.join(ROOT, 'docs', 'recordings');
const TABLES = path.join(ROOT, 'readers', 'tests');
const GONE = 'host gone without a closing document';

const deadPid = () => spawnSync('true').pid;
// A game.closed document is paused, as the closing one is.
const document = (pid, written, lastEvent = '', eventSeq = 0) =>
  `{"plugin":"QAV","version":"1.0.0","pid":${pid},"written":${written},"game":"haulsim",` +
  `"gameVersion":"1.18","paused":${lastEvent === 'game.closed'},"gameTime":480,` +
  `"position":{"x":1.5,"y":2,"z":-3},"speed":0.0,"job":null,` +
  `"lastEvent":${JSON.stringify(lastEvent)},"eventSeq":${eventSeq}}\n`;

// A fresh folder, inside a fabricated Wine prefix if asked (its system.reg left out for
// "drive_c", and for "dosdevices", whose prefix has only that folder; its drive_c named
// otherwise for "no drive_c"), or reached through a symbolic link into one ("linked wine").
function folder(options, where = 'plain') {
  let dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qav-'));
  if (where !== 'plain') {
    const prefix = dir;
    dir = path.join(prefix, where === 'no drive_c' ? 'c' : 'drive_c', 'users', 'ana', 'AppData',
                    'Local', 'QAV');
    fs.mkdirSync(dir, { recursive: true });
    if (where === 'dosdevices') fs.mkdirSync(path.join(prefix, 'dosdevices'));
    else if (where !== 'drive_c') fs.writeFileSync(path.join(prefix, 'system.reg'), '');
    if (where === 'linked wine') fs.symlinkSync(dir, dir = path.join(prefix, 'link'));
  }
  const reader = new Reader(dir, options);
  // As the plug-in does: whole into the temp file, then renamed over the document.
  const publish = (data) => {
    fs.writeFileSync(`${reader.path}.tmp`, data);
    fs.renameSync(`${reader.path}.tmp`, reader.path);
  };
  return { reader, publish };
}

const rows = (name) =>
  fs.readFileSync(path.join(TABLES, name), 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));

test('documents.jsonl: what is accepted, with which values, and JSON.stringify keeps them', () => {
  for (const row of rows('documents.jsonl')) {
    const { reader, publish } = folder();
    publish(row.hex === undefined ? row.text : Buffer.from(row.hex, 'hex'));
    let doc = null, problem = '';
    try {
      // a read without its line feed gets one more look before it is refused
      if (reader.poll() || reader.poll()) doc = reader.doc;
    } catch (e) {
      if (!(e instanceof NotQav)) throw e;
      problem = e.message;
    }
    assert.equal(doc !== null, row.accept, `${row.name} ${problem}`);
    if (doc === null) continue;
    const again = JSON.parse(JSON.stringify(doc));
    for (const [member, expected] of Object.entries(row.values)) {
      const at = (d) => member.split('.').reduce((v, key) => v[key], d);
      const value = at(doc), big = typeof value === 'bigint', what = `${row.name}: ${member}`;
      // integers exact: written and job.income as BigInt, the rest as Number
      assert.equal(big, member === 'written' || member === 'job.income', what);
      assert.strictEqual(big || typeof value === 'number' ? String(value) : value, expected, what);
      if (big) assert.strictEqual(at(again), expected, `${what} through JSON.stringify`);
    }
  }
});

// Session rules the shared table leaves out, in its format.
const doc = (pid, written, eventSeq, lastEvent = 'a', paused = false) =>
  ({ pid, written, eventSeq, lastEvent, paused });
const MORE_SESSIONS = [
  { name: 'two load documents in a row are one session',
    documents: [doc(7, 1000, 0, '', true), doc(7, 1100, 0, '', true)],
    events: [0, 0], newSession: [true, false], closing: [false, false], shared: [false, false] },
  { name: 'the least recently seen of five writers is forgotten, not the first seen',
    documents: [doc(7, 1000, 5), doc(8, 10000, 0), doc(9, 20000, 0), doc(7, 30000, 6),
                doc(10, 40000, 0), doc(11, 50000, 0), doc(7, 60000, 7), doc(8, 70000, 1)],
    events: [5, 0, 0, 1, 0, 0, 1, 1], newSession: [true, true, true, false, true, true, false, true],
    closing: Array(8).fill(false), shared: Array(8).fill(false) },
  { name: 'another writer shares 2999 ms after (3000: the shared table)',
    documents: [doc(7, 1000, 0), doc(8, 3999, 0)],
    events: [0, 0], newSession: [true, true], closing: [false, false], shared: [false, true] },
];

test('sessions.jsonl: sessions, events, closing and shared folders', () => {
  const base = JSON.parse(rows('documents.jsonl').find((r) => r.accept).text);
  for (const row of [...rows('sessions.jsonl'), ...MORE_SESSIONS]) {
    const { reader, publish } = folder();
    const seen = { events: [], newSession: [], closing: [], shared: [] };
    for (const members of row.documents) {
      publish(`${JSON.stringify({ ...base, ...members, gameTime: 0, job: null })}\n`);
      assert.ok(reader.poll(), row.name);
      seen.events.push(reader.events);
      seen.newSession.push(reader.newSession);
      seen.closing.push(reader.closing);
      seen.shared.push(reader.statusAt(0n).shared);
    }
    assert.deepEqual(seen, { events: row.events, newSession: row.newSession,
                             closing: row.closing, shared: row.shared }, row.name);
  }
});

test('recordings: documents, events and verdicts', () => {
  // Every recorded pid becomes one that has exited, so that the verdict is the same on any
  // machine. The events: each document's, or their sum over the recording.
  const dead = [deadPid(), deadPid()];
  for (const [name, events, verdict] of [
    ['after-crash', 1, 'closed'], ['burst', 5, 'closed'], ['crash', 0, GONE],
    ['drive', 2, 'closed'], ['freeze', 1, 'closed'], ['job', 1, 'closed'],
    ['largest', 4294967295, GONE], ['lost-closing', 2, GONE], ['texts', 2, 'closed'],
    ['two-hosts', null, 'closed (two writers share this folder)'], ['wrap', [0, 4294967294, 1, 1, 3, 0], 'closed']]) {
    const { reader, publish } = folder();
    const pids = new Map(), seen = [];
    for (const line of fs.readFileSync(path.join(RECORDINGS, `${name}.jsonl`), 'utf8').split('\n')) {
      if (line === '') continue;
      const text = JSON.parse(line).document;
      const recorded = /"pid":(\d+),/.exec(text)[1];
      if (!pids.has(recorded)) pids.set(recorded, dead[pids.size]);
      publish(text.replace(`"pid":${recorded},`, `"pid":${pids.get(recorded)},`));
      assert.ok(reader.poll(), name);
      assert.equal(String(reader.doc.written), /"written":(\d+)/.exec(text)[1], name);
      seen.push(reader.events);
    }
    if (Array.isArray(events)) assert.deepEqual(seen, events, name);
    else if (events !== null) assert.equal(seen.reduce((a, b) => a + b), events, name);
    assert.equal(reader.verdict(), verdict, name);
    if (name === 'largest') {
      assert.equal(reader.doc.written, 18446744073709551615n);
      assert.equal(reader.doc.job.income, 18446744073709551615n);
    }
  }
});

test('verdicts, whose process is checked, and the age a Wine folder goes by', () => {
  const now = tickMs(), me = process.pid, dead = deadPid(), dead2 = deadPid();
  for (const [docs, verdict, { where, checkWriter, agedMs } = {}] of [
    [[], 'waiting for the plug-in'],
    [[[me, now, '', 0]], 'live'],
    [[[1, now - 5000n, 'toll.paid', 3]], 'stale 5 s (writer not checked)'],
    [[[dead, now, 'toll.paid', 3]], GONE],
    // this process took the pid of a writer that wrote before it started
    [[[me, 1n, 'toll.paid', 3]], GONE],
    [[[me, now + 3600000n, '', 0]], GONE],
    [[[me, now, 'toll.paid', 4], [me, now, 'game.closed', 4]], 'closed'],
    // a gameplay event of that name, and the document after it
    [[[me, now, 'toll.paid', 4], [me, now, 'game.closed', 5]], 'live'],
    [[[me, now, 'toll.paid', 4], [me, now, 'game.closed', 5], [me, now + 1n, 'game.closed', 5]], 'live'],
    // the closing document that also carries a pending event, its writer gone
    [[[dead, now, 'toll.paid', 4], [dead, now, 'game.closed', 5]], 'closed'],
    // a live writer replaced by one that is gone, within the second a look at a process holds;
    // both wrote within the stale age
    [[[me, now, 'toll.paid', 4], [dead, now, 'toll.paid', 5]], `${GONE} (two writers share this folder)`],
    [[[dead, now]], 'live (writer not checked)', { checkWriter: false }],
    // pid 0, and numbers no pid here takes
    [[[0, now]], GONE], [[[2 ** 31, now]], GONE], [[[4194305, now]], GONE],
    // this process started about process.uptime() ago, a second after this
    [[[me, now - BigInt(Math.round(process.uptime() * 1000)) - 1000n]], GONE],
    // a host in its own pid namespace writes 1, which here is always running
    [[[1, now]], 'live (writer not checked)', { checkWriter: true }],
    // Wine's pids are not this system's and its ticks not this clock: the file's age counts
    [[[dead, 1n]], 'live (writer not checked)', { where: 'wine' }],
    [[[dead, now]], 'stale 5 s (writer not checked)', { where: 'wine', agedMs: 5000 }],
    [[[dead, now]], 'live (writer not checked)', { where: 'linked wine' }],
    [[[dead, now]], GONE, { where: 'wine', checkWriter: true }],
    [[[dead, now]], 'live (writer not checked)', { where: 'dosdevices' }],
    [[[dead, now]], GONE, { where: 'drive_c' }], [[[dead, now]], GONE, { where: 'no drive_c' }],
    // a prefix whose system.reg Wine writes only after the reader started
    [[[dead, now], 'system.reg', [dead2, now]], 'live (writer not checked) (two writers share this folder)',
     { where: 'drive_c' }]]) {
    const { reader, publish } = folder({ checkWriter }, where);
    let said = reader.verdict();
    for (const d of docs) {
      if (d === 'system.reg') {
        fs.writeFileSync(path.join(reader.path, '../../../../../../../system.reg'), '');
        continue;
      }
      publish(document(...d));
      if (agedMs) fs.utimesSync(reader.path, ...Array(2).fill(new Date(Date.now() - agedMs)));
      assert.ok(reader.poll());
      said = reader.verdict(); // as the command asks after each document
    }
    assert.equal(said, verdict, `${where} ${checkWriter} ${JSON.stringify(docs, (k, v) => String(v))}`);
  }
});

test('a refusal names what is wrong', () => {
  const good = document(1, 5);
  for (const [data, problem] of [
    ['[1]\n', 'not a QAV document: not a JSON object'],
    [good.replace('haulsim', 'haul\\udc00sim'), 'not a QAV document: not JSON: a lone surrogate'],
    [good.replace('"x":1.5', '"x":1.5,"x":2'), 'not a QAV document: "x" twice in one object'],
    [good.replace('"QAV"', '"QAX"'), 'not a QAV document: its "plugin" is not "QAV"'],
    [good.replace('"1.0.0"', '"2.0.0"'), 'a QAV document of version 2.0.0: this reader knows 1.x only'],
    [good.replace(',"eventSeq":0', ''), 'not a QAV document: "eventSeq" is missing'],
    [good.replace('"job":null', '"job":{}'), 'not a QAV document: "job.cargo" is missing'],
    [good.replace('"gameTime":480', '"gameTime":4.8e2'),
     'not a QAV document: "gameTime" is not an integer 0..2^32-1'],
    [good.slice(0, -1), 'not a QAV document: it does not end with a line feed'],
    [' '.repeat(9000) + good, 'not a QAV document: larger than 8 KiB']]) {
    const { reader, publish } = folder();
    publish(data);
    // a read without its line feed gets one more look before it is refused
    assert.throws(() => reader.poll() || reader.poll(),
                  (e) => e instanceof NotQav && e.message.startsWith(problem), problem);
  }
});

test('reads only on a change', () => {
  const { reader, publish } = folder();
  publish(document(1, 5));
  assert.ok(reader.poll());
  assert.ok(!reader.poll() && !reader.poll());
  assert.equal(reader.reads, 1);
  publish(document(1, 5)); // the same bytes again: read, but not new
  assert.ok(!reader.poll());
  publish(document(1, 6));
  assert.ok(reader.poll());
  // being written in place: not refused at the first look, read whole at the next
  publish(document(1, 7).slice(0, 100));
  assert.ok(!reader.poll());
  publish(document(1, 7));
  assert.ok(reader.poll());
  assert.deepEqual([reader.reads, reader.documents], [5, 3]);
});

test('the stale boundary and a stamp from the future, judged at a given tick', () => {
  const written = tickMs();
  // within the slack a stamp slightly ahead is taken as written now; further ahead it was
  // stamped before this machine started
  for (const [after, kind, ageMs] of [[2999n, 'live', 2999], [3000n, 'stale', 3000],
                                      [-100n, 'live', 0], [-101n, 'stale', null]]) {
    const { reader, publish } = folder();
    publish(document(1, written));
    assert.ok(reader.poll());
    assert.deepEqual(reader.statusAt(written + after),
                     { kind, ageMs, writerChecked: false, shared: false }, String(after));
  }
});

test('parse returns a document or throws NotQav, whatever the bytes', () => {
  // every byte of a document with a job, in turn, replaced by each byte that matters to JSON
  const good = Buffer.from(rows('documents.jsonl').find((r) => r.accept && /"job":\{/.test(r.text)).text);
  for (let at = 0; at < good.length; at++)
    for (const byte of Buffer.from('"\\{}[],:0-.e ftn\x00\xff\x80', 'latin1')) {
      const data = Buffer.from(good);
      data[at] = byte;
      try {
        parse(data);
      } catch (e) {
        if (!(e instanceof NotQav)) assert.fail(`${data}: ${e}`);
      }
    }
});

const COMMAND = path.join(ROOT, 'readers', 'js', 'qav-reader.js');

test('the command: usage errors exit 2', () => {
  const env = { PATH: process.env.PATH };
  for (const [args, message] of [
    [['--bogus'], 'unknown option --bogus'], [[], 'the system does not say where the data folder is'],
    // longer than any path the system takes, whether or not the folder exists
    [['x/'.repeat(2100)], 'the folder path is too long \\(4200 bytes; the system says ENAMETOOLONG']]) {
    // a guard, not a measure: a command that waits instead of refusing fails, not hangs
    const run = spawnSync(process.execPath, [COMMAND, ...args], { env, encoding: 'utf8', timeout: 10000 });
    assert.equal(run.status, 2, args.join(' '));
    assert.match(run.stderr, new RegExp(`^qav-reader: ${message}`), args.join(' '));
  }
});

test('the command: a verdict line only when the verdict changes, exit 0 on SIGTERM', async () => {
  const { reader, publish } = folder();
  const child = spawn(process.execPath, [COMMAND, '--check-writer', path.dirname(reader.path)]);
  try {
    let out = '';
    child.stdout.setEncoding('utf8').on('data', (s) => { out += s; });
    // a guard, not a measure: a line that never comes fails the test instead of hanging it
    const until = async (line) => {
      for (const end = Date.now() + 10000; !out.includes(`${line}\n`); await delay(10))
        if (Date.now() > end) assert.fail(`no "${line}" in:\n${out}`);
    };
    const me = process.pid, now = tickMs();
    await until('verdict: waiting for the plug-in');
    for (const seq of [1, 2, 3]) {
      publish(document(me, now + BigInt(seq), 'toll.paid', seq));
      await until(`, running, event "toll.paid" #${seq} (+1)`);
    }
    publish(document(me, now + 4n, 'game.closed', 3));
    await until('verdict: closed');
    child.kill('SIGTERM');
    const [status] = await once(child, 'exit');
    assert.equal(status, 0);
    assert.deepEqual(out.split('\n').filter((l) => l.startsWith('verdict')),
                     ['verdict: waiting for the plug-in', 'verdict: live', 'verdict: closed']);
  } finally {
    child.kill();
  }
});

// Steps: "=X" takes the next change (X: a status kind, #N for the document whose eventSeq is
// N, "refused", or "end"); "next" asks for it ahead, so that follow() runs meanwhile; "+N"
// publishes document N, written now ("+N aged": 2.3 s ago), "refuse" one that is not; "hold N"
// holds back follow()'s timers longer than N ms (its safety poll, its look at the writer) for a
// minute, so that what still comes was heard by the watch, or woke at the stale age or the
// interval (5 ms); "polls N" counts the document's stats so far; "sleep N" lets N ms pass
// (1100: more than the second between safety polls).
const FOLLOWS = [
  { name: 'a document replaced in a watched folder is heard, a refusal too, and the signal ends it',
    steps: ['=waiting', 'hold 5', '+1', '=#1', 'refuse', '=refused', '+2', '=#2', 'next', 'abort', '=end'] },
  // the sleep is a timer that fires while follow() waits: the event loop stays free
  { name: 'publishes within one turn of the event loop make one poll, and no poll while it waits',
    steps: ['=waiting', 'hold 5', '+1', '+2', '+3', '=#3', 'next', 'sleep 100', 'polls 2', '+4', '=#4'] },
  // found at once, not at the next safety poll: the first documents come with the folder
  { name: 'a folder made after follow() began is looked for every intervalMs, then watched',
    steps: ['rmdir', '=waiting', 'hold 5', 'mkdir', '+1', '=#1', '+2', '=#2'] },
  { name: 'a folder deleted and made again is watched anew',
    steps: ['=waiting', '+1', '=#1', 'rmdir', 'mkdir', 'sleep 1100', 'hold 5', 'next', '+2', '=#2'] },
  // its first poll may come before or after the safety poll: the stale age, some 700 ms on, after
  { name: 'the stale age wakes it with nothing written',
    steps: ['=waiting', 'hold 850', '+1 aged', '=#1', '=stale'] },
  { name: 'a folder the system will not watch is polled every intervalMs',
    steps: ['unwatchable', '=waiting', 'hold 5', '+1', '=#1'] },
  { name: 'a watch that breaks gives way to polls every intervalMs',
    steps: ['=waiting', 'break the watch', 'hold 5', '+1', '=#1'] },
];

test('follow: what wakes it, and nothing of it left once it ends', async () => {
  const { watch } = fs, { stat } = fs.promises, { setTimeout: realSetTimeout } = globalThis;
  const timers = () => process.getActiveResourcesInfo().filter((r) => /Timeout|Immediate/.test(r)).length;
  for (const { name, steps } of FOLLOWS) {
    const { reader, publish } = folder(), dir = path.dirname(reader.path), before = timers();
    const watchers = [], stop = new AbortController();
    let polls = 0, pending = null;
    fs.watch = (...args) => {
      if (steps.includes('unwatchable')) throw Object.assign(new Error('no watches left'), { code: 'ENOSPC' });
      const watcher = watch(...args), close = watcher.close.bind(watcher);
      watcher.close = () => close(watcher.closed = true);
      return watchers[watchers.push(watcher) - 1];
    };
    fs.promises.stat = (file, ...rest) => (polls += file === reader.path, stat(file, ...rest));
    const changes = reader.follow({ intervalMs: 5, signal: stop.signal });
    try {
      for (const step of steps) {
        const [what, arg] = [step[0], step.slice(1)], number = Number(step.split(' ')[1]);
        if (step.startsWith('hold'))
          globalThis.setTimeout = (fn, ms, ...a) => realSetTimeout(fn, ms > number ? 60000 : ms, ...a);
        else if (step === 'rmdir') fs.rmSync(dir, { recursive: true });
        else if (step === 'mkdir') fs.mkdirSync(dir);
        else if (step.startsWith('sleep')) await delay(number);
        else if (step === 'next') pending = changes.next();
        else if (step === 'abort') stop.abort();
        else if (step === 'refuse') publish('[1]\n');
        else if (step.startsWith('polls')) assert.equal(polls, number, name);
        else if (step === 'break the watch') { // as Node does when the system fails a watch
          watchers.at(-1).close();
          watchers.at(-1).emit('error', Object.assign(new Error('operation not permitted'), { code: 'EPERM' }));
        } else if (what === '+') // aged, by pid 1, never checked: no process here need be 2.3 s old
          publish(step.endsWith('aged') ? document(1, tickMs() - 2300n, 'toll.paid', parseInt(arg))
                                        : document(process.pid, tickMs(), 'toll.paid', parseInt(arg)));
        else if (what === '=') {
          // a guard, not a measure: a change that never comes fails the row instead of hanging
          let guard;
          const { done, value } = await Promise.race([pending ?? changes.next(), new Promise((resolve) => {
            guard = realSetTimeout(resolve, 10000, { value: null });
          })]);
          clearTimeout(guard);
          pending = null;
          assert.ok(value || done, `${name}: no change ${arg} came`);
          assert.equal(done ? 'end' : value.problem ? 'refused'
                       : value.document ? `#${value.document.eventSeq}` : value.status.kind, arg, name);
        }
      }
      await changes.return();
      assert.deepEqual({ watching: watchers.filter((w) => !w.closed).length, timers: timers() },
                       { watching: 0, timers: before }, name);
    } finally {
      globalThis.setTimeout = realSetTimeout;
      fs.watch = watch;
      fs.promises.stat = stat;
      stop.abort();
      await changes.return();
    }
  }
  // left at a change, neither ended nor asked for more: the process ends all the same
  const left = spawnSync(process.execPath, ['--input-type=module', '-e', `import { Reader } from ` +
    `${JSON.stringify(COMMAND)}; await new Reader(${JSON.stringify(os.tmpdir())}).follow().next();`],
  { encoding: 'utf8', timeout: 10000 }); // a guard, not a measure
  assert.equal(left.status, 0, left.stderr);
});

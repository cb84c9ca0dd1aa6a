// The dashboard over HTTP: who it answers, what it refuses, where it listens, and how the
// command fails.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { startDashboard } from '../server.js';
import { HERE, run, tempDir } from './harness.js';

const COMMAND = path.join(HERE, '..', 'qav-dashboard.js');
let dashboard, port;
before(async () => {
  dashboard = await startDashboard({ dir: path.join(tempDir('http'), 'QAV'), port: 0 });
  port = dashboard.port;
});
after(() => dashboard.close());

/** One request with exactly this Host header; resolves to the response, body unread. */
function request(method, url, host) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: url, setHost: false,
                               headers: { Host: host }, agent: false }, (res) => {
      res.destroy();
      resolve(res);
    });
    req.on('error', reject);
    req.end();
  });
}

const P = 'PORT'; // the dashboard's port, filled in when the row runs
const requests = [
  // method, path, Host, status, Content-Type's start
  ['GET', '/', `127.0.0.1:${P}`, 200, 'text/html'],
  ['GET', '/dashboard.js', `[::1]:${P}`, 200, 'text/javascript'],
  ['GET', '/dashboard.css', `LOCALHOST:${P}`, 200, 'text/css'],
  ['GET', '/events', `${os.hostname()}:${P}`, 200, 'text/event-stream'],
  // a page elsewhere whose name was made to point here sends its own name
  ['GET', '/events', `rebind.example:${P}`, 403],
  ['GET', '/', `127.0.0.1.rebind.example:${P}`, 403],
  ['GET', '/', 'localhost', 403],               // port 80 implied: not ours
  ['GET', '/', `127.0.0.1:${P}0`, 403],
  ['POST', '/', `rebind.example:${P}`, 403],    // the name is judged before the method
  ['POST', '/', `127.0.0.1:${P}`, 405],
  ['HEAD', '/', `127.0.0.1:${P}`, 405],
  ['GET', '/../server.js', `127.0.0.1:${P}`, 404],
  ['GET', '/page/index.html', `127.0.0.1:${P}`, 404],
];

for (const [method, url, host, status, type] of requests) {
  test(`${method} ${url} with Host ${JSON.stringify(host)}: ${status}`, async () => {
    const res = await request(method, url, host.replace(P, String(port)));
    assert.equal(res.statusCode, status);
    if (type) assert.ok(res.headers['content-type'].startsWith(type), res.headers['content-type']);
    if (status === 405) assert.equal(res.headers.allow, 'GET');
    // every answer, refusals too, forbids scripts and styles from anywhere else
    assert.equal(res.headers['content-security-policy'],
                 "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; " +
                 "img-src 'self'; base-uri 'none'; form-action 'none'");
  });
}

/** Whether the command, started with args, can be reached on 127.0.0.1 and on another
    loopback address, which only a listener on every address answers; it must end with 0 on
    SIGTERM. */
async function reachable(args) {
  const child = spawn(process.execPath, [COMMAND, tempDir('cmd'), '--port', '0', ...args]);
  const ended = new Promise((resolve) => child.on('close', resolve));
  try {
    let out = '';
    const port = await new Promise((resolve, reject) => {
      setTimeout(() => reject(new Error(`no address in ${out}`)), 10000).unref();
      child.stdout.on('data', (d) => {
        const m = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(out += d);
        if (m) resolve(Number(m[1]));
      });
    });
    const reach = (host) => new Promise((resolve) => {
      const s = net.connect({ host, port }, () => { s.destroy(); resolve(true); })
        .on('error', () => resolve(false));
    });
    return [await reach('127.0.0.1'), await reach('127.0.0.2')];
  } finally {
    child.kill('SIGTERM');
    assert.equal(await ended, 0);
  }
}

for (const [args, everywhere] of [[[], false], [['--lan'], true]]) {
  test(`qav-dashboard ${args.join(' ')}: ${everywhere ? 'the network too' : '127.0.0.1 only'}`, async () => {
    assert.deepEqual(await reachable(args), [true, everywhere]);
  });
}

const failures = [
  // arguments, exit status, what it says, environment
  [['--port', '65536'], 2, /--port takes a number from 0 to 65535, not "65536"/],
  [['--port'], 2, /--port takes a number from 0 to 65535, not nothing/],
  [['--age-only', '--check-writer'], 2, /not both/],
  [['--bogus'], 2, /unknown option "--bogus"/],
  [['a', 'b'], 2, /one folder at most/],
  [[], 2, /give it/, { HOME: '', XDG_DATA_HOME: '' }],  // no folder given and none the system names
  [['--port', 'BUSY'], 1, /port \d+ is already in use.*--port/],
];

for (const [args, status, says, env] of failures) {
  test(`qav-dashboard ${args.join(' ')}: exit ${status}`, async () => {
    const busy = net.createServer();
    await new Promise((resolve) => busy.listen(0, '127.0.0.1', resolve));
    try {
      const argv = args.map((a) => (a === 'BUSY' ? String(busy.address().port) : a));
      const result = await run(process.execPath, [COMMAND, ...argv], { env, limitMs: 10000 });
      assert.equal(result.status, status, result.output);
      assert.match(result.output, says);
      assert.doesNotMatch(result.output, /\n\s+at /, 'a stack trace');
    } finally {
      busy.close();
    }
  });
}

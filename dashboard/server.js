// The dashboard's server: one reader follows telemetry.json, and every change goes to every
// open page as one server-sent event. It runs outside the host, serves nothing but its own
// page, and answers only to this machine's names, so that no web page elsewhere reads it.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Reader } from '../readers/js/qav-reader.js';

const PAGE_DIR = path.join(path.dirname(fileURLToPath(import.meta.url)), 'page');
const HEARTBEAT_MS = 15000; // lets a page notice a dashboard that vanished without a word
const MAX_BACKLOG = 1 << 20; // bytes a page may leave unread before it is let go (it reconnects)

// Only these files, read once: no path from a request ever reaches the file system.
const ASSETS = {
  '/': ['index.html', 'text/html; charset=utf-8'],
  '/dashboard.js': ['dashboard.js', 'text/javascript; charset=utf-8'],
  '/dashboard.css': ['dashboard.css', 'text/css; charset=utf-8'],
};

const HEADERS = {
  'Content-Security-Policy': "default-src 'none'; script-src 'self'; style-src 'self'; " +
                             "connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'",
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Cache-Control': 'no-store',
};

/** The names a browser on this machine or the network may use for it: loopback, the
    machine's name, and the addresses its interfaces have now (they change with the network). */
function ownNames() {
  const names = new Set(['localhost', '127.0.0.1', '::1']);
  const host = os.hostname().toLowerCase();
  names.add(host);
  names.add(`${host}.local`);
  for (const list of Object.values(os.networkInterfaces()))
    for (const a of list ?? []) names.add(a.address.toLowerCase());
  return names;
}

/** Whether a Host header names this machine and this port. A page served by another site
    whose name was made to point here (DNS rebinding) sends its own name, and is refused. */
export function hostAllowed(header, port) {
  if (typeof header !== 'string') return false;
  const m = /^(?:\[([0-9a-f:.]+)\]|([^:[\]]+))(?::(\d{1,5}))?$/i.exec(header);
  if (!m) return false;
  const name = (m[1] ?? m[2]).toLowerCase();
  const given = m[3] === undefined ? 80 : Number(m[3]);
  return given === port && ownNames().has(name);
}

/**
 * Starts the dashboard: reads dir's telemetry.json with the reader's follow() and serves the
 * page on host:port (port 0 picks a free one). checkWriter as the reader takes it. onChange,
 * if given, sees every change as the reader gave it, before the pages do. Resolves to
 * { port, pages (the open event streams), close() } once listening; rejects with the listen
 * error (EADDRINUSE, ...).
 */
export async function startDashboard({ dir, port = 8480, host = '127.0.0.1', checkWriter, onChange }) {
  const assets = {};
  for (const [url, [file, type]] of Object.entries(ASSETS))
    assets[url] = { body: fs.readFileSync(path.join(PAGE_DIR, file)), type };

  const pages = new Set(); // responses of open event streams
  let current = { status: { kind: 'waiting', ageMs: null, writerChecked: false, shared: false },
                  document: null };

  function send(res, text) {
    // A page that stopped reading would make its unread messages pile up here: let it go,
    // and it comes back with the present state when it reconnects.
    if (res.writableLength > MAX_BACKLOG) {
      pages.delete(res);
      res.destroy();
      return;
    }
    res.write(text);
  }

  const server = http.createServer((req, res) => {
    for (const [k, v] of Object.entries(HEADERS)) res.setHeader(k, v);
    if (!hostAllowed(req.headers.host, server.address().port)) {
      res.writeHead(403, { 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('qav-dashboard answers only to this machine\'s own names and addresses\n');
      return;
    }
    if (req.method !== 'GET') {
      res.writeHead(405, { Allow: 'GET', 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('qav-dashboard is read-only: GET only\n');
      return;
    }
    const url = new URL(req.url, 'http://dashboard').pathname;
    if (url === '/events') {
      res.writeHead(200, { 'Content-Type': 'text/event-stream' });
      // a new page starts from the present state; its event count starts at 0
      // a document's 64-bit integers reach the page as their decimal digits (its toJSON)
      res.write(`retry: 2000\ndata: ${JSON.stringify({ ...current, events: 0, newSession: false })}\n\n`);
      pages.add(res);
      res.on('close', () => pages.delete(res));
      return;
    }
    const asset = assets[url];
    if (!asset) {
      res.writeHead(404, { 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('not here\n');
      return;
    }
    res.writeHead(200, { 'Content-Type': asset.type, 'Content-Length': asset.body.length });
    res.end(asset.body);
  });
  server.keepAliveTimeout = 5000;

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => {
      server.off('error', reject);
      resolve();
    });
  });

  const heartbeat = setInterval(() => {
    for (const res of pages) send(res, 'event: beat\ndata: 0\n\n');
  }, HEARTBEAT_MS);
  const stop = new AbortController();
  const reader = new Reader(dir, { checkWriter });
  const following = (async () => {
    for await (const change of reader.follow({ signal: stop.signal })) {
      onChange?.(change);
      current = { status: change.status, document: change.document ?? current.document };
      // one text for every page: memory does not grow with their number
      const message = { status: change.status, events: change.events,
                        newSession: change.newSession };
      if (change.document) message.document = change.document;
      if (change.problem) message.problem = change.problem;
      const text = `data: ${JSON.stringify(message)}\n\n`;
      for (const res of pages) send(res, text);
    }
  })();

  return {
    port: server.address().port,
    pages,
    async close() {
      stop.abort();
      clearInterval(heartbeat);
      for (const res of pages) res.destroy();
      server.closeAllConnections?.();
      await new Promise((resolve) => server.close(resolve));
      await following.catch(() => {});
    },
  };
}

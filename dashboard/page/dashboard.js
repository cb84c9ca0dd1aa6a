// The dashboard's page: shows each change the dashboard pushes, keeps the last values when the
// host closes or the dashboard stops, and reconnects by itself. Every text from the host goes
// in through textContent, never as markup: the host's texts are not ours to trust.
const $ = (id) => document.getElementById(id);
const set = (id, text) => { $(id).textContent = text; };

const TRACE_MS = 5 * 60 * 1000; // the speed trace's window
const TRACE_POINTS = 1500;      // at most, however fast documents come
const SILENT_MS = 40000;        // the dashboard beats every 15 s: this long without a word, it is gone
const RETRY_MS = 2000;

const STATUS_WORDS = {
  waiting: 'waiting for the plug-in',
  live: 'live',
  stale: 'stale',
  closed: 'closed: the host shut down',
  gone: 'gone: the host stopped without closing',
};

if (new URLSearchParams(location.search).has('overlay')) document.documentElement.classList.add('overlay');

let status = null;    // the last status pushed
let statusAt = 0;     // when it came (performance.now())
let shown = null;     // the last document shown
let events = 0;       // gameplay events since this page opened
let reconnected = false; // the next message is the state of a dashboard we reconnected to
const trace = [];     // { t: performance.now(), kmh }

function renderStatus() {
  if (!status) return;
  let text = Object.hasOwn(STATUS_WORDS, status.kind) ? STATUS_WORDS[status.kind] : status.kind;
  if (status.kind === 'stale')
    text = `stale ${Math.floor(((status.ageMs ?? 0) + performance.now() - statusAt) / 1000)} s`;
  set('status', text);
  $('status').className = `status ${status.kind}`;
  const notes = [];
  if (status.kind !== 'waiting' && !status.writerChecked) notes.push('writer not checked');
  if (status.shared) notes.push('two writers share this folder');
  set('notes', notes.join(' · '));
}

function gameClock(minutes) {
  const day = Math.floor(minutes / 1440) + 1, m = minutes % 1440;
  return `day ${day}, ${String(Math.floor(m / 60)).padStart(2, '0')}:${String(m % 60).padStart(2, '0')}`;
}

const place = (company, city) => [company, city].filter((s) => s !== '').join(', ');

function renderDocument(doc) {
  const speed = doc.speed; // metres per second, null when the host sent no finite number
  set('kmh', speed === null ? '–' : Math.round(speed * 3.6));
  set('mph', speed === null ? '–' : Math.round(speed * 2.2369363));
  set('paused', doc.paused ? 'paused' : 'running');
  $('paused').className = doc.paused ? 'paused on' : 'paused';
  set('clock', gameClock(doc.gameTime));
  const job = doc.job;
  $('nojob').hidden = job !== null;
  $('jobfields').hidden = job === null;
  if (job) {
    set('cargo', job.cargo);
    set('from', place(job.sourceCompany, job.sourceCity));
    set('to', place(job.destinationCompany, job.destinationCity));
    set('income', BigInt(job.income).toLocaleString());
    set('mass', job.cargoMass === null ? '–' : `${(job.cargoMass / 1000).toFixed(1)} t`);
    set('planned', `${job.plannedKm} km (${Math.round(job.plannedKm * 0.6213712)} mi)`);
  }
  if (doc.lastEvent !== '') set('lastEvent', doc.lastEvent);
  if (speed !== null) {
    trace.push({ t: performance.now(), kmh: Math.abs(speed * 3.6) });
    if (trace.length > TRACE_POINTS) trace.shift();
  }
  shown = doc;
}

function drawTrace() {
  const now = performance.now();
  while (trace.length && now - trace[0].t > TRACE_MS) trace.shift();
  const top = Math.max(50, Math.ceil(Math.max(0, ...trace.map((p) => p.kmh)) / 50) * 50);
  $('traceLine').setAttribute('points', trace.map((p) =>
    `${(300 - (now - p.t) / 1000).toFixed(1)},${(100 - (p.kmh / top) * 100).toFixed(1)}`).join(' '));
  set('traceMax', `(top ${top} km/h)`);
}

/** Events missed while the page was away from a dashboard: its first message counts none. */
function missedEvents(doc) {
  if (!shown || doc.pid !== shown.pid) return shown ? doc.eventSeq : 0;
  const rise = (doc.eventSeq - shown.eventSeq + 2 ** 32) % 2 ** 32;
  return rise < 2 ** 31 ? rise : doc.eventSeq;
}

function apply(msg) {
  status = msg.status;
  statusAt = performance.now();
  const doc = msg.document;
  if (doc) {
    events += reconnected ? missedEvents(doc) : msg.events;
    // the closing document empties the job and names game.closed: the last values stay
    if (!(msg.status.kind === 'closed' && shown)) renderDocument(doc);
  }
  reconnected = false;
  set('eventCount', events);
  $('problem').hidden = !msg.problem;
  if (msg.problem) set('problem', `the last read was refused: ${msg.problem}`);
  renderStatus();
  drawTrace();
}

let source = null;
let heard = 0; // when the dashboard last said anything

function stopped() {
  const link = $('link');
  if (link.hidden) {
    link.textContent = `the dashboard stopped at ${new Date().toLocaleTimeString()}; ` +
                       'the values are the last it sent; reconnecting';
    link.hidden = false;
    document.body.classList.add('offline');
  }
}

function connect() {
  source = new EventSource('events');
  source.onopen = () => {
    heard = performance.now();
    if (!$('link').hidden) reconnected = true;
    $('link').hidden = true;
    document.body.classList.remove('offline');
  };
  source.onmessage = (e) => {
    heard = performance.now();
    apply(JSON.parse(e.data));
  };
  source.addEventListener('beat', () => { heard = performance.now(); });
  source.onerror = () => {
    stopped();
    // the browser retries by itself, unless the answer was no event stream at all
    if (source.readyState === EventSource.CLOSED) setTimeout(connect, RETRY_MS);
  };
}

setInterval(() => {
  if (source.readyState === EventSource.OPEN && performance.now() - heard > SILENT_MS) {
    source.close();
    stopped();
    connect();
  }
  renderStatus();
  drawTrace();
}, 1000);

connect();

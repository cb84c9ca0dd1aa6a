// Types of qav-reader.js for TypeScript users. The module is ES only: import, never require.

/** The largest document in bytes, its line feed included. */
export const MAX_DOCUMENT: number;
/** A document this many milliseconds old (on the writer's clock) is stale. */
export const STALE_MS: bigint;

/** Thrown by poll() and parse() for anything but a QAV 1.x document; the message says why. */
export class NotQav extends Error {}

export interface Position {
  x: number | null;
  y: number | null;
  z: number | null;
}

export interface Job {
  cargo: string;
  cargoId: string;
  sourceCity: string;
  sourceCityId: string;
  sourceCompany: string;
  sourceCompanyId: string;
  destinationCity: string;
  destinationCityId: string;
  destinationCompany: string;
  destinationCompanyId: string;
  /** Exact, whatever its size. */
  income: bigint;
  cargoMass: number | null;
  deliveryTime: number;
  plannedKm: number;
  /** Members a later 1.x version adds. */
  [unknown: string]: unknown;
}

/** A QAV 1.x document. JSON.stringify renders written and job.income as decimal strings. */
export interface QavDocument {
  plugin: 'QAV';
  version: string;
  pid: number;
  /** The writer's tick in ms, exact whatever its size. */
  written: bigint;
  game: string;
  gameVersion: string;
  paused: boolean;
  gameTime: number;
  position: Position;
  speed: number | null;
  job: Job | null;
  lastEvent: string;
  eventSeq: number;
  /** Members a later 1.x version adds. */
  [unknown: string]: unknown;
}

export type Kind = 'waiting' | 'live' | 'stale' | 'closed' | 'gone';

export interface Status {
  kind: Kind;
  /** The last document's age in ms; null while waiting. A document stamped more than 100 ms
      ahead of now was stamped before this machine last started: its age is unknown, null too
      (gone if the writer is checked, else stale, which statusText renders "stale" alone). */
  ageMs: number | null;
  /** Whether the writer's process was looked at (not by age alone). */
  writerChecked: boolean;
  /** Whether two writers share the folder. */
  shared: boolean;
}

export interface Change {
  /** The new document; null when only the status changed or a read was refused. */
  document: QavDocument | null;
  status: Status;
  /** Gameplay events since the previous document; 0 without a document. */
  events: number;
  /** The document began a session: events counted afresh. */
  newSession: boolean;
  /** Why a read was refused (NotQav's message); null otherwise. */
  problem: string | null;
}

export interface ReaderOptions {
  /** undefined: decided by the folder and the pid; true: check the writer's process; false:
      judge by age alone. */
  checkWriter?: boolean;
}

export interface FollowOptions {
  /** Milliseconds between polls where the folder cannot be watched or is not there yet; 20 by
      default. A watched folder is read as soon as it changes, and polled once a second
      besides. */
  intervalMs?: number;
  /** Ends the iteration when aborted, closing its watch and timers. */
  signal?: AbortSignal;
}

export class Reader {
  /** dir: the folder; undefined or "" for the data folder. Throws a TypeError when there is
      none to be found, a RangeError when the system refuses the path as too long
      (ENAMETOOLONG: the message says what the system said). */
  constructor(dir?: string, options?: ReaderOptions);
  /** The document's path. */
  readonly path: string;
  /** The last document read, or null. */
  doc: QavDocument | null;
  /** Gameplay events since the previous document of the same writer. */
  events: number;
  /** The last document began a session. */
  newSession: boolean;
  /** The last document is its session's closing one. */
  closing: boolean;
  /** written of the session's first document read. */
  sessionWritten: bigint;
  /** New documents read. */
  documents: number;
  /** Times the file was opened. */
  reads: number;
  /** An opaque text that changes with the file's last-write time, size or file number. */
  stamp: string | null;
  /** The last new document's bytes. */
  bytes: Buffer;
  /** true for a new document, false for none; throws NotQav for a refused one. Never waits. */
  poll(): boolean;
  status(): Status;
  /** The status when tickMs() reads now: status() is statusAt(tickMs()). */
  statusAt(now: bigint): Status;
  /** statusText(status()). */
  verdict(): string;
  /** Changes as they come, the first at once; never blocks the event loop. It watches the
      folder (fs.watch) and reads as soon as the document is replaced; wakes when the status
      would change with nothing written (the stale age, the writer's look once a second); polls
      once a second besides, for a folder made anew and a drive that does not report changes;
      and polls every intervalMs where the folder is not there yet or cannot be watched. Ending the
      loop or aborting the signal closes its watch and timers. */
  follow(options?: FollowOptions): AsyncGenerator<Change, void, undefined>;
}

/** "live", "stale 5 s (writer not checked)", "closed (two writers share this folder)", ...;
    "stale" without a number when ageMs is null. */
export function statusText(status: Status): string;
/** The data folder (or given when given), null when the system does not say. */
export function findDir(given?: string): string | null;
/** The clock QAV stamps written with, in ms. */
export function tickMs(): bigint;
/** Whether pid runs and started no later than written (ms on tickMs()'s clock). */
export function writerAlive(pid: number, written: bigint): boolean;
/** The document in data; throws NotQav for anything but a QAV 1.x document. */
export function parse(data: Uint8Array): QavDocument;
/** The command: qav-reader [--age-only | --check-writer] [DIR]. */
export function main(argv?: string[]): Promise<void>;

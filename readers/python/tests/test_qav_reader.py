"""What a reader can get wrong, against the crafted documents and sequences every reader runs
(readers/tests), fabricated documents and the recordings in docs/recordings. The command
beside real drives: readers/tests/drive.sh."""
import contextlib
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import qav_reader  # noqa: E402
from qav_reader import CLOSED, GONE, LIVE, STALE, WAITING, Status  # noqa: E402

ROOT = os.path.join(os.path.dirname(__file__), "..", "..", "..")
RECORDINGS = os.path.join(ROOT, "docs", "recordings")
COMMAND = os.path.join(os.path.dirname(__file__), "..", "qav_reader.py")
GONE_TEXT = "host gone without a closing document"
REFUSALS = ("not a QAV document: ", "a QAV document of version ")


def table(name):
    with open(os.path.join(ROOT, "readers", "tests", name + ".jsonl"), encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def row_bytes(row):
    return row["text"].encode("utf-8") if "text" in row else bytes.fromhex(row["hex"])


DOCUMENTS = table("documents")
BASE = json.loads(row_bytes(DOCUMENTS[0]))  # the plug-in's document, no job


def document(pid, written, last_event="", event_seq=0, paused=None):
    """The plug-in's document with these members; a game.closed one is paused, as the
    closing one is."""
    doc = dict(BASE, pid=pid, written=written, lastEvent=last_event, eventSeq=event_seq,
               paused=last_event == "game.closed" if paused is None else paused,
               gameTime=0, job=None)
    return (json.dumps(doc, separators=(",", ":")) + "\n").encode()


def dead_pid():
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


class Blocked(Exception):
    """Not an OSError, which the reader would take for a failed read."""


@contextlib.contextmanager
def deadline(seconds=10):
    """A call that would block for ever fails instead."""
    def expire(*_):
        raise Blocked(f"still blocked after {seconds} s")
    previous = signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


class Folder(unittest.TestCase):
    def setUp(self, check_writer=None):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.reader = qav_reader.Reader(self.dir, check_writer)

    def publish(self, data):
        """As the plug-in does: whole into the temp file, then renamed over the document."""
        with open(os.path.join(self.dir, "telemetry.json.tmp"), "wb") as f:
            f.write(data)
        os.replace(f.name, self.reader.path)

    def test_documents_table(self):
        for row in DOCUMENTS:
            name = row["name"]
            self.setUp()
            self.publish(row_bytes(row))
            if not row["accept"]:
                with self.assertRaises(qav_reader.NotQav, msg=name) as refused:
                    self.reader.poll()
                self.assertTrue(str(refused.exception).startswith(REFUSALS), name)
                continue
            self.assertTrue(self.reader.poll(), name)
            for path, expected in row["values"].items():
                actual = self.reader.doc
                for key in path.split("."):
                    actual = actual[key]
                if isinstance(expected, str) and type(actual) is int:
                    actual = str(actual)  # integers are given as decimal strings
                self.assertEqual((type(actual), actual), (type(expected), expected),
                                 f"{name}: {path}")

    def test_poll_raises_only_not_qav_whatever_the_bytes(self):
        mutations = [
            lambda data, at, rng: data[:at] + bytes([rng.randrange(256)]) + data[at + 1:],
            lambda data, at, rng: data[:at] + os.urandom(rng.randrange(1, 8)) + data[at:],
            lambda data, at, rng: data[:at] + data[at + rng.randrange(1, 40):],
            lambda data, at, rng: data[:at] + data[at:at + rng.randrange(1, 40)] * 2 + data[at:],
            lambda data, at, rng: data[:at] + rng.choice(
                [b"\\u", b"\\ud800", b'"', b",", b"-0", b"1e999", b"NaN", b"\xef\xbb\xbf",
                 b"\xed\xa0\x80", b"\x00", b"null", b"}", b"]"]) + data[at:],
            lambda data, at, rng: data[:at] + rng.choice([b"[", b'{"a":']) * rng.choice(
                [63, 64, 1000, 5000]) + data[at:]]
        rng = random.Random(22)
        originals = [row_bytes(row) for row in DOCUMENTS if row["accept"]]
        outcomes = set()
        for _ in range(3000):
            data = rng.choice(originals)[:-1]
            for _ in range(rng.randrange(1, 4)):
                data = rng.choice(mutations)(data, rng.randrange(len(data) + 1), rng)
            self.publish(data + b"\n")
            try:
                outcomes.add(type(self.reader.poll()))
                self.assertIsInstance(self.reader.doc, (dict, type(None)))
            except qav_reader.NotQav:
                outcomes.add(qav_reader.NotQav)
        self.assertEqual(outcomes, {bool, qav_reader.NotQav})

    def test_sessions_table(self):
        for row in table("sessions"):
            self.setUp()
            seen = {"events": [], "newSession": [], "closing": [], "shared": []}
            for d in row["documents"]:
                self.publish(document(d["pid"], d["written"], d["lastEvent"], d["eventSeq"],
                                      d["paused"]))
                self.assertTrue(self.reader.poll(), row["name"])
                for key, value in [("events", self.reader.events),
                                   ("newSession", self.reader.new_session),
                                   ("closing", self.reader.closing),
                                   ("shared", self.reader.status().shared)]:
                    seen[key].append(value)
            self.assertEqual(seen, {key: row[key] for key in seen}, row["name"])

    def test_status(self):
        # Documents are written at `base` unless a row says otherwise, and judged `after` ms
        # later: this process started before base, so as a writer it runs.
        base, me, dead = qav_reader.tick_ms(), os.getpid(), dead_pid()
        for docs, check, after, expected in [
                ([], None, 0, (WAITING, None, False)),
                ([(me,)], None, 2999, (LIVE, 2999, True)),
                ([(me,)], None, 3000, (STALE, 3000, True)),
                ([(me, base + 100)], None, 0, (LIVE, 0, True)),   # the clocks' slack
                # written before this machine last started
                ([(me, base + 101)], None, 0, (GONE, None, True)),
                ([(me, base + 101)], False, 0, (STALE, None, False)),
                ([(dead,)], None, 0, (GONE, 0, True)),
                ([(dead,)], False, 0, (LIVE, 0, False)),
                # this process took the pid of a writer that wrote before it started
                ([(me, 1, "toll.paid", 3)], None, 0, (GONE, base - 1, True)),
                # no process has these pids, whatever kill() says
                ([(0,)], None, 0, (GONE, 0, True)),
                ([(2**32 - 1,)], None, 0, (GONE, 0, True)),
                # a host in its own pid namespace writes 1: never looked up
                ([(1,)], True, 0, (LIVE, 0, False)),
                ([(me, base, "toll.paid", 4), (me, base, "game.closed", 4)], None, 0,
                 (CLOSED, 0, True)),
                # a gameplay event of that name, and the document after it
                ([(me, base, "toll.paid", 4), (me, base, "game.closed", 5)], None, 0,
                 (LIVE, 0, True)),
                ([(me, base, "toll.paid", 4), (me, base, "game.closed", 5),
                  (me, base + 1, "game.closed", 5)], None, 0, (LIVE, 0, True)),
                # the closing document that also carries a pending event, its writer gone, or
                # not looked up and no longer writing
                ([(dead, base, "toll.paid", 4), (dead, base, "game.closed", 5)], None, 0,
                 (CLOSED, 0, True)),
                ([(dead, base, "toll.paid", 4), (dead, base, "game.closed", 5)], False, 2999,
                 (LIVE, 2999, False)),
                ([(dead, base, "toll.paid", 4), (dead, base, "game.closed", 5)], False, 3000,
                 (CLOSED, 3000, False))]:
            with self.subTest(docs=docs, check=check, after=after):
                self.setUp(check)
                for d in docs:
                    self.publish(document(d[0], *(d[1:] or (base,))))
                    self.assertTrue(self.reader.poll())
                self.assertEqual(self.reader._status_at(base + after)[:3], expected)

    def test_status_text(self):
        for status, text in [
                (Status(WAITING, None, False, False), "waiting for the plug-in"),
                (Status(LIVE, 2999, True, False), "live"),
                (Status(STALE, 3999, True, False), "stale 3 s"),
                (Status(STALE, 60000, False, False), "stale 60 s (writer not checked)")]:
            self.assertEqual(qav_reader.status_text(status), text)

    def test_wine_prefix(self):
        # A Windows host under Wine writes its own pid and clock: a folder in its prefix is
        # judged by age alone unless told otherwise. The writer here has exited.
        dead = dead_pid()
        for made, link, late, check, expected in [
                ("system.reg", False, False, None, (LIVE, False)),
                ("system.reg", True, False, None, (LIVE, False)),
                ("system.reg", False, False, True, (GONE, True)),
                ("system.reg/", False, False, None, (GONE, True)),  # a folder of that name
                ("dosdevices/", False, False, None, (LIVE, False)),  # a prefix not saved yet
                ("system.reg", False, True, None, (LIVE, False))]:  # saved once a host ran
            with self.subTest(made=made, link=link, late=late, check=check):
                top = tempfile.mkdtemp()
                self.addCleanup(shutil.rmtree, top)
                folder = os.path.join(top, "drive_c", "users", "ana", "AppData", "Local", "QAV")
                os.makedirs(folder)
                if link:
                    os.symlink(folder, os.path.join(top, "QAV"))
                    folder = os.path.join(top, "QAV")
                reader = late and qav_reader.Reader(folder, check)
                if made.endswith("/"):
                    os.mkdir(os.path.join(top, made))
                else:
                    open(os.path.join(top, made), "w").close()
                reader = reader or qav_reader.Reader(folder, check)
                with open(reader.path, "wb") as f:
                    f.write(document(dead, 5000))
                self.assertTrue(reader.poll())
                status = reader._status_at(5000)
                self.assertEqual((status.kind, status.writer_checked), expected)

    def test_writer_looked_up_by_pid_alone_where_proc_hides_it(self):
        me, dead, hidden = os.getpid(), dead_pid(), tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, hidden)
        for pid, runs in [(me, True), (dead, False)]:
            with self.subTest(pid=pid):
                qav_reader._PROC, saved = hidden, qav_reader._PROC
                try:
                    self.assertEqual(qav_reader.writer_alive(pid, 1), runs)
                finally:
                    qav_reader._PROC = saved

    def test_skips_a_fifo(self):
        # renamed there between the stat and the open: it must not block the read
        os.mkfifo(self.reader.path)
        with deadline():
            self.assertIsNone(qav_reader._read_file(self.reader.path))

    def test_follow(self):
        self.setUp(check_writer=False)
        now = [1000000]
        self.reader._clock = lambda: now[0]
        changes = self.reader.follow(interval=0)
        for action, expected in [
                (None, (None, WAITING, 0, False, None)),
                (document(7, 1000000, "toll.paid", 4), (7, LIVE, 4, True, None)),
                (STALE_MS_LATER, (None, STALE, 0, False, None)),
                (b"[]\n", (None, STALE, 0, False, "not a QAV document: not a JSON object")),
                (document(7, 1003000, "toll.paid", 6), (7, LIVE, 2, False, None))]:
            if action is STALE_MS_LATER:
                now[0] += qav_reader.STALE_MS
            elif action is not None:
                self.publish(action)
            with deadline():
                change = next(changes)
            self.assertEqual((change.document and change.document["pid"], change.status.kind,
                              change.events, change.new_session, change.problem), expected)

    def test_recordings(self):
        # Every recorded pid becomes one that has exited, so that the verdict is the same
        # on any machine. The events: each document's, or their sum over the recording.
        dead = [dead_pid(), dead_pid()]
        for name, events, verdict in [
                ("after-crash", 1, "closed"), ("burst", 5, "closed"), ("crash", 0, GONE_TEXT),
                ("drive", 2, "closed"), ("freeze", 1, "closed"), ("job", 1, "closed"),
                ("largest", 4294967295, GONE_TEXT), ("lost-closing", 2, GONE_TEXT),
                ("texts", 2, "closed"), ("two-hosts", 2, "closed (two writers share this folder)"),
                ("wrap", [0, 4294967294, 1, 1, 3, 0], "closed")]:
            with self.subTest(name), open(os.path.join(RECORDINGS, name + ".jsonl"),
                                          encoding="utf-8") as f:
                self.setUp()
                pids, seen = {}, []
                for line in f:
                    text = json.loads(line)["document"]
                    doc = json.loads(text)
                    pid = pids[doc["pid"]] = pids.get(doc["pid"]) or dead[len(pids)]
                    self.publish(text.replace(f'"pid":{doc["pid"]},', f'"pid":{pid},').encode())
                    self.assertTrue(self.reader.poll())
                    self.assertEqual(self.reader.doc["written"], doc["written"])
                    seen.append(self.reader.events)
                self.assertEqual(seen if isinstance(events, list) else sum(seen), events)
                self.assertEqual(self.reader.verdict(), verdict)

    def test_refusals(self):
        good = document(1, 5)
        for data, problem in [
                (b"[1]\n", "not a QAV document: not a JSON object"),
                (good.replace(b'"QAV"', b'"QAX"'), 'not a QAV document: its "plugin" is not "QAV"'),
                (good.replace(b'"1.0.0"', b'"2.0.0"'), "a QAV document of version 2.0.0: "),
                (good.replace(b'"1.0.0"', b'"2\\nverdict: live"'),
                 'a QAV document of version "2\\nverdict: live": '),
                (good.replace(b',"eventSeq":0', b""), 'not a QAV document: "eventSeq" is missing'),
                (good.replace(b'"z":', b'"z":{"z":').replace(b"}", b"}}", 1),
                 'not a QAV document: "position.z" is not a number or null'),
                (good[:-1], "not a QAV document: it does not end with a line feed"),
                (b" " * 9000 + good, "not a QAV document: larger than 8 KiB")]:
            with self.subTest(problem=problem):
                self.setUp()
                self.publish(data)
                with self.assertRaises(qav_reader.NotQav) as refused:
                    self.reader.poll()
                self.assertTrue(str(refused.exception).startswith(problem), refused.exception)
        self.publish(good.replace(b'"1.0.0"', b'"1.4.0"').replace(b"}\n", b',"fuel":{"l":[1]}}\n'))
        self.assertTrue(self.reader.poll())

    def test_reads_only_on_change(self):
        self.publish(document(1, 5))
        self.assertTrue(self.reader.poll())
        self.assertFalse(self.reader.poll() or self.reader.poll())
        self.assertEqual(self.reader.reads, 1)
        self.publish(document(1, 5))  # the same bytes again: read, but not new
        self.assertFalse(self.reader.poll())
        self.publish(document(1, 6))
        self.assertTrue(self.reader.poll())
        self.assertEqual((self.reader.reads, self.reader.documents), (3, 2))


STALE_MS_LATER = object()


class Command(unittest.TestCase):
    def run_command(self, *args, env=None, **more):
        return subprocess.Popen([sys.executable, COMMAND, *args], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, **more)

    def test_usage_errors(self):
        no_home = {k: v for k, v in os.environ.items() if k not in ("HOME", "XDG_DATA_HOME")}
        for args, env, says in [
                (["--bogus"], None, b"qav-reader: unknown option --bogus"),
                (["a", "b"], None, b"qav-reader: too many arguments"),
                (["/" + "a" * 4100], None, b"qav-reader: the folder path is too long (4101 bytes"),
                ([], no_home, b"qav-reader: the system does not say where the data folder is")]:
            with self.subTest(args=args):
                child = self.run_command(*args, env=env)
                err = child.communicate(timeout=30)[1]
                self.assertEqual(child.returncode, 2)
                self.assertTrue(err.startswith(says), err)

    def test_prints_what_the_output_cannot_encode_and_each_verdict_once(self):
        # A folder name that is not UTF-8 and a text a cp1252 output cannot take, in stale
        # documents: one verdict line, though the age goes on changing and a document comes.
        top = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, top)
        folder = os.path.join(os.fsencode(top), b"\xff")
        os.mkdir(folder)
        text = "é😀\x00"

        def publish(event_seq):
            with open(os.path.join(folder, b"telemetry.json.tmp"), "wb") as f:
                f.write(document(1, 0, text, event_seq))
            os.replace(f.name, os.path.join(folder, b"telemetry.json"))
        publish(7)
        child = self.run_command("--age-only", folder,
                                 env=dict(os.environ, PYTHONIOENCODING="cp1252"))
        lines = []
        try:
            with deadline():
                while not lines or not lines[-1].startswith(b"verdict:"):
                    lines.append(child.stdout.readline())
                    if not lines[-1]:
                        self.fail(b"".join(lines) + child.stderr.read())
            publish(8)
            time.sleep(1.2)
        finally:
            child.terminate()
            out, err = child.communicate(timeout=30)
        out = (b"".join(lines) + out).decode("cp1252").splitlines()
        self.assertEqual(child.returncode, 0, err)
        self.assertEqual(out[0], f"reading {top}/\\udcff/telemetry.json")
        self.assertEqual([json.loads(line.split(" event ")[1].split(" #")[0])
                          for line in out if line.startswith("document ")], [text, text])
        verdicts = [line for line in out if line.startswith("verdict: ")]
        self.assertEqual(len(verdicts), 1, out)
        self.assertTrue(verdicts[0].startswith("verdict: stale "), out)


if __name__ == "__main__":
    unittest.main()

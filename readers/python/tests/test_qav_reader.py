"""What a reader can get wrong, against fabricated documents and the recordings in
docs/recordings. The command beside real drives: readers/tests/drive.sh."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import qav_reader  # noqa: E402

ROOT = os.path.join(os.path.dirname(__file__), "..", "..", "..")
RECORDINGS = os.path.join(ROOT, "docs", "recordings")
GONE = "host gone without a closing document"


def dead_pid():
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


def document(pid, written, last_event="", event_seq=0, **more):
    """A game.closed document is paused, as the closing one is."""
    doc = {"plugin": "QAV", "version": "1.0.0", "pid": pid, "written": written,
           "paused": last_event == "game.closed", "lastEvent": last_event, "eventSeq": event_seq, **more}
    return (json.dumps(doc, separators=(",", ":")) + "\n").encode()


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.reader = qav_reader.Reader(self.dir)

    def publish(self, data):
        """As the plug-in does: whole into the temp file, then renamed over the document."""
        with open(os.path.join(self.dir, "telemetry.json.tmp"), "wb") as f:
            f.write(data)
        os.replace(f.name, self.reader.path)

    def test_recordings(self):
        # Every recorded pid becomes one that has exited, so that the verdict is the same
        # on any machine. The events: each document's, or their sum over the recording.
        dead = [dead_pid(), dead_pid()]
        for name, events, verdict in [
                ("after-crash", 1, "closed"), ("burst", 5, "closed"), ("crash", 0, GONE),
                ("drive", 2, "closed"), ("freeze", 1, "closed"), ("job", 1, "closed"),
                ("largest", 4294967295, GONE), ("lost-closing", 2, GONE), ("texts", 2, "closed"),
                ("two-hosts", None, "closed"), ("wrap", [0, 4294967294, 1, 1, 3, 0], "closed")]:
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
                if events is not None:
                    self.assertEqual(seen if isinstance(events, list) else sum(seen), events)
                self.assertEqual(self.reader.verdict(), verdict)

    def test_verdicts(self):
        now, me, dead = qav_reader.tick_ms(), os.getpid(), dead_pid()
        for docs, verdict in [
                ([], "waiting for the plug-in"),
                ([(1, now, "", 0)], "live"),
                ([(1, now - 5000, "toll.paid", 3)], "stale 5 s"),
                ([(dead, now, "toll.paid", 3)], GONE),
                # this process took the pid of a writer that wrote before it started
                ([(me, 1, "toll.paid", 3)], GONE),
                ([(1, now + 3600000, "", 0)], GONE),
                ([(1, now, "toll.paid", 4), (1, now, "game.closed", 4)], "closed"),
                # a gameplay event of that name, and the document after it
                ([(1, now, "toll.paid", 4), (1, now, "game.closed", 5)], "live"),
                ([(1, now, "toll.paid", 4), (1, now, "game.closed", 5),
                  (1, now + 1, "game.closed", 5)], "live"),
                # the closing document that also carries a pending event, its writer gone
                ([(dead, now, "toll.paid", 4), (dead, now, "game.closed", 5)], "closed")]:
            with self.subTest(docs=docs):
                self.setUp()
                for d in docs:
                    self.publish(document(*d))
                    self.assertTrue(self.reader.poll())
                self.assertEqual(self.reader.verdict(), verdict)

    def test_refusals(self):
        good = document(1, 5)
        for data, problem in [
                (b"[1]\n", "not a QAV document: not a JSON object"),
                (good.replace(b'"QAV"', b'"QAX"'), 'not a QAV document: its "plugin" is not "QAV"'),
                (good.replace(b'"1.0.0"', b'"2.0.0"'), "a QAV document of version 2.0.0"),
                (good.replace(b',"eventSeq":0', b""), "not a QAV document: pid, written"),
                (good[:-1], "not a QAV document: it does not end with a line feed"),
                (b" " * 9000 + good, "not a QAV document: larger than 8 KiB")]:
            with self.subTest(problem=problem):
                self.setUp()
                self.publish(data)
                with self.assertRaises(qav_reader.NotQav) as refused:
                    self.reader.poll()
                self.assertTrue(str(refused.exception).startswith(problem), refused.exception)
        self.publish(good.replace(b'"1.0.0"', b'"1.4.0"').replace(b"}", b',"fuel":{"l":[1]}}'))
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


if __name__ == "__main__":
    unittest.main()

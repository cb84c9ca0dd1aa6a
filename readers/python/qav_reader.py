"""Reads QAV's telemetry.json as a companion application should, and tells whether the host
that writes it is live, stale, closed or gone. Standard library only; Windows and POSIX."""
import json
import os
import stat
import sys
import time

MAX_DOCUMENT = 8192  # every 1.x document fits, line feed included
STALE_MS = 3000      # a writer that wrote nothing for this long is stale
CLOCK_SLACK_MS = 100 # process start times and ticks are both a few ms coarse
WINDOWS = sys.platform == "win32"

if WINDOWS:
    import ctypes
    from ctypes import wintypes

    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    H, D, P = wintypes.HANDLE, wintypes.DWORD, ctypes.c_void_p
    for name, result, args in [
            ("CreateFileW", H, [wintypes.LPCWSTR, D, D, P, D, D, H]),
            ("ReadFile", wintypes.BOOL, [H, P, D, P, P]),
            ("CloseHandle", wintypes.BOOL, [H]),
            ("GetFileAttributesExW", wintypes.BOOL, [wintypes.LPCWSTR, ctypes.c_int, P]),
            ("GetTickCount64", ctypes.c_uint64, []),
            ("OpenProcess", H, [D, wintypes.BOOL, D]),
            ("GetExitCodeProcess", wintypes.BOOL, [H, P]),
            ("GetProcessTimes", wintypes.BOOL, [H, P, P, P, P]),
            ("GetSystemTimeAsFileTime", None, [P])]:
        getattr(kernel32, name).restype = result
        getattr(kernel32, name).argtypes = args
    INVALID_HANDLE = H(-1).value

    class AttributeData(ctypes.Structure):  # WIN32_FILE_ATTRIBUTE_DATA
        _pack_ = 4
        _fields_ = [("attributes", D), ("created", ctypes.c_uint64),
                    ("accessed", ctypes.c_uint64), ("written", ctypes.c_uint64),
                    ("size_high", D), ("size_low", D)]


class NotQav(Exception):
    """The file is not a QAV 1.x document; the message says why."""


def find_dir(given=None):
    """The folder QAV writes to: given, or %LOCALAPPDATA%\\QAV, $XDG_DATA_HOME/QAV,
    ~/.local/share/QAV. None when the system does not say."""
    if given:
        return given
    if WINDOWS:
        base = os.environ.get("LOCALAPPDATA")
        return os.path.join(base, "QAV") if base else None
    xdg = os.environ.get("XDG_DATA_HOME", "")
    if xdg.startswith("/"):
        return os.path.join(xdg, "QAV")
    home = os.environ.get("HOME")
    return os.path.join(home, ".local", "share", "QAV") if home else None


def stamp_of(path):
    """Last-write time and size (and on POSIX the file number, new with every replace),
    queried by name so that no handle is left open to stall a rename; None when missing."""
    if WINDOWS:
        data = AttributeData()
        if not kernel32.GetFileAttributesExW(path, 0, ctypes.byref(data)):
            return None
        return (data.written, data.size_high << 32 | data.size_low)
    try:
        s = os.stat(path)
    except OSError:
        return None
    # never open a FIFO someone left there: it would block
    return (s.st_mtime_ns, s.st_size, s.st_ino) if stat.S_ISREG(s.st_mode) else None


def read_file(path):
    """The file's first MAX_DOCUMENT + 1 bytes, or None to try again (missing, or held by
    someone who does not share it). Python's open does not share delete on Windows."""
    if not WINDOWS:
        try:
            with open(path, "rb") as f:
                return f.read(MAX_DOCUMENT + 1)
        except OSError:
            return None
    share_all = 7  # FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
    h = kernel32.CreateFileW(path, 0x80000000, share_all, None, 3, 0x80, None)
    if h == INVALID_HANDLE:
        return None
    try:
        buf, got, total = ctypes.create_string_buffer(MAX_DOCUMENT + 1), wintypes.DWORD(), 0
        while total <= MAX_DOCUMENT:
            at = ctypes.byref(buf, total)
            if not kernel32.ReadFile(h, at, MAX_DOCUMENT + 1 - total, ctypes.byref(got), None) \
                    or not got.value:
                break
            total += got.value
        return buf.raw[:total]
    finally:
        kernel32.CloseHandle(h)  # at once: the plug-in's next rename must not find it open


def tick_ms():
    """The clock QAV stamps written with, in milliseconds."""
    if WINDOWS:
        return kernel32.GetTickCount64()
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000000


def writer_alive(pid, written):
    """Whether pid runs and started no later than written (the session's first document)."""
    if WINDOWS:
        h = kernel32.OpenProcess(0x1000, False, pid)  # PROCESS_QUERY_LIMITED_INFORMATION
        if not h:
            return ctypes.get_last_error() == 5  # runs, but not ours to ask
        try:
            code, times = wintypes.DWORD(), [ctypes.c_uint64() for _ in range(4)]
            if not kernel32.GetExitCodeProcess(h, ctypes.byref(code)) or code.value != 259:
                return False
            if not kernel32.GetProcessTimes(h, *[ctypes.byref(t) for t in times]):
                return True
            now = ctypes.c_uint64()
            kernel32.GetSystemTimeAsFileTime(ctypes.byref(now))
            # written, a tick, as wall time in 100 ns units, set against the creation time
            age_ms = kernel32.GetTickCount64() - written
            return times[0].value - now.value <= (CLOCK_SLACK_MS - age_ms) * 10000
        finally:
            kernel32.CloseHandle(h)
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        if os.path.isdir("/proc"):
            return False
        try:  # no /proc: pid alone
            os.kill(pid, 0)
            return True
        except PermissionError:
            return True
        except OSError:
            return False
    if fields[0] in "ZX":
        return False
    # the start time counts from boot, suspends included; written does not count them
    suspended = (time.clock_gettime_ns(time.CLOCK_BOOTTIME) -
                 time.clock_gettime_ns(time.CLOCK_MONOTONIC)) // 1000000
    start_ms = int(fields[19]) * 1000 // os.sysconf("SC_CLK_TCK") - suspended
    return start_ms <= written + CLOCK_SLACK_MS


def parse(data):
    """The document as a dict; raises NotQav when it is not a QAV 1.x document."""
    try:
        doc = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise NotQav("not a QAV document: not a JSON object") from None
    if not isinstance(doc, dict):
        raise NotQav("not a QAV document: not a JSON object")
    if doc.get("plugin") != "QAV":
        raise NotQav('not a QAV document: its "plugin" is not "QAV"')
    version = doc.get("version")
    if not isinstance(version, str) or not version.startswith("1."):
        raise NotQav(f"a QAV document of version {version}: this reader knows 1.x only")
    wanted = {"pid": 2**32, "written": 2**64, "eventSeq": 2**32}
    if (any(type(doc.get(k)) is not int or not 0 <= doc[k] < top for k, top in wanted.items())
            or type(doc.get("paused")) is not bool or not isinstance(doc.get("lastEvent"), str)):
        raise NotQav("not a QAV document: pid, written, paused, lastEvent or eventSeq "
                     "is missing or of the wrong type")
    return doc


def closing_shape(doc):
    return doc["paused"] and doc.get("job") is None and doc["lastEvent"] == "game.closed"


class Reader:
    def __init__(self, directory):
        self.path = os.path.join(directory, "telemetry.json")
        self.stamp = None      # of the last read
        self.bytes = b""       # the last new document's bytes
        self.doc = None
        self.events = 0        # gameplay events since the previous document: eventSeq's rise
        self.closing = False   # the last document is the session's closing one
        self.session_written = 0  # written of the session's first document read
        self.documents = 0     # new documents read
        self.reads = 0         # times the file was opened

    def poll(self):
        """Reads the file if its last-write time or size changed. True for a new document
        (self.doc and self.events set), False for none; raises NotQav for a refused one."""
        stamp = stamp_of(self.path)
        if stamp is None or stamp == self.stamp:
            return False
        data = None
        # a sharing violation or a file being replaced passes in a few milliseconds
        for attempt in range(5):
            self.reads += 1
            data = read_file(self.path)
            if data and data.endswith(b"\n"):
                break
            time.sleep(0.005)
        if data is None:
            return False
        self.stamp = stamp
        if len(data) > MAX_DOCUMENT:
            raise NotQav("not a QAV document: larger than 8 KiB")
        if not data.endswith(b"\n"):
            raise NotQav("not a QAV document: it does not end with a line feed (cut short?)")
        if data == self.bytes:
            return False
        doc = parse(data)

        # a new pid, or a load document (no event yet, eventSeq back at 0), starts a session
        prev = self.doc
        fresh = (prev is None or doc["pid"] != prev["pid"] or
                 (doc["eventSeq"] == 0 and doc["lastEvent"] == ""))
        self.events = (doc["eventSeq"] - (0 if fresh else prev["eventSeq"])) % 2**32
        if fresh:
            self.session_written = doc["written"]
        # the closing document is paused, has no job and names game.closed without counting
        # it; a gameplay event of that name raises eventSeq, and the documents after it keep
        # naming it
        self.closing = closing_shape(doc) and (
            fresh or (self.events == 0 and prev["lastEvent"] != "game.closed"))
        self.bytes, self.doc = data, doc
        self.documents += 1
        return True

    def verdict(self):
        if self.doc is None:
            return "waiting for the plug-in"
        now, doc = tick_ms(), self.doc
        # a tick from the future was taken before this machine last started
        alive = (doc["written"] <= now + CLOCK_SLACK_MS and
                 writer_alive(doc["pid"], self.session_written))
        # a closing document that also wrote a waiting event counted it: once its writer is
        # gone, its shape is enough
        if self.closing or (not alive and closing_shape(doc)):
            return "closed"
        if not alive:
            return "host gone without a closing document"
        if now < doc["written"] + STALE_MS:
            return "live"
        return f"stale {(now - doc['written']) // 1000} s"


def main(argv=sys.argv):
    """qav-reader [DIR]: one line per new document and one per verdict change, until Ctrl+C."""
    directory = find_dir(argv[1] if len(argv) > 1 else None)
    if directory is None:
        sys.exit("qav-reader: the system does not say where the data folder is: give it")
    reader, said = Reader(directory), None
    print(f"reading {reader.path}", flush=True)
    try:
        while True:
            try:
                if reader.poll():
                    d = reader.doc
                    print(f"document {reader.documents}: pid {d['pid']}, written {d['written']}, "
                          f"{'paused' if d['paused'] else 'running'}, "
                          f"event {json.dumps(d['lastEvent'], ensure_ascii=False)} #{d['eventSeq']} "
                          f"(+{reader.events})")
            except NotQav as refused:
                print(f"refused: {refused}")
            verdict = reader.verdict()
            if verdict != said:
                print(f"verdict: {verdict}")
                said = verdict
            sys.stdout.flush()
            time.sleep(0.02)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()

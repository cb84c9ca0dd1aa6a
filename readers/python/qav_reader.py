"""Reads QAV's telemetry.json as a companion application should, and tells whether the host
that writes it is live, stale, closed or gone. Standard library only; Windows and POSIX."""
import codecs
import functools
import json
import os
import signal
import stat
import sys
import time
from collections import OrderedDict
from typing import Any, Callable, Dict, Iterator, List, NamedTuple, NoReturn, Optional, Tuple

__version__ = "1.1.0"

MAX_DOCUMENT = 8192            # bytes: every 1.x document fits, line feed included
STALE_MS = 3000                # a writer that wrote nothing for this long is stale
CLOCK_SLACK_MS = 100           # process start times and ticks are both a few ms coarse
CLOSED_EVENT = "game.closed"   # what the host's last document names as it unloads the plug-in
WAITING, LIVE, STALE, CLOSED, GONE = "waiting", "live", "stale", "closed", "gone"  # Status.kind
WINDOWS = sys.platform == "win32"

_MAX_DEPTH = 64         # nesting of a document, itself counting as 1
_INTERVAL = 0.1         # s between two looks at the file: idle, CPython's wake-ups cost more than the stat
_RECHECK_MS = 1000      # how long a look at the writer's process holds while nothing changes
_WRITERS_KEPT = 4       # pids whose sessions are remembered, for hosts sharing a folder
_PID_MAX = 4194304      # the largest pid Linux hands out, where /proc does not say
_SEQ_MOD = 2**32        # eventSeq wraps here; a rise of half of it or more is a fall
_READ_TRIES, _READ_PAUSE = 5, 0.005  # a sharing violation or a replace passes in a few ms
_NS_PER_MS = 1000000
_PROC = "/proc"          # where process information is read (a test hides it, as hidepid does)

if WINDOWS:
    import ctypes
    from ctypes import wintypes

    GENERIC_READ = 0x80000000
    FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE = 0x1, 0x2, 0x4
    OPEN_EXISTING = 3
    FILE_ATTRIBUTE_NORMAL = 0x80
    GET_FILEEX_INFO_STANDARD = 0      # GetFileExInfoStandard
    PROCESS_QUERY_LIMITED_INFORMATION = 0x1000
    ERROR_ACCESS_DENIED = 5
    STILL_ACTIVE = 259
    FILETIME_UNITS_PER_MS = 10000     # FILETIMEs count 100 ns

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


class Status(NamedTuple):
    """What the folder says about its writer; status_text() renders it."""
    kind: str                # WAITING, LIVE, STALE, CLOSED or GONE
    age_ms: Optional[int]    # of the last document on the writer's clock; None while waiting,
                             # and for a document stamped before this machine last started
    writer_checked: bool     # whether the writer's process was looked up, not only its age
    shared: bool             # another writer wrote into the folder within STALE_MS


class Change(NamedTuple):
    """One item of Reader.follow()."""
    document: Optional[Dict[str, Any]]  # the new document; None when only the status changed
    status: Status
    events: int              # gameplay events since the previous document; 0 without one
    new_session: bool        # the document starts a session of its writer
    problem: Optional[str]   # why a read was refused; None otherwise


def find_dir(given: Optional[str] = None) -> Optional[str]:
    """The folder QAV writes to: given, or %LOCALAPPDATA%\\QAV, $XDG_DATA_HOME/QAV,
    ~/.local/share/QAV ("" counts as not given). None when the system does not say."""
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


def _stamp_of(path: str) -> Optional[tuple]:
    """Last-write time and size (and on POSIX the file number, new with every replace),
    queried by name so that no handle is left open to stall a rename; None when missing."""
    if WINDOWS:
        data = AttributeData()
        if not kernel32.GetFileAttributesExW(path, GET_FILEEX_INFO_STANDARD, ctypes.byref(data)):
            return None
        return (data.written, data.size_high << 32 | data.size_low)
    try:
        s = os.stat(path)
    except OSError:
        return None
    return (s.st_mtime_ns, s.st_size, s.st_ino) if stat.S_ISREG(s.st_mode) else None


def _read_file(path: str) -> Optional[bytes]:
    """The file's first MAX_DOCUMENT + 1 bytes, or None to try again (missing, not a regular
    file, or held by someone who does not share it). Python's open does not share delete on
    Windows, and on POSIX would wait for ever on a FIFO renamed there after the stat."""
    if not WINDOWS:
        try:
            fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        except OSError:
            return None
        try:
            if not stat.S_ISREG(os.fstat(fd).st_mode):
                return None
            chunks: List[bytes] = []
            size = 0
            while size <= MAX_DOCUMENT:
                chunk = os.read(fd, MAX_DOCUMENT + 1 - size)
                if not chunk:
                    break
                chunks.append(chunk)
                size += len(chunk)
            return b"".join(chunks)
        except OSError:
            return None
        finally:
            os.close(fd)
    h = kernel32.CreateFileW(path, GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             None, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, None)
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


def tick_ms() -> int:
    """The clock QAV stamps written with on this system, in milliseconds: GetTickCount64()
    on Windows, CLOCK_MONOTONIC on POSIX."""
    if WINDOWS:
        return kernel32.GetTickCount64()
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // _NS_PER_MS


def _wine_tick_ms() -> int:
    """The clock a Windows host under Wine stamps written with: Wine's GetTickCount64()
    follows CLOCK_MONOTONIC_RAW, which drifts from CLOCK_MONOTONIC as the system clock is
    slewed."""
    clock = getattr(time, "CLOCK_MONOTONIC_RAW", time.CLOCK_MONOTONIC)
    return time.clock_gettime_ns(clock) // _NS_PER_MS


def _in_wine_prefix(folder: str) -> bool:
    """Whether folder lies in a Wine prefix (below a drive_c beside the prefix's system.reg,
    or its dosdevices, which Wine makes with the prefix while it saves system.reg only later):
    its writer's pid and clock are then Wine's, not this system's."""
    if WINDOWS:
        return False
    path = os.path.realpath(folder)
    while True:
        parent = os.path.dirname(path)
        if (os.path.basename(path) == "drive_c" and
                (os.path.isfile(os.path.join(parent, "system.reg")) or
                 os.path.isdir(os.path.join(parent, "dosdevices")))):
            return True
        if parent == path:
            return False
        path = parent


@functools.lru_cache(maxsize=None)
def _pid_limit() -> int:
    try:
        with open("/proc/sys/kernel/pid_max") as f:
            return int(f.read())
    except (OSError, ValueError):
        return _PID_MAX


def _pid_runs(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except PermissionError:
        return True  # another user's
    except OSError:
        return False
    return True


def writer_alive(pid: int, written: int) -> bool:
    """Whether pid runs and started no later than written (the session's first document),
    or by the pid alone where its start time cannot be read. pid 0 and a pid no process can
    have here are never alive."""
    if WINDOWS:
        if pid == 0:
            return False
        h = kernel32.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, False, pid)
        if not h:
            return ctypes.get_last_error() == ERROR_ACCESS_DENIED  # runs, but not ours to ask
        try:
            code, times = wintypes.DWORD(), [ctypes.c_uint64() for _ in range(4)]
            if not kernel32.GetExitCodeProcess(h, ctypes.byref(code)) or code.value != STILL_ACTIVE:
                return False
            if not kernel32.GetProcessTimes(h, *[ctypes.byref(t) for t in times]):
                return True
            now = ctypes.c_uint64()
            kernel32.GetSystemTimeAsFileTime(ctypes.byref(now))
            # written, a tick, as wall time, set against the creation time
            age_ms = kernel32.GetTickCount64() - written
            return times[0].value - now.value <= (CLOCK_SLACK_MS - age_ms) * FILETIME_UNITS_PER_MS
        finally:
            kernel32.CloseHandle(h)
    # kill(0, 0) would signal our own group, and a pid past pid_t is not one
    if not 0 < pid <= min(_pid_limit(), 2**31 - 1):
        return False
    try:
        with open(f"{_PROC}/{pid}/stat", "rb") as f:
            fields = f.read().rsplit(b")", 1)[1].split()
        state, started = fields[0], int(fields[19])
    except (OSError, IndexError, ValueError):
        # /proc hides other users' processes (hidepid), or there is none: the pid alone
        return _pid_runs(pid)
    if state in (b"Z", b"X"):
        return False
    # the start time counts from boot, suspends included; written does not count them
    suspended = (time.clock_gettime_ns(time.CLOCK_BOOTTIME) -
                 time.clock_gettime_ns(time.CLOCK_MONOTONIC)) // _NS_PER_MS
    start_ms = started * 1000 // os.sysconf("SC_CLK_TCK") - suspended
    return start_ms <= written + CLOCK_SLACK_MS


# Parsing: json.loads with hooks for what RFC 8259 refuses and Python takes (NaN, a key
# twice), and for what the document's integers need: "-0", "5.0" and "1e3" are numbers but
# not integers, and an integer stays exact at any size.

def _refuse_constant(name: str) -> Any:
    raise NotQav(f"not a QAV document: {name} is not JSON")


def _number_spelt_as_digits(spelling: str) -> Any:
    if spelling == "-0":
        return -0.0   # a number, not the integer 0
    try:
        return int(spelling)
    except ValueError:  # past the digits int() converts: too large for any member anyway
        return float(spelling)


def _object_without_twins(pairs: List[Tuple[str, Any]]) -> Dict[str, Any]:
    obj = dict(pairs)
    if len(obj) != len(pairs):
        seen: set = set()
        twin = next(key for key, _ in pairs if key in seen or seen.add(key))
        raise NotQav(f"not a QAV document: the key {json.dumps(twin)} is given twice")
    return obj


def _refuse_deep_or_surrogates(doc: Any) -> None:
    """What json.loads lets through: nesting past _MAX_DEPTH, and a \\u escape of a lone
    surrogate, which no UTF-8 text can hold."""
    pending = [(doc, 1)]
    while pending:
        value, depth = pending.pop()
        if isinstance(value, (dict, list)):
            if depth > _MAX_DEPTH:
                raise NotQav(f"not a QAV document: nested more than {_MAX_DEPTH} deep")
            if isinstance(value, dict):
                pending.extend((key, depth) for key in value)
                value = value.values()
            pending.extend((item, depth + 1) for item in value)
        elif isinstance(value, str):
            try:
                value.encode("utf-8")
            except UnicodeEncodeError:
                raise NotQav("not a QAV document: a text holds a lone surrogate") from None


class _Object(NamedTuple):
    members: Dict[str, Any]
    nullable: bool


def _integer(top: int) -> Tuple[Callable[[Any], bool], str]:
    return (lambda v: type(v) is int and 0 <= v < top), f"an integer from 0 to {top - 1}"


_U32, _U64 = _integer(2**32), _integer(2**64)
_TEXT = (lambda v: type(v) is str), "a text"
_FLAG = (lambda v: type(v) is bool), "true or false"
_NUMBER = (lambda v: v is None or type(v) in (int, float)), "a number or null"
_JOB = _Object(dict(**{name: _TEXT for name in (
    "cargo", "cargoId", "sourceCity", "sourceCityId", "sourceCompany", "sourceCompanyId",
    "destinationCity", "destinationCityId", "destinationCompany", "destinationCompanyId")},
    income=_U64, cargoMass=_NUMBER, deliveryTime=_U32, plannedKm=_U32), nullable=True)
_MEMBERS = {"pid": _U32, "written": _U64, "game": _TEXT, "gameVersion": _TEXT,
            "paused": _FLAG, "gameTime": _U32,
            "position": _Object({"x": _NUMBER, "y": _NUMBER, "z": _NUMBER}, nullable=False),
            "speed": _NUMBER, "job": _JOB, "lastEvent": _TEXT, "eventSeq": _U32}


def _check_members(obj: Dict[str, Any], members: Dict[str, Any], prefix: str = "") -> None:
    for key, rule in members.items():
        name = prefix + key
        if key not in obj:
            raise NotQav(f'not a QAV document: "{name}" is missing')
        value = obj[key]
        if isinstance(rule, _Object):
            if value is None and rule.nullable:
                continue
            if type(value) is not dict:
                raise NotQav(f'not a QAV document: "{name}" is not an object'
                             + (" or null" if rule.nullable else ""))
            _check_members(value, rule.members, name + ".")
        elif not rule[0](value):
            raise NotQav(f'not a QAV document: "{name}" is not {rule[1]}')


def parse(data: bytes) -> Dict[str, Any]:
    """The document as a dict of JSON values (integers as int, exact); raises NotQav when
    it is not a QAV 1.x document."""
    if data.startswith(codecs.BOM_UTF8):
        raise NotQav("not a QAV document: it starts with a byte order mark")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as bad:
        raise NotQav(f"not a QAV document: not UTF-8 (byte {bad.start})") from None
    try:
        doc = json.loads(text, parse_constant=_refuse_constant,
                         parse_int=_number_spelt_as_digits,
                         object_pairs_hook=_object_without_twins)
    except RecursionError:
        raise NotQav(f"not a QAV document: nested more than {_MAX_DEPTH} deep") from None
    except ValueError as bad:
        raise NotQav(f"not a QAV document: not JSON: {bad}") from None
    _refuse_deep_or_surrogates(doc)
    if not isinstance(doc, dict):
        raise NotQav("not a QAV document: not a JSON object")
    if doc.get("plugin") != "QAV":
        raise NotQav('not a QAV document: its "plugin" is not "QAV"')
    version = doc.get("version")
    if type(version) is not str:
        raise NotQav('not a QAV document: its "version" is not a text')
    if not version.startswith("1."):
        # a version made to look like more lines of output is shown as what it is
        shown = version if version.isprintable() else json.dumps(version)
        raise NotQav(f"a QAV document of version {shown}: this reader knows 1.x only")
    _check_members(doc, _MEMBERS)
    return doc


def _closing_shape(doc: Dict[str, Any]) -> bool:
    return doc["paused"] and doc["job"] is None and doc["lastEvent"] == CLOSED_EVENT


def _load_shape(doc: Dict[str, Any]) -> bool:
    return (doc["paused"] and doc["gameTime"] == 0 and doc["job"] is None
            and doc["lastEvent"] == "" and doc["eventSeq"] == 0)


class _Writer(NamedTuple):
    """What the next document of a pid is set against: its last document read."""
    event_seq: int
    written: int
    last_event: str
    load: bool               # it was a load document
    closing: bool            # it was its session's closing one
    since: int               # written of its session's first document read


def status_text(status: Status) -> str:
    """The verdict's words: "waiting for the plug-in", "live", "stale N s", "closed" or
    "host gone without a closing document", then what the judgement could not see."""
    text = {WAITING: "waiting for the plug-in", LIVE: "live", CLOSED: "closed",
            GONE: "host gone without a closing document"}.get(status.kind)
    if text is None:
        # a document stamped before this machine last started has no age to tell
        text = "stale" if status.age_ms is None else f"stale {status.age_ms // 1000} s"
    if status.kind != WAITING and not status.writer_checked:
        text += " (writer not checked)"
    if status.shared:
        text += " (two writers share this folder)"
    return text


def _said(status: Status) -> tuple:
    """What a change of status is told by: not the age, which changes every moment."""
    return status.kind, status.writer_checked, status.shared


class Reader:
    """Reads DIRECTORY/telemetry.json (DIRECTORY "" or None: the data folder).
    check_writer: None to look up the writer's process unless the folder lies in a Wine
    prefix, True to look it up always, False to judge by the document's age alone."""

    def __init__(self, directory: Optional[str] = None,
                 check_writer: Optional[bool] = None) -> None:
        folder = find_dir(directory)
        if folder is None:
            raise ValueError("the system does not say where the data folder is: give it")
        if "\0" in folder:
            raise ValueError("a folder name cannot hold a NUL character")
        self.path = os.path.join(folder, "telemetry.json")
        if not WINDOWS:
            # the system would refuse every look at the file, and the reader wait for ever
            most = os.pathconf("/", "PC_PATH_MAX") - 1 - (len(self.path) - len(folder))
            if len(os.fsencode(folder)) > most:
                raise ValueError(f"the folder path is too long ({len(os.fsencode(folder))} "
                                 f"bytes, at most {most})")
        self.check_writer = check_writer
        self.stamp: Optional[tuple] = None  # of the last read
        self.bytes = b""       # the last new document's bytes
        self.doc: Optional[Dict[str, Any]] = None  # the last new document
        self.events = 0        # gameplay events since its writer's previous document
        self.new_session = False  # the last document starts a session of its writer
        self.closing = False   # the last document is its session's closing one
        self.session_written = 0  # written of the first document read of its session
        self.documents = 0     # new documents read
        self.reads = 0         # times the file was opened
        self._folder = folder
        self._wine = _in_wine_prefix(folder)
        self._writers: "OrderedDict[int, _Writer]" = OrderedDict()  # most recent last
        self._shared = False
        self._looked_up: Optional[tuple] = None  # (pid, since), when, whether it ran

    def poll(self) -> bool:
        """Reads the file if its last-write time or size changed. True for a new document
        (doc, events, new_session and closing set), False for none; raises NotQav, and
        nothing else, for a refused one."""
        stamp = _stamp_of(self.path)
        if stamp is None or stamp == self.stamp:
            return False
        data = None
        for _ in range(_READ_TRIES):
            self.reads += 1
            data = _read_file(self.path)
            if data and (data.endswith(b"\n") or len(data) > MAX_DOCUMENT):
                break
            time.sleep(_READ_PAUSE)
        if data is None:
            return False
        self.stamp = stamp
        if len(data) > MAX_DOCUMENT:
            raise NotQav(f"not a QAV document: larger than {MAX_DOCUMENT // 1024} KiB")
        if not data.endswith(b"\n"):
            raise NotQav("not a QAV document: it does not end with a line feed (cut short?)")
        if data == self.bytes:
            return False
        self._count(parse(data))
        if not self._wine:
            # Wine saves a new prefix's system.reg only when its server stops
            self._wine = _in_wine_prefix(self._folder)
        self.bytes = data
        self.documents += 1
        return True

    def _count(self, doc: Dict[str, Any]) -> None:
        """Events and sessions, kept per pid so that hosts sharing the folder count their
        own. A load document, written going back or eventSeq falling start a session."""
        pid, written, seq = doc["pid"], doc["written"], doc["eventSeq"]
        last = self._writers.pop(pid, None)
        rise = 0 if last is None else (seq - last.event_seq) % _SEQ_MOD
        load = _load_shape(doc)
        fresh = (last is None or (load and not last.load) or written < last.written or
                 rise >= _SEQ_MOD // 2)
        self.events = seq if fresh else rise
        self.new_session = fresh
        # the closing document names game.closed without counting it; a gameplay event of
        # that name raises eventSeq, and the documents after it keep naming it
        self.closing = _closing_shape(doc) and (
            fresh or (rise == 0 and last.last_event != CLOSED_EVENT))
        self.session_written = written if fresh else last.since
        # another writer, not closed, wrote less than STALE_MS ago
        self._shared = any(
            not other.closing and written - other.written < STALE_MS
            for other in self._writers.values())
        self._writers[pid] = _Writer(seq, written, doc["lastEvent"], load, self.closing,
                                     self.session_written)
        while len(self._writers) > _WRITERS_KEPT:
            self._writers.popitem(last=False)
        self.doc = doc

    def status(self) -> Status:
        """The writer's state now, from the last document read."""
        return self._status_at(self._clock())

    def _clock(self) -> int:
        return _wine_tick_ms() if self._wine else tick_ms()

    def _status_at(self, now: int) -> Status:
        doc = self.doc
        if doc is None:
            return Status(WAITING, None, False, False)
        pid, written = doc["pid"], doc["written"]
        # a host in its own pid namespace (a sandbox, a container) writes 1
        checked = (not self._wine if self.check_writer is None else self.check_writer) \
            and pid != 1
        # a tick from the future was taken before this machine last started: its age is not
        # known, only that it is stale
        before_start = written > now + CLOCK_SLACK_MS
        age = None if before_start else max(now - written, 0)
        if self.closing:
            kind = CLOSED
        else:
            # a writer not looked up counts as running while it keeps writing
            runs = not before_start and (
                self._writer_runs(pid, now) if checked else age < STALE_MS)
            # a closing document that also wrote a waiting event counted it: once its writer
            # is gone, its shape is enough
            if not runs and _closing_shape(doc):
                kind = CLOSED
            elif not runs and checked:
                kind = GONE
            else:
                kind = STALE if age is None or age >= STALE_MS else LIVE
        return Status(kind, age, checked, self._shared)

    def _writer_runs(self, pid: int, now: int) -> bool:
        """writer_alive(), looked up at most once every _RECHECK_MS for the same session."""
        key = (pid, self.session_written)
        cached = self._looked_up
        if cached is None or cached[0] != key or not 0 <= now - cached[1] < _RECHECK_MS:
            cached = self._looked_up = (key, now, writer_alive(pid, self.session_written))
        return cached[2]

    def verdict(self) -> str:
        """status_text(self.status())."""
        return status_text(self.status())

    def follow(self, interval: float = _INTERVAL) -> Iterator[Change]:
        """Polls every interval seconds and yields a Change for each new or refused
        document, and whenever the status's kind, writer_checked or shared changes; first
        of all the status as it is. Idle, it costs one stat per poll."""
        said = None
        while True:
            document, problem = None, None
            try:
                if self.poll():
                    document = self.doc
            except NotQav as refused:
                problem = str(refused)
            status = self.status()
            if document is not None or problem is not None or _said(status) != said:
                said = _said(status)
                yield Change(document, status, self.events if document is not None else 0,
                             document is not None and self.new_session, problem)
            time.sleep(interval)


# the names these went by in 1.0
stamp_of, read_file, closing_shape = _stamp_of, _read_file, _closing_shape


def _json_escape(error: UnicodeError) -> Tuple[str, int]:
    """For characters the output cannot take: \\uXXXX per UTF-16 unit, as JSON.stringify
    writes a lone surrogate, so that a quoted text stays JSON that decodes to the original."""
    if not isinstance(error, UnicodeEncodeError):
        raise error
    units = error.object[error.start:error.end].encode("utf-16-be", "surrogatepass")
    return "".join(f"\\u{units[i]:02x}{units[i + 1]:02x}"
                   for i in range(0, len(units), 2)), error.end


_USAGE = "usage: qav-reader [--age-only | --check-writer] [DIR]"


def _usage_error(message: str) -> NoReturn:
    print(f"qav-reader: {message}\n{_USAGE}", file=sys.stderr)
    sys.exit(2)


def main(argv: Optional[List[str]] = None) -> None:
    """qav-reader [--age-only | --check-writer] [DIR]: one line per new document and one per
    change of verdict, until Ctrl+C or SIGTERM. Exit status 2 for a usage error."""
    args = (sys.argv if argv is None else argv)[1:]
    check_writer, folders = None, []
    for arg in args:
        if arg in ("--age-only", "--check-writer"):
            check_writer = arg == "--check-writer"
        elif arg.startswith("-") and arg != "-":
            _usage_error(f"unknown option {arg}")
        else:
            folders.append(arg)
    if len(folders) > 1:
        _usage_error("too many arguments")
    try:
        reader = Reader(folders[0] if folders else None, check_writer)
    except ValueError as bad:
        _usage_error(str(bad))
    codecs.register_error("qav_reader.json", _json_escape)
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="qav_reader.json")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(f"reading {reader.path}", flush=True)
    said = None
    try:
        for change in reader.follow():
            d = change.document
            if change.problem is not None:
                print(f"refused: {change.problem}")
            elif d is not None:
                print(f"document {reader.documents}: pid {d['pid']}, written {d['written']}, "
                      f"{'paused' if d['paused'] else 'running'}, "
                      f"event {json.dumps(d['lastEvent'], ensure_ascii=False)} #{d['eventSeq']} "
                      f"(+{change.events})")
            if _said(change.status) != said:
                said = _said(change.status)
                print(f"verdict: {status_text(change.status)}")
            sys.stdout.flush()
    except KeyboardInterrupt:
        pass
    except BrokenPipeError:
        # the program reading the output has gone (| head): end as quietly as C does, without
        # a second error when the interpreter flushes stdout at exit
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


if __name__ == "__main__":
    main()

"""Control of the simulated boards, when the loaded tellamio is the simulated library (the
simulated tellamio.dll, or the native build's libtellamio.so): a motion script's tests force
inputs, stop, speed up and move the clock, inject request failures and read what was sent.

The clock runs in real time, frozen, scaled or in virtual time, where it moves only by the
waits: Axis.wait and sleep() below wait in the simulator's time, time.sleep does not.

Every function raises TellamError when the simulator refuses, and when the loaded tellamio is
the real library (choose the simulator first: tellam.use_simulator() or TELLAM_SIMULATED=1).
"""
import ctypes
import difflib
import os
from typing import Any, List, Optional, Tuple, Union

from . import AXIS_NAMES, TellamError, _lib

INPUTS = {"+ELS": 0, "-ELS": 1, "DLS": 2, "OLS": 3, "Z": 4, "INPOS": 5, "SVALM": 6}
# The driver's requests, as tellam_protocol.h names them (tools/check-docs compares the two).
REQUESTS = {"GET_DEVICE_COUNT": 0x222000, "GET_DEVICE_INFO": 0x222004, "SELECT_BOARD": 0x222008,
            "READ_BYTE": 0x22200C, "READ_WORD": 0x222010, "WRITE_BYTE": 0x222014, "WRITE_WORD": 0x222018}
FAULTS = {"fail": 1, "bytes": 2, "records": 3, "reply": 4}
_FORCE = {None: 0, True: 1, False: 2}  # follow the sensor, asserted, released


class TraceEntry(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("seq", ctypes.c_uint32), ("file", ctypes.c_uint32), ("code", ctypes.c_uint32),
                ("port", ctypes.c_uint32), ("value", ctypes.c_uint32), ("status", ctypes.c_int32),
                ("returned", ctypes.c_uint32), ("board", ctypes.c_int32)]


_PROTOTYPES = [
    ("tlmsim_Reset", []),
    ("tlmsim_SetInput", [_lib.LONG, _lib.DWORD, _lib.DWORD, _lib.DWORD]),
    ("tlmsim_ClockFreeze", []),
    ("tlmsim_ClockRun", []),
    ("tlmsim_ClockAdvance", [ctypes.c_uint64]),
    ("tlmsim_ClockScale", [ctypes.c_double]),
    ("tlmsim_ClockVirtual", []),
    ("tlmsim_Sleep", [_lib.DWORD]),
    ("tlmsim_TickCount", [ctypes.POINTER(_lib.DWORD)]),
    ("tlmsim_AddFault", [_lib.DWORD, _lib.DWORD, _lib.DWORD, _lib.LONG, _lib.DWORD]),
    ("tlmsim_ClearFaults", []),
    ("tlmsim_ReadTrace", [_lib.DWORD, ctypes.POINTER(TraceEntry), _lib.DWORD, ctypes.POINTER(_lib.DWORD)]),
    ("tlmsim_ResetTrace", []),
    ("tlmsim_FormatTraceLine", [ctypes.POINTER(TraceEntry), ctypes.c_char_p, _lib.DWORD]),
]
_prototyped = False
ERROR_PROC_NOT_FOUND = 127  # what GetProcAddress says of a tlmsim_ function in the real library


def _library() -> Any:
    """tellamio, loaded at the first call, with the prototypes of the simulator's functions."""
    global _prototyped
    library = _lib.tellamio()
    if not _prototyped:
        if not _lib.is_simulator(library):
            raise TellamError("tlmsim_Reset", ERROR_PROC_NOT_FOUND, "tellam.sim: the loaded tellamio is the real "
                              "library, which has no simulator; choose the simulated one before the first call "
                              "(tellam.use_simulator() or TELLAM_SIMULATED=1)")
        for name, argtypes in _PROTOTYPES:
            function = getattr(library, name)
            function.restype = _lib.DWORD
            function.argtypes = argtypes
        _prototyped = True
    return library


def _call(name: str, *args: Any) -> None:
    error = getattr(_library(), name)(*args)
    if error:
        raise TellamError(name, error)


def reset() -> None:
    """One six-axis board 0, empty trace, no faults, nothing forced, real clock."""
    _call("tlmsim_Reset")


def set_input(board: int, axis: Union[str, int], name: str, on: Optional[bool]) -> None:
    """Drives an input of an axis: on True (the sensor detects), False, or None (follow the
    sensors again). axis: "X" .. "W" or 0 ..; name: +ELS, -ELS, DLS, OLS, Z, INPOS, SVALM."""
    number = AXIS_NAMES.index(axis.upper()) if isinstance(axis, str) else int(axis)
    if name.upper() not in INPUTS or on not in _FORCE:
        raise ValueError("input %r, on %r: one of %s, and True, False or None" % (name, on, ", ".join(INPUTS)))
    _call("tlmsim_SetInput", int(board), number, INPUTS[name.upper()], _FORCE[on])


def clock_freeze() -> None:
    _call("tlmsim_ClockFreeze")


def clock_run() -> None:
    _call("tlmsim_ClockRun")


def clock_scale(k: float) -> None:
    """Simulated time runs k times as fast as real time, 0.01 <= k <= 10000."""
    _call("tlmsim_ClockScale", float(k))


def clock_virtual() -> None:
    """Virtual time: the clock moves only when the script waits (Axis.wait, sleep), by the
    time waited, at once. A single-threaded script then runs as fast as the processor allows;
    with several threads, every thread's wait moves the one clock."""
    _call("tlmsim_ClockVirtual")


# sleep() waits in pieces, so that Ctrl+C is seen between them.
_SLEEP_PIECE_MS = 50


def sleep(seconds: float) -> None:
    """Waits seconds of simulated time: real time in real mode, seconds / k in scaled mode,
    none in virtual mode. A frozen clock refuses (TellamError 87): it would never return."""
    ms = int(round(float(seconds) * 1000))
    if ms < 0:
        raise ValueError("seconds must not be negative, not %r" % (seconds,))
    while True:
        piece = min(ms, _SLEEP_PIECE_MS)
        _call("tlmsim_Sleep", piece)
        ms -= piece
        if ms == 0:
            return


def tick_count() -> int:
    """The simulated time in milliseconds, wrapping at 2**32 as GetTickCount."""
    ms = _lib.DWORD()
    _call("tlmsim_TickCount", ctypes.byref(ms))
    return ms.value


def clock_advance(seconds: float) -> None:
    """Moves the simulator's time on; moves run on meanwhile."""
    _call("tlmsim_ClockAdvance", int(round(float(seconds) * 1e9)))


def add_fault(kind: str = "fail", request: Union[str, int] = "WRITE_BYTE", status: int = 0xC0000185,
              value: int = 0) -> None:
    """Makes requests fail or answer wrongly. kind: fail, bytes, records or reply; request: a
    request name (every such request) or a number (that request of the trace); status: the
    NTSTATUS of a failure (default: the board does not answer, Windows error 1117)."""
    if isinstance(request, str):
        number, code = 0, REQUESTS[request.upper()]
    else:
        number, code = int(request), 0
    _call("tlmsim_AddFault", FAULTS[kind], number, code, ctypes.c_int32(status & 0xFFFFFFFF).value, int(value))


def clear_faults() -> None:
    _call("tlmsim_ClearFaults")


def reset_trace() -> None:
    _call("tlmsim_ResetTrace")


# The simulator holds the last 4096 requests; a line of tlmsimctl trace fits in 256 bytes.
_TRACE_ROOM = 4096
_LINE_ROOM = 256


def _entries() -> List[TraceEntry]:
    entries = (TraceEntry * _TRACE_ROOM)()
    count = _lib.DWORD()
    _call("tlmsim_ReadTrace", 1, entries, _TRACE_ROOM, ctypes.byref(count))
    return list(entries[:count.value])


def trace() -> List[Tuple[str, int, int, int]]:
    """The board requests sent since the last reset: (request, board, port, value) tuples,
    the request by its name."""
    names = {code: name for name, code in REQUESTS.items()}
    return [(names.get(e.code, hex(e.code)), e.board, e.port, e.value) for e in _entries()]


def trace_lines() -> List[str]:
    """The board requests sent since the last reset, decoded as `tlmsimctl trace` prints them:
    the column heads, then one line per request. Requests no longer held (the simulator keeps
    the last 4096) show as one line saying so, as there."""
    line = ctypes.create_string_buffer(_LINE_ROOM)

    def formatted(entry: Optional[TraceEntry]) -> str:
        _call("tlmsim_FormatTraceLine", None if entry is None else ctypes.byref(entry), line, _LINE_ROOM)
        return line.value.decode("ascii", "replace")

    entries = _entries()
    lines = [formatted(None)]
    if entries and entries[0].seq > 1:
        lines.append("(requests 1 to %d are no longer held)" % (entries[0].seq - 1))
    return lines + [formatted(entry) for entry in entries]


# Set by the pytest fixture tellam_sim for its test: the folder relative trace files are in,
# and whether to write them (pytest --tellam-update-traces) instead of comparing.
_trace_files: Optional[Tuple[str, bool]] = None
_SHOWN_LINES = 30  # of a trace with no file to compare it with


def assert_trace(path: Union[str, "os.PathLike[str]"]) -> None:
    """Compares trace_lines() with a saved trace file, and raises AssertionError with a
    unified diff when they differ. In a test with the tellam_sim fixture a relative path is
    relative to the test file's folder, and pytest --tellam-update-traces writes the file
    instead; elsewhere it is relative to the working folder."""
    __tracebackhide__ = True  # pytest shows the diff without this function's source
    folder, update = _trace_files or (os.getcwd(), False)
    path = os.path.join(folder, os.fspath(path))
    lines = trace_lines()
    if update:
        os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="\n") as file:
            file.write("".join(line + "\n" for line in lines))
        return
    try:
        with open(path, encoding="utf-8") as file:
            saved = file.read().splitlines()
    except FileNotFoundError:
        shown = lines[:_SHOWN_LINES] + (["... %d lines more" % (len(lines) - _SHOWN_LINES)]
                                         if len(lines) > _SHOWN_LINES else [])
        raise AssertionError("no trace file %s: pytest --tellam-update-traces writes it. The trace:\n%s"
                             % (path, "\n".join(shown))) from None
    if saved != lines:
        diff = difflib.unified_diff(saved, lines, path, "the requests sent", lineterm="")
        raise AssertionError("the requests sent differ from %s (pytest --tellam-update-traces writes it anew):\n%s"
                             % (path, "\n".join(diff)))

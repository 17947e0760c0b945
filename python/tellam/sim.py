"""Control of the simulated boards, when the loaded tellamio is the simulated library (the
simulated tellamio.dll, or the native build's libtellamio.so): a motion script's tests force
inputs, stop, speed up and move the clock, inject request failures and read what was sent.

The clock runs in real time, frozen, scaled or in virtual time, where it moves only by the
waits: Axis.wait and sleep() below wait in the simulator's time, time.sleep does not.

Every function raises TellamError when the simulator refuses.
"""
import ctypes

from . import _lib

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
]
for _name, _argtypes in _PROTOTYPES:
    _function = getattr(_lib.tellamio, _name)
    _function.restype = _lib.DWORD
    _function.argtypes = _argtypes


def _call(name, *args):
    from . import TellamError
    error = getattr(_lib.tellamio, name)(*args)
    if error:
        raise TellamError(name, error)


def reset():
    """One six-axis board 0, empty trace, no faults, nothing forced, real clock."""
    _call("tlmsim_Reset")


def set_input(board, axis, name, on):
    """Drives an input of an axis: on True (the sensor detects), False, or None (follow the
    sensors again). axis: "X" .. "W" or 0 ..; name: +ELS, -ELS, DLS, OLS, Z, INPOS, SVALM."""
    from . import AXIS_NAMES
    number = AXIS_NAMES.index(axis.upper()) if isinstance(axis, str) else int(axis)
    if name.upper() not in INPUTS or on not in _FORCE:
        raise ValueError("input %r, on %r: one of %s, and True, False or None" % (name, on, ", ".join(INPUTS)))
    _call("tlmsim_SetInput", int(board), number, INPUTS[name.upper()], _FORCE[on])


def clock_freeze():
    _call("tlmsim_ClockFreeze")


def clock_run():
    _call("tlmsim_ClockRun")


def clock_scale(k):
    """Simulated time runs k times as fast as real time, 0.01 <= k <= 10000."""
    _call("tlmsim_ClockScale", float(k))


def clock_virtual():
    """Virtual time: the clock moves only when the script waits (Axis.wait, sleep), by the
    time waited, at once. A single-threaded script then runs as fast as the processor allows;
    with several threads, every thread's wait moves the one clock."""
    _call("tlmsim_ClockVirtual")


# sleep() waits in pieces, so that Ctrl+C is seen between them.
_SLEEP_PIECE_MS = 50


def sleep(seconds):
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


def tick_count():
    """The simulated time in milliseconds, wrapping at 2**32 as GetTickCount."""
    ms = _lib.DWORD()
    _call("tlmsim_TickCount", ctypes.byref(ms))
    return ms.value


def clock_advance(seconds):
    """Moves the simulator's time on; moves run on meanwhile."""
    _call("tlmsim_ClockAdvance", int(round(float(seconds) * 1e9)))


def add_fault(kind="fail", request="WRITE_BYTE", status=0xC0000185, value=0):
    """Makes requests fail or answer wrongly. kind: fail, bytes, records or reply; request: a
    request name (every such request) or a number (that request of the trace); status: the
    NTSTATUS of a failure (default: the board does not answer, Windows error 1117)."""
    if isinstance(request, str):
        number, code = 0, REQUESTS[request.upper()]
    else:
        number, code = int(request), 0
    _call("tlmsim_AddFault", FAULTS[kind], number, code, ctypes.c_int32(status & 0xFFFFFFFF).value, int(value))


def clear_faults():
    _call("tlmsim_ClearFaults")


def reset_trace():
    _call("tlmsim_ResetTrace")


def trace():
    """The board requests sent since the last reset: (request, board, port, value) tuples,
    the request by its name."""
    names = {code: name for name, code in REQUESTS.items()}
    room = 4096
    entries = (TraceEntry * room)()
    count = _lib.DWORD()
    _call("tlmsim_ReadTrace", 1, entries, room, ctypes.byref(count))
    return [(names.get(e.code, hex(e.code)), e.board, e.port, e.value) for e in entries[:count.value]]

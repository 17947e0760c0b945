"""tellam: Tellam-6X and Tellam-4X boards from Python, over tellamio and its motion library.

    import tellam
    with tellam.open_board() as board:
        x = board.axis("X")
        x.init(); x.servo_on()
        x.set_speeds(500, 5000, accel=0.2)
        x.move_by(3000); x.wait(timeout=30)

Leaving the with-block, also by an exception or Ctrl+C, stops every axis moved and closes
the board. Numbers are checked against the motion library's ranges before anything is sent
(ValueError). wait() returns the position when the move ended as it was meant to, and raises
MotionError (MotionTimeout at the timeout) with the reason otherwise. Failed calls raise
TellamError with the call's name and the Windows error code.

An axis may count in units of its own (axis.scale pulses per unit, axis.unit its name);
board.move_to(X=..., Y=...) moves axes together, axis.soft_limits bounds their travel,
board.settings() and board.apply() read and write an axis' setup as a dict, and
board.watchdog(seconds) stops the board when the script stops making calls.

Importing tellam loads no library: the first call that needs one loads tellamio and the motion
library, from TELLAM_LIBRARY_PATH if set, else from the package (tellam/lib). On Windows that
is the real library unless tellam.use_simulator() or TELLAM_SIMULATED=1 chose the simulated
one first; on Linux it is the simulator. A library that cannot load raises LibraryError.
"""
import collections
import collections.abc
import contextlib
import ctypes
import fractions
import importlib
import json
import math
import numbers
import operator
import os
import time
from typing import (TYPE_CHECKING, Any, ContextManager, Dict, Iterator, List, Mapping, NamedTuple, Optional, Sequence,
                    Tuple, Union)

from . import _lib
from ._lib import LibraryError

LibraryError.__module__ = __name__  # shown as tellam.LibraryError, where users catch it

if TYPE_CHECKING:
    from . import sim  # noqa: F401  (imported on first use, by __getattr__)

__all__ = ["TellamError", "MotionError", "MotionTimeout", "HomingError", "HomingTimeout", "WatchdogError",
           "LibraryError", "BoardInfo", "Status", "simulated", "use_simulator", "list_boards", "open_board", "Board",
           "Axis", "save_settings", "load_settings", "ARRIVED", "PLUS_LIMIT", "MINUS_LIMIT", "STOPPED",
           "SERVO_ALARM", "TIMEOUT", "IDLE", "SOFT_LIMIT", "NO_Z_MARK", "ERROR_TIMEOUT", "MOTERR_NO_AXIS", "MOTERR_NOT_STOPPED",
           "MOTERR_SERVO_ALARM", "MOTERR_CANCELLED", "MOTERR_READBACK", "MOTERR_SOFT_LIMIT", "MOTERR_WATCHDOG"]

AXIS_NAMES = "XYZUVW"
INVALID_HANDLE = 0xFFFFFFFF
LIBERR_HANDLE = 0x20000002  # no open board (or motion handle) answers to the handle

# Why a wait ended (tlmmotion_Wait).
ARRIVED, PLUS_LIMIT, MINUS_LIMIT, STOPPED, SERVO_ALARM, TIMEOUT, IDLE, SOFT_LIMIT, NO_Z_MARK = range(1, 10)
ERROR_TIMEOUT = 1460

# The motion library's own error codes (tellamio_motion.h).
MOTERR_NO_AXIS = 0x20000101
MOTERR_NOT_STOPPED = 0x20000102
MOTERR_SERVO_ALARM = 0x20000103
MOTERR_CANCELLED = 0x20000104
MOTERR_READBACK = 0x20000105
MOTERR_SOFT_LIMIT = 0x20000106
MOTERR_WATCHDOG = 0x20000107
_ERROR_NAMES = {code: name for name, code in list(globals().items()) if name.startswith("MOTERR_")}

# The motion library's ranges (tellamio_motion.h).
SPEED_MAX = 32766
ACCEL_MIN, ACCEL_MAX = 0.010, 9999.999
MOVE_MAX = 2147483647
POSITION_MIN, POSITION_MAX = -2 ** 31, 2 ** 31 - 1
TIMEOUT_MAX = 86400.0  # seconds

# Short enough that Ctrl+C is seen at once and the library's SVALM check runs often.
POLL_SECONDS = 0.015

# The inputs of set_contacts, as TLMMOTION_IN_ bits: +ELS and -ELS share one setting.
_CONTACT_BITS = {"els": 0x03, "dls": 0x04, "ols": 0x08, "inpos": 0x20, "svalm": 0x40}

_REASONS = {
    ARRIVED: ("ARRIVED", "reached its target"),
    PLUS_LIMIT: ("PLUS_LIMIT", "ended at the + limit (+ELS)"),
    MINUS_LIMIT: ("MINUS_LIMIT", "ended at the - limit (-ELS)"),
    STOPPED: ("STOPPED", "was stopped"),
    SERVO_ALARM: ("SERVO_ALARM", "was stopped at once: the servo alarm (SVALM) came on"),
    TIMEOUT: ("TIMEOUT", "was still moving at the timeout and has been stopped"),
    IDLE: ("IDLE", "had not started"),
    SOFT_LIMIT: ("SOFT_LIMIT", "stopped at the soft limit"),
    NO_Z_MARK: ("NO_Z_MARK", "found OLS but no Z mark before the timeout and has been stopped"),
}

# An origin return that failed: the phase it failed in and what ended it, by the reason. A
# stop or the servo alarm cannot tell which phase a return with Z was in.
_OLS_SEARCH, _Z_SEARCH, _EITHER_PHASE = "OLS search", "Z mark search", "origin return"
_HOMING_FAILURES = {
    PLUS_LIMIT: (_OLS_SEARCH, "ran into the + limit (+ELS) before it found the origin sensor (OLS)"),
    MINUS_LIMIT: (_OLS_SEARCH, "ran into the - limit (-ELS) before it found the origin sensor (OLS)"),
    TIMEOUT: (_OLS_SEARCH, "found no origin sensor (OLS) within the timeout and has been stopped"),
    NO_Z_MARK: (_Z_SEARCH, "found the origin sensor (OLS), but no Z mark followed within the timeout; "
                           "it has been stopped"),
    SERVO_ALARM: (None, "was stopped at once: the servo alarm (SVALM) came on"),
    STOPPED: (None, "was stopped before it completed"),
}
_HOMING_TIMEOUTS = frozenset([TIMEOUT, NO_Z_MARK])

# The endings of a wait that are no failure, by what was started: a feed or an origin return
# must arrive; a jog ends when stopped or at the limit it runs towards.
_ARRIVING = frozenset([ARRIVED, IDLE])
_JOG_ENDINGS = {1: frozenset([STOPPED, PLUS_LIMIT, SOFT_LIMIT, IDLE]),
                -1: frozenset([STOPPED, MINUS_LIMIT, SOFT_LIMIT, IDLE])}
# What was started on an axis: its text for messages, the endings of its wait that are no
# failure, and for an origin return whether it looks for Z (None for other moves).
_Start = collections.namedtuple("_Start", "text endings z_phase")
_NOTHING_STARTED = _Start(None, frozenset([IDLE]), None)

# Units: an axis counts in pulses until given a scale.
DEFAULT_SCALE, DEFAULT_UNIT = 1, "pulse"
# A soft limit given in units is rounded inwards to a whole pulse, but one less than this much
# short of a whole pulse is that pulse: a limit read back in units (a float) then comes back
# to the same pulse.
_SNAP = fractions.Fraction(1, 10 ** 6)

# The keys of an axis' entry in board.settings() and board.apply().
_SETTINGS_KEYS = ("fl", "fh", "accel", "contacts", "soft_limits", "scale", "unit")

# A number a position, distance or speed is given in: pulses (int), or units of a scale.
Real = Union[int, float, fractions.Fraction]
# One read back: an int on an axis without a scale, a float in units otherwise.
Units = Union[int, float]
# board.settings() and board.apply(): {axis name: {key: value}}.
Settings = Dict[str, Dict[str, Any]]
PathLike = Union[str, "os.PathLike[str]"]


class BoardInfo(NamedTuple):
    bus: int
    device: int
    io_address: int
    irq: int
    management_number: int
    board_id: int


class Status(NamedTuple):
    moving: bool
    plus_limit: bool
    minus_limit: bool
    slow_down: bool
    origin: bool
    z_phase: bool
    in_position: bool
    servo_alarm: bool


class TellamError(OSError):
    """A failed call: .function is the export's name, .code the Windows error code."""

    def __init__(self, function: str, code: int, message: Optional[str] = None) -> None:
        if message is None:
            message = "%s failed: error 0x%X" % (function, code)
            if code in _ERROR_NAMES:
                message += " (%s)" % _ERROR_NAMES[code]
        super().__init__(message)
        self.function = function
        self.code = code


class WatchdogError(TellamError):
    """A call refused because the watchdog stopped the board: no motion call came within its
    time. .code is MOTERR_WATCHDOG; calls work again once the watchdog is set again (leaving or
    entering a board.watchdog() block)."""

    def __init__(self, function: str, code: int = MOTERR_WATCHDOG) -> None:
        super().__init__(function, code, "%s failed: the watchdog stopped the board, as no motion call came "
                                         "within its time (error 0x%X, MOTERR_WATCHDOG)" % (function, code))


class MotionError(TellamError):
    """A move that ended other than it was meant to: .reason (tellam.PLUS_LIMIT, SERVO_ALARM,
    ...) and .position, where the axis stands now (in the axis' units). .code is 0: the wait
    itself succeeded."""

    def __init__(self, axis_name: str, started: Optional[str], reason: int, position: Units, code: int = 0,
                 shown: Optional[str] = None, what: Optional[str] = None) -> None:
        name, ended = _REASONS.get(reason, ("reason %d" % reason, "ended"))
        super().__init__("tlmmotion_Wait", code, "axis %s: %s %s, at position %s (%s)" % (
            axis_name, started or "the move", what or ended, position if shown is None else shown, name))
        self.reason = reason
        self.position = position


class MotionTimeout(MotionError, TimeoutError):
    """A move still under way at the timeout of its wait: the library stopped it. .code is 1460
    (ERROR_TIMEOUT)."""

    def __init__(self, axis_name: str, started: Optional[str], position: Units, shown: Optional[str] = None) -> None:
        super().__init__(axis_name, started, TIMEOUT, position, ERROR_TIMEOUT, shown)


class HomingError(MotionError):
    """An origin return (home()) that did not complete. .phase says where it failed: "OLS
    search" (running to the origin sensor), "Z mark search" (OLS found, waiting for the Z
    mark), or "origin return" when a stop or the servo alarm ended a return with Z, which
    cannot tell the two apart; the message says why."""

    def __init__(self, axis_name: str, started: Optional[str], reason: int, position: Units, z_phase: bool = False,
                 shown: Optional[str] = None) -> None:
        phase, what = _HOMING_FAILURES.get(reason, (None, None))
        self.phase = phase or (_EITHER_PHASE if z_phase else _OLS_SEARCH)
        code = ERROR_TIMEOUT if reason in _HOMING_TIMEOUTS else 0
        MotionError.__init__(self, axis_name, started, reason, position, code, shown,
                             "failed in the %s: it %s" % (self.phase, what or "ended"))


class HomingTimeout(HomingError, MotionTimeout):
    """An origin return that timed out (reason TIMEOUT, or NO_Z_MARK: OLS was found but no Z
    mark followed): a HomingError that `except MotionTimeout` and `except TimeoutError` catch
    too. .code is 1460 (ERROR_TIMEOUT)."""


def _failure(function, code):
    return WatchdogError(function, code) if code == MOTERR_WATCHDOG else TellamError(function, code)


def _check(function, ok):
    if not ok:
        raise _failure(function, _lib.last_error())


def _whole(name, value, low, high):
    """value as an int from low to high. ctypes would cut a bigger one to 32 bits and send
    another number, so anything else is a ValueError before a request goes out."""
    number = None
    if isinstance(value, float):
        number = int(value) if value.is_integer() else None
    elif not isinstance(value, bool):
        try:
            number = operator.index(value)
        except TypeError:
            pass
    if number is None:
        raise ValueError("%s must be a whole number, not %r" % (name, value))
    if not low <= number <= high:
        raise ValueError("%s %d is out of range %d..%d" % (name, number, low, high))
    return number


def _seconds(name, value, low, high):
    """value as a float from low to high seconds; NaN and infinity fail the range."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError("%s must be a number of seconds, not %r" % (name, value))
    try:
        seconds = float(value)
    except OverflowError:
        seconds = float("inf")
    if not low <= seconds <= high:
        raise ValueError("%s %r s is out of range %s..%s s" % (name, value, low, high))
    return seconds


def _contact(name, value):
    """True for an A contact, False for B."""
    if value not in ("A", "B"):
        raise ValueError("%s contact must be \"A\" or \"B\", not %r" % (name, value))
    return value == "A"


def _contacts_bits(name, value):
    """A dict of all five inputs' contacts, as axis.contacts gives it, as TLMMOTION_IN_ bits
    of the A contacts."""
    if not isinstance(value, collections.abc.Mapping) or set(value) != set(_CONTACT_BITS):
        raise ValueError("%s must be a dict of %s, not %r" % (name, ", ".join(_CONTACT_BITS), value))
    return sum(bit for input_name, bit in _CONTACT_BITS.items() if _contact(input_name, value[input_name]))


def _scale_value(name, value):
    """A scale: pulses per unit, a positive finite number."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or not _finite(value) or value <= 0:
        raise ValueError("%s must be a positive finite number of pulses per unit, not %r" % (name, value))
    return value


def _unit_value(name, value):
    if not isinstance(value, str) or not value:
        raise ValueError("%s must be a non-empty string, not %r" % (name, value))
    return value


def _finite(value):
    return isinstance(value, numbers.Rational) or math.isfinite(value)


def _exact(value):
    """A real number as the fraction its decimal form says: 0.26 is 26/100, not the binary float
    nearest to it, so that 0.26 mm at 100 pulses per mm is exactly 26 pulses."""
    if isinstance(value, numbers.Rational):
        return fractions.Fraction(value.numerator, value.denominator)
    return fractions.Fraction(repr(float(value)))


def _nearest(exact):
    """The nearest whole number, halves away from zero (0.5 -> 1, -0.5 -> -1)."""
    whole = math.floor(abs(exact) + fractions.Fraction(1, 2))
    return whole if exact >= 0 else -whole


def _up(exact):
    return math.ceil(exact - _SNAP)


def _down(exact):
    return math.floor(exact + _SNAP)


def _pulses(name, value, scale, low, high, rounding=_nearest):
    """value, in units of scale pulses each, as whole pulses from low to high. At scale 1 a
    value is a number of pulses and must be whole, as on an axis without units; otherwise
    value * scale, computed exactly, is rounded (to the nearest pulse unless told)."""
    if scale == 1:
        return _whole(name, value, low, high)
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or not _finite(value):
        raise ValueError("%s must be a finite number, not %r" % (name, value))
    number = rounding(_exact(value) * _exact(scale))
    if not low <= number <= high:
        raise ValueError("%s %s rounds to %d pulses, out of range %d..%d" % (name, value, number, low, high))
    return number


def _units(pulses, scale):
    """A count of pulses in units: at scale 1 the int itself, otherwise the float nearest to
    pulses / scale."""
    return pulses if scale == 1 else float(fractions.Fraction(pulses) / _exact(scale))


def _amount(value, unit):
    """A position or distance as messages show it."""
    return "%s" % (value,) if unit == DEFAULT_UNIT else "%s %s" % (value, unit)


def _soft_limit_pulses(name, value, scale):
    """(min, max) in units as pulses, rounded inwards (min up, max down) so that the axis never
    passes a limit given; None for none."""
    if value is None:
        return None
    if isinstance(value, str) or not isinstance(value, collections.abc.Sequence) or len(value) != 2:
        raise ValueError("%s must be (min, max) or None, not %r" % (name, value))
    low = _pulses("min", value[0], scale, POSITION_MIN, POSITION_MAX, _up)
    high = _pulses("max", value[1], scale, POSITION_MIN, POSITION_MAX, _down)
    if value[0] > value[1]:
        raise ValueError("%s %r: min is above max" % (name, tuple(value)))
    if low > high:
        raise ValueError("%s %r: no whole pulse lies between them" % (name, tuple(value)))
    return low, high


def _axis_settings(axis_name, entry):
    """An axis' entry of board.apply(), checked and converted: (fl, fh, accel, contact bits,
    soft limits in pulses or None, scale, unit). ValueError names the axis and the key."""
    if not isinstance(entry, collections.abc.Mapping):
        raise ValueError("axis %s: settings must be a dict, not %r" % (axis_name, entry))
    for key in entry:
        if key not in _SETTINGS_KEYS:
            raise ValueError("axis %s: unknown key %r" % (axis_name, key))
    for key in _SETTINGS_KEYS:
        if key not in entry:
            raise ValueError("axis %s: key %r is missing" % (axis_name, key))

    def value(key, convert, *args):
        try:
            return convert(key, entry[key], *args)
        except ValueError as e:
            raise ValueError("axis %s, key %r: %s" % (axis_name, key, e)) from None

    scale = value("scale", _scale_value)
    unit = value("unit", _unit_value)
    fl = value("fl", _pulses, scale, 1, SPEED_MAX)
    fh = value("fh", _pulses, scale, fl, SPEED_MAX)
    accel = value("accel", _seconds, ACCEL_MIN, ACCEL_MAX)
    contacts = value("contacts", _contacts_bits)
    limits = value("soft_limits", _soft_limit_pulses, scale)
    return fl, fh, accel, contacts, limits, scale, unit


def simulated() -> bool:
    """True when tellamio is the simulated library, which tellam.sim then controls; loads the
    libraries if no call has yet."""
    return _lib.simulated()


def use_simulator() -> None:
    """Chooses the simulated library, before the first call that needs a library (as
    TELLAM_SIMULATED=1 does): on Windows tellam/lib/sim/tellamio.dll instead of the real
    tellamio.dll. Linux has only the simulator. Once the real library is loaded, RuntimeError."""
    _lib.use_simulator()


def __getattr__(name: str) -> Any:
    # tellam.sim without importing it, and without loading a library before it is used.
    if name == "sim":
        return importlib.import_module(".sim", __name__)
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


class _WaitClock:
    """The time a wait goes by: the simulator's with the simulated library, so that a timeout
    is the machine's time in every clock mode; the system's otherwise. A frozen simulated
    clock cannot wait: the pause is then real, and counts, so that the timeout still comes."""

    def __init__(self) -> None:
        self._sim: Any = None
        if simulated():
            self._sim = importlib.import_module(".sim", __name__)
        self._start = self._now()
        self._frozen = 0.0

    def _now(self) -> float:
        return self._sim.tick_count() / 1000.0 if self._sim else time.monotonic()

    def elapsed(self) -> float:
        passed = self._now() - self._start
        if self._sim:
            passed %= 2 ** 32 / 1000.0  # the tick count wraps
        return passed + self._frozen

    def pause(self, seconds: float) -> None:
        if self._sim:
            try:
                self._sim.sleep(seconds)
                return
            except TellamError:
                self._frozen += seconds
        time.sleep(seconds)


def list_boards() -> List[BoardInfo]:
    """The boards the driver has found, in its order (an empty list for none)."""
    _lib.set_last_error(0)
    count = _lib.tellamio().tlmio_GetDeviceCount(1)
    if count == 0:
        error = _lib.last_error()
        if error:
            raise TellamError("tlmio_GetDeviceCount", error)
        return []
    room = _lib.DWORD(count)
    records = (_lib.DeviceInfo * count)()
    _check("tlmio_GetDeviceInfo", _lib.tellamio().tlmio_GetDeviceInfo(ctypes.byref(room), records))
    return [BoardInfo(r.BusNumber, r.DeviceNumber, r.IoAddress, r.IrqNumber, r.ManagementNumber, r.BoardId)
            for r in records[:room.value]]


def open_board(management_number: Optional[int] = None, board_id: Optional[int] = None) -> "Board":
    """Opens the first board, or the one with that management number or board ID."""
    if management_number is not None and board_id is not None:
        raise ValueError("give a management number or a board ID, not both")
    info = _lib.DeviceInfo(-1, -1, -1, -1, -1, -1)
    if management_number is not None:
        info.ManagementNumber = int(management_number)
    elif board_id is not None:
        info.BoardId = int(board_id)
    else:
        boards = list_boards()
        if not boards:
            raise TellamError("tlmio_GetDeviceCount", 2)  # ERROR_FILE_NOT_FOUND: no board
        info.ManagementNumber = boards[0].management_number
    if board_id is not None:
        handle = _lib.tellamio().tlmio_OpenDeviceID(ctypes.byref(info))
        name = "tlmio_OpenDeviceID"
    else:
        handle = _lib.tellamio().tlmio_OpenDevice(ctypes.byref(info))
        name = "tlmio_OpenDevice"
    if handle == INVALID_HANDLE:
        raise TellamError(name, _lib.last_error())
    return Board(handle)


class Board:
    """An open board. Use it in a with-block, or call close()."""

    def __init__(self, handle: int) -> None:
        # Set first, so that close() and __del__ of a board whose open failed do nothing.
        self._handle: Optional[int] = None
        self._motion: Optional[int] = None
        # Per axis number, what was last started (a _Start) and each axis' scale and unit:
        # Axis objects come and go, the board keeps these for the next one.
        self._started: Dict[int, _Start] = {}
        self._scales: Dict[int, Real] = {}
        self._units: Dict[int, str] = {}
        self._watchdog_ms = 0  # what leaving a watchdog block sets again
        motion = _lib.MOTION()
        if not _lib.motion().tlmmotion_Open(handle, ctypes.byref(motion)):
            error = _lib.last_error()
            _lib.tellamio().tlmio_CloseDevice(handle)
            raise TellamError("tlmmotion_Open", error)
        self._handle, self._motion = handle, motion.value
        count = _lib.LONG()
        try:
            self._call("tlmmotion_AxisCount", ctypes.byref(count))
        except TellamError:
            self._close_motion()
            self._close_device()
            raise
        self.axis_count = count.value

    def _call(self, name: str, *args: Any) -> None:
        motion = self._motion
        if motion is None:
            raise TellamError(name, LIBERR_HANDLE)  # the board is closed
        _check(name, getattr(_lib.motion(), name)(motion, *args))

    def axis(self, which: Union[str, int]) -> "Axis":
        """An axis by name ("X" .. "W") or number (0 ..); ValueError for one the board lacks."""
        return Axis(self, self._number(which))

    def _number(self, which):
        if isinstance(which, str) and len(which) == 1 and which.upper() in AXIS_NAMES:
            number = AXIS_NAMES.index(which.upper())
        elif isinstance(which, int) and not isinstance(which, bool):
            number = which
        else:
            raise ValueError("no axis %r: X, Y, Z, U, V, W or 0-5" % (which,))
        if not 0 <= number < self.axis_count:
            raise ValueError("axis %r: this board has %d axes" % (which, self.axis_count))
        return number

    def _numbers(self, axes):
        """Distinct axis numbers of names or numbers, at least one."""
        if not axes:
            raise ValueError("name at least one axis")
        numbers_ = [self._number(which) for which in axes]
        for i, number in enumerate(numbers_):
            if number in numbers_[:i]:
                raise ValueError("axis %s is named twice" % AXIS_NAMES[number])
        return numbers_

    def _scale(self, number):
        return self._scales.get(number, DEFAULT_SCALE)

    def _unit(self, number):
        return self._units.get(number, DEFAULT_UNIT)

    def _to_units(self, number, pulses):
        return _units(pulses, self._scale(number))

    def _shown(self, number, value, pulses):
        """An amount the user gave, for messages: the pulses it became on an axis without a
        scale, as given otherwise."""
        return _amount(pulses if self._scale(number) == 1 else value, self._unit(number))

    def _start(self, numbers_, start, call):
        # Remembered before the call, so that a Ctrl+C just after a start went out does not
        # leave its wait judging it by the move before; a start refused leaves what ran before.
        before = {number: self._started.get(number) for number in numbers_}
        self._started.update((number, start) for number in numbers_)
        try:
            call()
        except TellamError:
            self._started.update(before)
            raise

    def _ending(self, number, reason, position):
        """Judges the end of a wait on an axis and forgets what was started: None when the move
        ended as it was meant to, else the MotionError to raise."""
        start = self._started.pop(number, None) or _NOTHING_STARTED
        if reason in start.endings:
            return None
        name, at = AXIS_NAMES[number], self._to_units(number, position)
        shown = _amount(at, self._unit(number))
        if start.z_phase is not None:
            homing = HomingTimeout if reason in _HOMING_TIMEOUTS else HomingError
            return homing(name, start.text, reason, at, start.z_phase, shown)
        if reason == TIMEOUT:
            return MotionTimeout(name, start.text, at, shown)
        return MotionError(name, start.text, reason, at, shown=shown)

    def move_to(self, *, ramped: bool = True, **targets: Real) -> None:
        """A coordinated move of the axes named to their targets, in each axis' units, so that
        they arrive together: board.move_to(X=1000, Y=2000). The axis with the longest move
        keeps its speeds, the others' are scaled down; a target lands on the nearest pulse
        (halves away from zero). Every axis is checked (standing, no alarm, within its soft
        limits: TellamError MOTERR_SOFT_LIMIT) before anything is written. Wait for them with
        board.wait()."""
        numbers_ = self._numbers(list(targets))
        pulses = [_pulses(AXIS_NAMES[number], value, self._scale(number), POSITION_MIN, POSITION_MAX)
                  for number, value in zip(numbers_, targets.values())]
        self._move_axes("move_to", numbers_, list(targets.values()), pulses, pulses, ramped)

    def move_by(self, *, ramped: bool = True, **distances: Real) -> None:
        """As move_to, by a distance for each axis from where it stands (nonzero, in its units):
        board.move_by(X=500, Y=-200)."""
        numbers_ = self._numbers(list(distances))
        steps = []
        for number, value in zip(numbers_, distances.values()):
            step = _pulses(AXIS_NAMES[number], value, self._scale(number), -MOVE_MAX, MOVE_MAX)
            if step == 0:
                raise ValueError("%s %s must not be 0 pulses" % (AXIS_NAMES[number], value))
            steps.append(step)
        targets = [Axis(self, number)._status().position + step for number, step in zip(numbers_, steps)]
        for number, target in zip(numbers_, targets):
            _whole("target of %s" % AXIS_NAMES[number], target, POSITION_MIN, POSITION_MAX)
        self._move_axes("move_by", numbers_, list(distances.values()), steps, targets, ramped)

    def _move_axes(self, verb, numbers_, values, pulses, targets, ramped):
        count = len(numbers_)
        text = "%s(%s)" % (verb, ", ".join("%s=%s" % (AXIS_NAMES[number], self._shown(number, value, n))
                                           for number, value, n in zip(numbers_, values, pulses)))
        self._start(numbers_, _Start(text, _ARRIVING, None), lambda: self._call(
            "tlmmotion_MoveAxesTo", count, (_lib.WORD * count)(*numbers_), (_lib.LONG * count)(*targets),
            bool(ramped)))

    def wait(self, *axes: Union[str, int], timeout: float = 30.0) -> Dict[str, Units]:
        """Waits until every axis named stands, at most timeout seconds (0..86400) in all, and
        returns {name: position} when each move ended as it was meant to (as Axis.wait judges
        it). Otherwise it raises MotionError (MotionTimeout at the timeout, where every axis
        still moving is stopped) for the first axis named whose end was not the intended one,
        preferring an end other than STOPPED: in a coordinated move the others are stopped
        because of it. Ctrl+C stops the axes at once before it goes on."""
        numbers_ = self._numbers(axes)
        seconds = _seconds("timeout", timeout, 0.0, TIMEOUT_MAX)
        clock = _WaitClock()
        ended = {}  # axis number: (reason, position)
        position, reason = _lib.LONG(), _lib.LONG()
        try:
            # As Axis.wait: polled from here, and at the deadline the library's wait with no
            # time left stops the axes still moving and returns once they stand.
            while True:
                for number in numbers_:
                    if number not in ended:
                        self._call("tlmmotion_Poll", number, ctypes.byref(position), ctypes.byref(reason))
                        if reason.value != 0:
                            ended[number] = (reason.value, position.value)
                moving = [number for number in numbers_ if number not in ended]
                if not moving:
                    break
                if clock.elapsed() >= seconds:
                    count = len(moving)
                    positions, reasons = (_lib.LONG * count)(), (_lib.LONG * count)()
                    self._call("tlmmotion_WaitAxes", count, (_lib.WORD * count)(*moving), 0, positions, reasons)
                    ended.update(zip(moving, zip(reasons, positions)))
                    break
                clock.pause(POLL_SECONDS)
        except KeyboardInterrupt:
            for number in numbers_:
                Axis(self, number)._stop_on_interrupt()
            raise
        failures = [failure for failure in (self._ending(number, *ended[number]) for number in numbers_) if failure]
        if failures:
            raise min(failures, key=lambda failure: failure.reason == STOPPED)
        return {AXIS_NAMES[number]: self._to_units(number, ended[number][1]) for number in numbers_}

    def stop_all(self) -> None:
        """A decelerating stop to every axis of the board, whoever started it."""
        self._call("tlmmotion_StopAll")

    def settings(self) -> Settings:
        """Every axis' setup as a plain dict, keyed by axis name: {"X": {"fl": ..., "fh": ...,
        "accel": ..., "contacts": {...}, "soft_limits": [min, max] or None, "scale": ...,
        "unit": ...}, ...}, speeds and limits in the axis' units. board.apply() takes it."""
        return {AXIS_NAMES[number]: Axis(self, number)._settings() for number in range(self.axis_count)}

    def apply(self, settings: Mapping[str, Mapping[str, Any]]) -> None:
        """Writes axis setups in the form settings() gives, for the axes it names. Everything is
        checked before anything is written: an unknown axis, a key missing or unknown, or a bad
        value raises ValueError naming the axis and the key. Speeds round to the nearest whole
        pulse per second, soft limits inwards."""
        if not isinstance(settings, collections.abc.Mapping):
            raise ValueError("settings must be a dict keyed by axis name, not %r" % (settings,))
        numbers_ = self._numbers(list(settings))
        checked = [(number, _axis_settings(AXIS_NAMES[number], entry))
                   for number, entry in zip(numbers_, settings.values())]
        for number, (fl, fh, accel, contacts, limits, scale, unit) in checked:
            axis = Axis(self, number)
            axis._call("tlmmotion_SetSpeeds", fl, fh, accel)
            axis._call("tlmmotion_SetContacts", contacts)
            if limits is None:
                axis._call("tlmmotion_ClearSoftLimits")
            else:
                axis._call("tlmmotion_SetSoftLimits", *limits)
            self._scales[number], self._units[number] = scale, unit

    def watchdog(self, seconds: float) -> ContextManager["Board"]:
        """A with-block during which the script must make a motion call on the board (any, or
        feed()) at least every seconds (0 < seconds <= 86400, to the millisecond) while an axis
        it started moves; otherwise the library stops every axis of the board, and every later
        call but the stops fails with WatchdogError until the watchdog is set again. Leaving the
        block, also by an exception, turns it off (in a nested block: back to the outer one's
        time). It watches from inside the process: a process killed stops nothing."""
        seconds = _seconds("seconds", seconds, 0.0, TIMEOUT_MAX)
        if seconds == 0:
            raise ValueError("seconds must be above 0")
        return self._watching(max(1, int(round(seconds * 1000))))

    @contextlib.contextmanager
    def _watching(self, ms: int) -> Iterator["Board"]:
        outer = self._watchdog_ms
        self._call("tlmmotion_SetWatchdog", ms)
        self._watchdog_ms = ms
        try:
            yield self
        finally:
            self._watchdog_ms = outer
            if self._motion is not None:  # closed inside the block: nothing left to watch
                self._call("tlmmotion_SetWatchdog", outer)

    def feed(self) -> None:
        """Tells the watchdog the script is alive, and does nothing else."""
        self._call("tlmmotion_Feed")

    def close(self) -> None:
        """Stops every axis moved, then closes the board; the first failure is raised. Closing a
        closed board does nothing."""
        stop_error = self._close_motion()
        close_error = self._close_device()
        if stop_error:
            raise TellamError("tlmmotion_Close", stop_error)
        if close_error:
            raise TellamError("tlmio_CloseDevice", close_error)

    def _close_motion(self):
        # The handle is dropped only after its close: an interrupt before the close leaves a
        # handle the next close() stops the axes of, one after it a closed handle, which the
        # library refuses with LIBERR_HANDLE and the next close() just drops. A motion handle's
        # value is never given out again, so a second close cannot reach another board.
        if self._motion is None:
            return 0
        error = 0 if _lib.motion().tlmmotion_Close(self._motion) else _lib.last_error()
        self._motion = None
        return 0 if error == LIBERR_HANDLE else error

    def _close_device(self):
        # Dropped before its close, the other way round: tellamio gives a closed handle's value
        # to the next board opened, which a second close must not close. An interrupt here can
        # leave the board open in this process, no worse; its axes stood already.
        handle, self._handle = self._handle, None
        if handle is None:
            return 0
        return 0 if _lib.tellamio().tlmio_CloseDevice(handle) else _lib.last_error()

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()  # and the exception, if any, goes on

    def __del__(self):
        # A board dropped without close() still stops the axes it moved. Quiet: at the
        # interpreter's exit the libraries may be gone already.
        try:
            self.close()
        except Exception:
            pass


class Axis:
    """One axis of an open board."""

    def __init__(self, board: Board, number: int) -> None:
        self._board = board
        self.number = number
        self.name = AXIS_NAMES[number]
        self.reason: Optional[int] = None

    def _call(self, name: str, *args: Any) -> None:
        self._board._call(name, self.number, *args)

    def _start(self, started, endings, name, *args, z_phase=None):
        self._board._start([self.number], _Start(started, endings, z_phase), lambda: self._call(name, *args))

    def _pulses(self, name, value, low, high, rounding=_nearest):
        return _pulses(name, value, self.scale, low, high, rounding)

    @property
    def scale(self) -> Real:
        """Pulses per unit of this axis' positions, distances and speeds: a positive finite
        number, 1 (pulses) unless set. The board keeps it for the axis."""
        return self._board._scale(self.number)

    @scale.setter
    def scale(self, value: Real) -> None:
        self._board._scales[self.number] = _scale_value("scale", value)

    @property
    def unit(self) -> str:
        """The name of the axis' unit in messages, "pulse" unless set."""
        return self._board._unit(self.number)

    @unit.setter
    def unit(self, value: str) -> None:
        self._board._units[self.number] = _unit_value("unit", value)

    @property
    def soft_limits(self) -> Optional[Tuple[Units, Units]]:
        """(min, max), the travel the library allows the axis, in its units; None for none.
        Set (min, max) or None (clears). Given in units, they round inwards to whole pulses (min
        up, max down), so that the axis never passes them. A move whose target lies outside
        raises TellamError MOTERR_SOFT_LIMIT with nothing sent; a jog stops at the limit it
        runs towards (reason SOFT_LIMIT). Origin returns ignore them."""
        present, low, high = _lib.BOOL(), _lib.LONG(), _lib.LONG()
        self._call("tlmmotion_GetSoftLimits", ctypes.byref(present), ctypes.byref(low), ctypes.byref(high))
        if not present.value:
            return None
        return self._board._to_units(self.number, low.value), self._board._to_units(self.number, high.value)

    @soft_limits.setter
    def soft_limits(self, limits: Optional[Sequence[Real]]) -> None:
        pulses = _soft_limit_pulses("soft_limits", limits, self.scale)
        if pulses is None:
            self._call("tlmmotion_ClearSoftLimits")
        else:
            self._call("tlmmotion_SetSoftLimits", *pulses)

    def _settings(self):
        fl, fh, accel = _lib.LONG(), _lib.LONG(), ctypes.c_double()
        self._call("tlmmotion_GetSpeeds", ctypes.byref(fl), ctypes.byref(fh), ctypes.byref(accel))
        limits = self.soft_limits
        values = {"fl": self._board._to_units(self.number, fl.value),
                  "fh": self._board._to_units(self.number, fh.value), "accel": accel.value,
                  "contacts": self.contacts, "soft_limits": list(limits) if limits else None,
                  "scale": self.scale, "unit": self.unit}
        return {key: values[key] for key in _SETTINGS_KEYS}

    def init(self) -> None:
        """Resets the axis to the test program's defaults."""
        self._board._started.pop(self.number, None)  # the reset ends whatever ran
        self._call("tlmmotion_Init")

    def set_speeds(self, fl: Real, fh: Real, accel: float) -> None:
        """FL and FH in pulses per second (1..32766, FH >= FL), acceleration time in seconds
        (0.010..9999.999). With a scale, FL and FH are units per second and round to the
        nearest whole pulse per second (halves away from zero), which must be in range."""
        fl = self._pulses("fl", fl, 1, SPEED_MAX)
        fh = self._pulses("fh", fh, fl, SPEED_MAX)
        accel = _seconds("accel", accel, ACCEL_MIN, ACCEL_MAX)
        self._call("tlmmotion_SetSpeeds", fl, fh, accel)

    def move_by(self, pulses: Real, ramped: bool = True) -> None:
        """A preset feed of pulses (nonzero, at most 2147483647 either way; the sign gives the
        direction). With a scale, the distance is in units and rounds to the nearest pulse
        (halves away from zero), which must not be 0."""
        count = self._pulses("pulses", pulses, -MOVE_MAX, MOVE_MAX)
        if count == 0:
            raise ValueError("pulses must not be 0" if pulses == 0 else "pulses %s rounds to 0" % (pulses,))
        self._start("move_by(%s)" % self._board._shown(self.number, pulses, count), _ARRIVING,
                    "tlmmotion_MoveBy", count, bool(ramped))

    def move_to(self, position: Real, ramped: bool = True) -> None:
        """A preset feed to a position of the counter (a signed 32-bit value); nothing starts
        when the axis is there. With a scale, the position is in units and lands on the
        nearest pulse (halves away from zero)."""
        target = self._pulses("position", position, POSITION_MIN, POSITION_MAX)
        self._start("move_to(%s)" % self._board._shown(self.number, position, target), _ARRIVING,
                    "tlmmotion_MoveTo", target, bool(ramped))

    def jog(self, direction: int, ramped: bool = True) -> None:
        """Continuous feed: direction +1 or -1."""
        direction = _whole("direction", direction, -1, 1)
        if direction == 0:
            raise ValueError("direction must be +1 or -1")
        self._start("jog(%+d)" % direction, _JOG_ENDINGS[direction], "tlmmotion_Jog", direction, bool(ramped))

    def home(self, z_phase: bool = False) -> None:
        """Origin return: to OLS, or with z_phase to OLS and then the next Z mark; the position
        becomes 0. A wait that ends otherwise raises HomingError, saying which phase failed."""
        z_phase = bool(z_phase)
        self._start("home(z_phase=True)" if z_phase else "home()", _ARRIVING, "tlmmotion_Home", z_phase,
                    z_phase=z_phase)

    def stop(self, immediate: bool = False) -> None:
        self._call("tlmmotion_Stop", bool(immediate))

    def servo_on(self, on: bool = True) -> None:
        self._call("tlmmotion_ServoOn", bool(on))

    def servo_reset(self, on: bool = True) -> None:
        self._call("tlmmotion_ServoReset", bool(on))

    def set_contacts(self, els: Optional[str] = None, dls: Optional[str] = None, ols: Optional[str] = None,
                     inpos: Optional[str] = None, svalm: Optional[str] = None) -> None:
        """The contact type of inputs, "A" (normally open) or "B" (normally closed); els is
        +ELS and -ELS together. An input not given keeps its setting."""
        given = [(name, _contact(name, value)) for name, value in
                 (("els", els), ("dls", dls), ("ols", ols), ("inpos", inpos), ("svalm", svalm))
                 if value is not None]
        if not given:
            return
        bits = self._contact_bits()
        for name, a_contact in given:
            bits = bits | _CONTACT_BITS[name] if a_contact else bits & ~_CONTACT_BITS[name]
        self._call("tlmmotion_SetContacts", bits)

    @property
    def contacts(self) -> Dict[str, str]:
        """{"els": "A" or "B", "dls": ..., "ols": ..., "inpos": ..., "svalm": ...}"""
        bits = self._contact_bits()
        return {name: "A" if bits & bit == bit else "B" for name, bit in _CONTACT_BITS.items()}

    def _contact_bits(self):
        bits = _lib.LONG()
        self._call("tlmmotion_GetContacts", ctypes.byref(bits))
        return bits.value

    def wait(self, timeout: float = 30.0) -> Units:
        """Waits until the axis stands, at most timeout seconds (0..86400), and returns the
        position (in the axis' units) when the move ended as it was meant to: a feed or an
        origin return arrived, a jog was stopped or met the limit or soft limit it ran towards,
        or nothing had been started. Any other end raises MotionError with .reason and
        .position (HomingError for an origin return); at the timeout the axis is stopped and
        MotionTimeout is raised. Ctrl+C stops the axis at once before it goes on.
        .reason afterwards tells why it stopped (tellam.ARRIVED, PLUS_LIMIT, ...)."""
        seconds = _seconds("timeout", timeout, 0.0, TIMEOUT_MAX)
        clock = _WaitClock()
        position, reason = _lib.LONG(), _lib.LONG()
        try:
            # Polled from here, so that Ctrl+C is seen at once; each poll runs the library's
            # checks (SVALM stops the axis). At the deadline the library's wait with no time
            # left stops the axis and returns once it stands.
            while True:
                self._call("tlmmotion_Poll", ctypes.byref(position), ctypes.byref(reason))
                if reason.value != 0:
                    break
                if clock.elapsed() >= seconds:
                    self._call("tlmmotion_Wait", 0, ctypes.byref(position), ctypes.byref(reason))
                    break
                clock.pause(POLL_SECONDS)
        except KeyboardInterrupt:
            self._stop_on_interrupt()
            raise
        return self._ended(reason.value, position.value)

    def _stop_on_interrupt(self):
        # The interrupt goes on even if this stop fails: leaving the with-block stops the axis
        # again, and the interrupt is what the user is waiting for.
        try:
            self.stop(immediate=True)
        except TellamError:
            pass

    def _ended(self, reason, position):
        self.reason = reason
        failure = self._board._ending(self.number, reason, position)
        if failure:
            raise failure
        return self._board._to_units(self.number, position)

    @property
    def position(self) -> Units:
        """The position counter, in the axis' units (pulses / scale)."""
        return self._board._to_units(self.number, self._status().position)

    @property
    def speed(self) -> Units:
        """The current speed in units per second (0 when standing)."""
        return self._board._to_units(self.number, self._status().speed)

    @property
    def status(self) -> Status:
        s = self._status()
        return Status(bool(s.moving), *(bool(s.inputs & bit) for bit in (1, 2, 4, 8, 16, 32, 64)))

    def _status(self):
        s = _lib.MotionStatus()
        self._call("tlmmotion_GetStatus", ctypes.byref(s))
        return s


def save_settings(path: PathLike, board: Board) -> None:
    """Writes board.settings() to a JSON file."""
    with open(path, "w", encoding="utf-8") as file:
        json.dump(board.settings(), file, indent=2)
        file.write("\n")


def load_settings(path: PathLike) -> Settings:
    """The settings a JSON file holds, as a dict for board.apply(), which checks them."""
    with open(path, encoding="utf-8") as file:
        return json.load(file)

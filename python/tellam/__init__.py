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
"""
import collections
import ctypes
import numbers
import operator
import time

from . import _lib

__all__ = ["TellamError", "MotionError", "MotionTimeout", "BoardInfo", "Status", "simulated", "list_boards",
           "open_board", "Board", "Axis", "ARRIVED", "PLUS_LIMIT", "MINUS_LIMIT", "STOPPED", "SERVO_ALARM",
           "TIMEOUT", "IDLE", "ERROR_TIMEOUT"]

AXIS_NAMES = "XYZUVW"
INVALID_HANDLE = 0xFFFFFFFF
LIBERR_HANDLE = 0x20000002  # no open board (or motion handle) answers to the handle

# Why a wait ended (tlmmotion_Wait).
ARRIVED, PLUS_LIMIT, MINUS_LIMIT, STOPPED, SERVO_ALARM, TIMEOUT, IDLE = range(1, 8)
ERROR_TIMEOUT = 1460

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
}

# The endings of a wait that are no failure, by what was started: a feed or an origin return
# must arrive; a jog ends when stopped or at the limit it runs towards.
_ARRIVING = frozenset([ARRIVED, IDLE])
_JOG_ENDINGS = {1: frozenset([STOPPED, PLUS_LIMIT, IDLE]), -1: frozenset([STOPPED, MINUS_LIMIT, IDLE])}
_NOTHING_STARTED = (None, frozenset([IDLE]))

BoardInfo = collections.namedtuple("BoardInfo", "bus device io_address irq management_number board_id")
Status = collections.namedtuple(
    "Status", "moving plus_limit minus_limit slow_down origin z_phase in_position servo_alarm")


class TellamError(OSError):
    """A failed call: .function is the export's name, .code the Windows error code."""

    def __init__(self, function, code, message=None):
        super().__init__(message or "%s failed: error 0x%X" % (function, code))
        self.function = function
        self.code = code


class MotionError(TellamError):
    """A move that ended other than it was meant to: .reason (tellam.PLUS_LIMIT, SERVO_ALARM,
    ...) and .position, where the axis stands now. .code is 0: the wait itself succeeded."""

    def __init__(self, axis_name, started, reason, position, code=0):
        name, what = _REASONS.get(reason, ("reason %d" % reason, "ended"))
        super().__init__("tlmmotion_Wait", code, "axis %s: %s %s, at position %d (%s)" % (
            axis_name, started or "the move", what, position, name))
        self.reason = reason
        self.position = position


class MotionTimeout(MotionError, TimeoutError):
    """A move still under way at the timeout of its wait: the library stopped it. .code is 1460
    (ERROR_TIMEOUT)."""

    def __init__(self, axis_name, started, position):
        super().__init__(axis_name, started, TIMEOUT, position, ERROR_TIMEOUT)


def _check(function, ok):
    if not ok:
        raise TellamError(function, _lib.last_error())


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


def simulated():
    """True when the loaded tellamio is the simulated library; tellam.sim then controls it."""
    return hasattr(_lib.tellamio, "tlmsim_Reset")


if simulated():
    from . import sim  # noqa: E402


class _WaitClock:
    """The time a wait goes by: the simulator's with the simulated library, so that a timeout
    is the machine's time in every clock mode; the system's otherwise. A frozen simulated
    clock cannot wait: the pause is then real, and counts, so that the timeout still comes."""

    def __init__(self):
        self._simulated = simulated()
        self._start = self._now()
        self._frozen = 0.0

    def _now(self):
        return sim.tick_count() / 1000.0 if self._simulated else time.monotonic()

    def elapsed(self):
        passed = self._now() - self._start
        if self._simulated:
            passed %= 2 ** 32 / 1000.0  # the tick count wraps
        return passed + self._frozen

    def pause(self, seconds):
        if self._simulated:
            try:
                sim.sleep(seconds)
                return
            except TellamError:
                self._frozen += seconds
        time.sleep(seconds)


def list_boards():
    """The boards the driver has found, in its order (an empty list for none)."""
    _lib.set_last_error(0)
    count = _lib.tellamio.tlmio_GetDeviceCount(1)
    if count == 0:
        error = _lib.last_error()
        if error:
            raise TellamError("tlmio_GetDeviceCount", error)
        return []
    room = _lib.DWORD(count)
    records = (_lib.DeviceInfo * count)()
    _check("tlmio_GetDeviceInfo", _lib.tellamio.tlmio_GetDeviceInfo(ctypes.byref(room), records))
    return [BoardInfo(r.BusNumber, r.DeviceNumber, r.IoAddress, r.IrqNumber, r.ManagementNumber, r.BoardId)
            for r in records[:room.value]]


def open_board(management_number=None, board_id=None):
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
        handle = _lib.tellamio.tlmio_OpenDeviceID(ctypes.byref(info))
        name = "tlmio_OpenDeviceID"
    else:
        handle = _lib.tellamio.tlmio_OpenDevice(ctypes.byref(info))
        name = "tlmio_OpenDevice"
    if handle == INVALID_HANDLE:
        raise TellamError(name, _lib.last_error())
    return Board(handle)


class Board:
    """An open board. Use it in a with-block, or call close()."""

    def __init__(self, handle):
        # Set first, so that close() and __del__ of a board whose open failed do nothing.
        self._handle = None
        self._motion = None
        # Per axis number, what was last started and the endings of its wait that are no
        # failure: Axis objects come and go, the board keeps this for the next wait.
        self._started = {}
        motion = _lib.MOTION()
        if not _lib.motion.tlmmotion_Open(handle, ctypes.byref(motion)):
            error = _lib.last_error()
            _lib.tellamio.tlmio_CloseDevice(handle)
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

    def _call(self, name, *args):
        motion = self._motion
        if motion is None:
            raise TellamError(name, LIBERR_HANDLE)  # the board is closed
        _check(name, getattr(_lib.motion, name)(motion, *args))

    def axis(self, which):
        """An axis by name ("X" .. "W") or number (0 ..); ValueError for one the board lacks."""
        if isinstance(which, str) and len(which) == 1 and which.upper() in AXIS_NAMES:
            number = AXIS_NAMES.index(which.upper())
        elif isinstance(which, int) and not isinstance(which, bool):
            number = which
        else:
            raise ValueError("no axis %r: X, Y, Z, U, V, W or 0-5" % (which,))
        if not 0 <= number < self.axis_count:
            raise ValueError("axis %r: this board has %d axes" % (which, self.axis_count))
        return Axis(self, number)

    def stop_all(self):
        """A decelerating stop to every axis of the board, whoever started it."""
        self._call("tlmmotion_StopAll")

    def close(self):
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
        error = 0 if _lib.motion.tlmmotion_Close(self._motion) else _lib.last_error()
        self._motion = None
        return 0 if error == LIBERR_HANDLE else error

    def _close_device(self):
        # Dropped before its close, the other way round: tellamio gives a closed handle's value
        # to the next board opened, which a second close must not close. An interrupt here can
        # leave the board open in this process, no worse; its axes stood already.
        handle, self._handle = self._handle, None
        if handle is None:
            return 0
        return 0 if _lib.tellamio.tlmio_CloseDevice(handle) else _lib.last_error()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        # A board dropped without close() still stops the axes it moved. Quiet: at the
        # interpreter's exit the libraries may be gone already.
        try:
            self.close()
        except Exception:
            pass


class Axis:
    """One axis of an open board."""

    def __init__(self, board, number):
        self._board = board
        self.number = number
        self.name = AXIS_NAMES[number]
        self.reason = None

    def _call(self, name, *args):
        self._board._call(name, self.number, *args)

    def _start(self, started, endings, name, *args):
        # Remembered before the call, so that a Ctrl+C just after a start went out does not
        # leave its wait judging it by the move before; a start refused leaves what ran before.
        before = self._board._started.get(self.number)
        self._board._started[self.number] = (started, endings)
        try:
            self._call(name, *args)
        except TellamError:
            self._board._started[self.number] = before
            raise

    def init(self):
        """Resets the axis to the test program's defaults."""
        self._board._started.pop(self.number, None)  # the reset ends whatever ran
        self._call("tlmmotion_Init")

    def set_speeds(self, fl, fh, accel):
        """FL and FH in pulses per second (1..32766, FH >= FL), acceleration time in seconds
        (0.010..9999.999)."""
        fl = _whole("fl", fl, 1, SPEED_MAX)
        fh = _whole("fh", fh, fl, SPEED_MAX)
        accel = _seconds("accel", accel, ACCEL_MIN, ACCEL_MAX)
        self._call("tlmmotion_SetSpeeds", fl, fh, accel)

    def move_by(self, pulses, ramped=True):
        """A preset feed of pulses (nonzero, at most 2147483647 either way; the sign gives the
        direction)."""
        pulses = _whole("pulses", pulses, -MOVE_MAX, MOVE_MAX)
        if pulses == 0:
            raise ValueError("pulses must not be 0")
        self._start("move_by(%d)" % pulses, _ARRIVING, "tlmmotion_MoveBy", pulses, bool(ramped))

    def move_to(self, position, ramped=True):
        """A preset feed to a position of the counter (a signed 32-bit value); nothing starts
        when the axis is there."""
        position = _whole("position", position, POSITION_MIN, POSITION_MAX)
        self._start("move_to(%d)" % position, _ARRIVING, "tlmmotion_MoveTo", position, bool(ramped))

    def jog(self, direction, ramped=True):
        """Continuous feed: direction +1 or -1."""
        direction = _whole("direction", direction, -1, 1)
        if direction == 0:
            raise ValueError("direction must be +1 or -1")
        self._start("jog(%+d)" % direction, _JOG_ENDINGS[direction], "tlmmotion_Jog", direction, bool(ramped))

    def home(self, z_phase=False):
        self._start("home()", _ARRIVING, "tlmmotion_Home", bool(z_phase))

    def stop(self, immediate=False):
        self._call("tlmmotion_Stop", bool(immediate))

    def servo_on(self, on=True):
        self._call("tlmmotion_ServoOn", bool(on))

    def servo_reset(self, on=True):
        self._call("tlmmotion_ServoReset", bool(on))

    def set_contacts(self, els=None, dls=None, ols=None, inpos=None, svalm=None):
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
    def contacts(self):
        """{"els": "A" or "B", "dls": ..., "ols": ..., "inpos": ..., "svalm": ...}"""
        bits = self._contact_bits()
        return {name: "A" if bits & bit == bit else "B" for name, bit in _CONTACT_BITS.items()}

    def _contact_bits(self):
        bits = _lib.LONG()
        self._call("tlmmotion_GetContacts", ctypes.byref(bits))
        return bits.value

    def wait(self, timeout=30.0):
        """Waits until the axis stands, at most timeout seconds (0..86400), and returns the
        position when the move ended as it was meant to: a feed or an origin return arrived, a
        jog was stopped or met the limit it ran towards, or nothing had been started. Any other
        end raises MotionError with .reason and .position; at the timeout the axis is stopped
        and MotionTimeout is raised. Ctrl+C stops the axis at once before it goes on.
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
        started, endings = self._board._started.pop(self.number, None) or _NOTHING_STARTED
        if reason in endings:
            return position
        if reason == TIMEOUT:
            raise MotionTimeout(self.name, started, position)
        raise MotionError(self.name, started, reason, position)

    @property
    def position(self):
        return self._status().position

    @property
    def speed(self):
        return self._status().speed

    @property
    def status(self):
        s = self._status()
        return Status(bool(s.moving), *(bool(s.inputs & bit) for bit in (1, 2, 4, 8, 16, 32, 64)))

    def _status(self):
        s = _lib.MotionStatus()
        self._call("tlmmotion_GetStatus", ctypes.byref(s))
        return s

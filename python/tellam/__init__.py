"""tellam: Tellam-6X and Tellam-4X boards from Python, over tellamio and its motion library.

    import tellam
    with tellam.open_board() as board:
        x = board.axis("X")
        x.init(); x.servo_on()
        x.set_speeds(500, 5000, accel=0.2)
        x.move_by(3000); x.wait(timeout=30)

Leaving the with-block, also by an exception or Ctrl+C, stops every axis moved and closes
the board. Failures raise TellamError with the call's name and the Windows error code.
"""
import collections
import ctypes
import time

from . import _lib

__all__ = ["TellamError", "BoardInfo", "Status", "simulated", "list_boards", "open_board", "Board", "Axis"]

AXIS_NAMES = "XYZUVW"
INVALID_HANDLE = 0xFFFFFFFF

# Why a wait ended (tlmmotion_Wait).
ARRIVED, PLUS_LIMIT, MINUS_LIMIT, STOPPED, SERVO_ALARM, TIMEOUT, IDLE = range(1, 8)
ERROR_TIMEOUT = 1460

BoardInfo = collections.namedtuple("BoardInfo", "bus device io_address irq management_number board_id")
Status = collections.namedtuple(
    "Status", "moving plus_limit minus_limit slow_down origin z_phase in_position servo_alarm")


class TellamError(OSError):
    """A failed call: .function is the export's name, .code the Windows error code."""

    def __init__(self, function, code):
        super().__init__("%s failed: error 0x%X" % (function, code))
        self.function = function
        self.code = code


def _check(function, ok):
    if not ok:
        raise TellamError(function, _lib.last_error())


def simulated():
    """True when the loaded tellamio is the simulated library; tellam.sim then controls it."""
    return hasattr(_lib.tellamio, "tlmsim_Reset")


if simulated():
    from . import sim  # noqa: E402


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
        self._handle = handle
        self._motion = _lib.MOTION()
        if not _lib.motion.tlmmotion_Open(handle, ctypes.byref(self._motion)):
            error = _lib.last_error()
            _lib.tellamio.tlmio_CloseDevice(handle)
            raise TellamError("tlmmotion_Open", error)
        count = _lib.LONG()
        _check("tlmmotion_AxisCount", _lib.motion.tlmmotion_AxisCount(self._motion, ctypes.byref(count)))
        self.axis_count = count.value

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

    def close(self):
        """Stops every axis moved, then closes the board; the first failure is raised."""
        if self._motion is None:
            return
        motion, self._motion = self._motion, None
        stopped = _lib.motion.tlmmotion_Close(motion)
        stop_error = _lib.last_error()
        closed = _lib.tellamio.tlmio_CloseDevice(self._handle)
        close_error = _lib.last_error()
        if not stopped:
            raise TellamError("tlmmotion_Close", stop_error)
        if not closed:
            raise TellamError("tlmio_CloseDevice", close_error)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class Axis:
    """One axis of an open board."""

    def __init__(self, board, number):
        self._board = board
        self.number = number
        self.name = AXIS_NAMES[number]

    def _call(self, name, *args):
        motion = self._board._motion
        if motion is None:
            raise TellamError(name, 0x20000002)  # LIBERR_HANDLE: the board is closed
        _check(name, getattr(_lib.motion, name)(motion, self.number, *args))

    def init(self):
        """Resets the axis to the test program's defaults."""
        self._call("tlmmotion_Init")

    def set_speeds(self, fl, fh, accel):
        """FL and FH in pulses per second (1..32766, FH >= FL), acceleration time in seconds."""
        self._call("tlmmotion_SetSpeeds", int(fl), int(fh), float(accel))

    def move_by(self, pulses, ramped=True):
        self._call("tlmmotion_MoveBy", int(pulses), bool(ramped))

    def move_to(self, position, ramped=True):
        self._call("tlmmotion_MoveTo", int(position), bool(ramped))

    def jog(self, direction, ramped=True):
        """Continuous feed: direction +1 or -1."""
        if direction not in (1, -1):
            raise ValueError("direction must be +1 or -1")
        self._call("tlmmotion_Jog", int(direction), bool(ramped))

    def home(self, z_phase=False):
        self._call("tlmmotion_Home", bool(z_phase))

    def stop(self, immediate=False):
        self._call("tlmmotion_Stop", bool(immediate))

    def servo_on(self, on=True):
        self._call("tlmmotion_ServoOn", bool(on))

    def servo_reset(self, on=True):
        self._call("tlmmotion_ServoReset", bool(on))

    def wait(self, timeout=30.0):
        """Waits until the axis stands; returns the position. A timeout stops the axis and
        raises TellamError with ERROR_TIMEOUT; Ctrl+C stops it before the exception goes on.
        .reason afterwards tells why it stopped (tellam.ARRIVED, PLUS_LIMIT, ...)."""
        deadline = time.monotonic() + max(0.0, float(timeout))
        position, reason = _lib.LONG(), _lib.LONG()
        try:
            # Polled from here, so that Ctrl+C is seen at once; the library's wait then gives
            # the reason, and stops the axis if it still moves at the deadline.
            while self._status().moving and time.monotonic() < deadline:
                time.sleep(0.02)
            self._call("tlmmotion_Wait", 0, ctypes.byref(position), ctypes.byref(reason))
        except KeyboardInterrupt:
            self.stop(immediate=True)
            raise
        self.reason = reason.value
        if reason.value == TIMEOUT:
            raise TellamError("tlmmotion_Wait", ERROR_TIMEOUT)
        return position.value

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

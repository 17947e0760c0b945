"""Finding and loading tellamio and the motion library, and the prototypes of their exports.

Nothing is loaded on import: the first call that needs a library loads both, from one folder.
That folder is TELLAM_LIBRARY_PATH when it is set, else the package's own tellam/lib (as the
wheel has it), else the package's folder (the DLLs copied beside a source copy of tellam).
On Windows tellamio.dll is the real library unless the simulator was chosen first
(use_simulator() or TELLAM_SIMULATED=1): then sim/tellamio.dll of that folder. On Linux
there is only the simulated library.
"""
import ctypes
import os
import struct
import sys
import threading
from typing import Any, List, Optional, Tuple

# The platforms of the wheels, and of library_files(): tellamio's file and the motion
# library's, relative to the library folder, for the real library and for the simulator.
WHEEL_PLATFORMS = ("win32", "win_amd64", "linux_x86_64")
_WINDOWS_FILES = {False: ("tellamio.dll", "tellamio_motion.dll"),
                  True: (os.path.join("sim", "tellamio.dll"), "tellamio_motion.dll")}
_LINUX_FILES = ("libtellamio.so", "libtellamio_motion.so")

_WINDOWS = sys.platform == "win32"
_PACKAGE = os.path.dirname(os.path.abspath(__file__))
_PYTHON_BITS = struct.calcsize("P") * 8
# The PE machines of 32-bit and 64-bit Windows DLLs: a DLL loads only into a Python of its own.
_PE_MACHINES = {0x14C: (32, "i386"), 0x8664: (64, "x64")}


def _relative_files(platform: str, simulated: bool) -> Tuple[str, str]:
    if platform in ("win32", "win_amd64"):
        return _WINDOWS_FILES[bool(simulated)]
    if platform == "linux_x86_64":
        return _LINUX_FILES
    raise ValueError("platform %r: one of %s" % (platform, ", ".join(WHEEL_PLATFORMS)))


def library_files(platform: str, simulated: bool) -> List[str]:
    """The files the installed package loads on a platform of its wheels (win32, win_amd64,
    linux_x86_64) with the real library or the simulator, in the order it loads them (tellamio,
    then the motion library): paths inside this package's tellam/lib. On Linux tellamio is
    always the simulator, whatever `simulated` says. Loads nothing, and reads nothing of the
    running system, so it answers for another platform's wheel as well."""
    return [os.path.join(_PACKAGE, "lib", name) for name in _relative_files(platform, simulated)]


class LibraryError(OSError):
    """tellamio or the motion library cannot be loaded. .filename is the file (its name alone
    when no folder tried holds it), .folders the folders tried, .reason why it failed."""

    def __init__(self, filename: str, folders: List[str], reason: str) -> None:
        super().__init__("cannot load %s: %s\nfolders tried: %s" % (filename, reason, "; ".join(folders)))
        self.filename = filename
        self.folders = folders
        self.reason = reason

    def __str__(self) -> str:
        return str(self.args[0])  # not OSError's, which shows .filename alone once it is set


def _pe_machine(path: str) -> Optional[int]:
    """The machine a PE file (a DLL) is for, as its header says (0x14C i386, 0x8664 x64);
    None for another file."""
    with open(path, "rb") as file:
        head = file.read(64)
        if head[:2] != b"MZ" or len(head) < 64:
            return None
        file.seek(struct.unpack_from("<I", head, 0x3C)[0])
        pe = file.read(6)
    return int(struct.unpack_from("<H", pe, 4)[0]) if pe[:4] == b"PE\0\0" and len(pe) == 6 else None


def _binary_problem(path: str) -> Optional[str]:
    """Why a library file cannot load into this Python, read from its header, or None to
    leave it to the loader: above all a DLL of the other bitness, which Windows refuses with
    no more than "not a valid Win32 application"."""
    try:
        machine = _pe_machine(path)
        with open(path, "rb") as file:
            head = file.read(5)
    except OSError as e:
        return "cannot read it (%s)" % (e.strerror or e)
    if machine is not None:
        bits, name = _PE_MACHINES.get(machine, (0, "not x86"))
        if bits != _PYTHON_BITS:
            return ("it is a %s DLL (PE machine 0x%X, %s) and this Python is %d-bit: install the tellam wheel for "
                    "%d-bit Python (%s), or use a Python of the DLL's bitness" % (
                        "%d-bit" % bits if bits else "non-x86", machine, name, _PYTHON_BITS, _PYTHON_BITS,
                        "win_amd64" if _PYTHON_BITS == 64 else "win32"))
        if not _WINDOWS:
            return "it is a Windows DLL (PE machine 0x%X, %s), not a library for this system" % (machine, name)
    elif head[:4] == b"\x7fELF" and len(head) == 5:
        bits = {1: 32, 2: 64}.get(head[4], 0)
        if bits and bits != _PYTHON_BITS:
            return "it is a %d-bit shared library (ELF) and this Python is %d-bit" % (bits, _PYTHON_BITS)
        if _WINDOWS:
            return "it is an ELF shared library, not a Windows DLL"
    return None


def _folders() -> List[Tuple[str, str]]:
    """(folder, how it is shown in errors), in the order they are tried."""
    override = os.environ.get("TELLAM_LIBRARY_PATH")
    if override:
        return [(override, "%s (TELLAM_LIBRARY_PATH)" % override)]
    bundled = os.path.join(_PACKAGE, "lib")
    return [(bundled, "%s (the package's libraries)" % bundled), (_PACKAGE, "%s (the package's folder)" % _PACKAGE)]


def _simulator_wanted() -> bool:
    if _simulator_chosen:
        return True
    value = os.environ.get("TELLAM_SIMULATED", "")
    if value not in ("", "0", "1"):
        raise ValueError("TELLAM_SIMULATED=%s: 1 chooses the simulated library, 0 or unset the real one" % value)
    return value == "1"


BOOL, DWORD, LONG, WORD = ctypes.c_int, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint16
HANDLE = ctypes.c_uint32
MOTION = ctypes.c_void_p


class DeviceInfo(ctypes.Structure):
    _pack_ = 1
    _fields_ = [(name, ctypes.c_int32) for name in
                ("BusNumber", "DeviceNumber", "IoAddress", "IrqNumber", "ManagementNumber", "BoardId")]


class MotionStatus(ctypes.Structure):
    _fields_ = [("position", ctypes.c_int32), ("speed", ctypes.c_int32), ("moving", ctypes.c_int32),
                ("inputs", ctypes.c_int32)]


_PROTOTYPES: List[Tuple[str, str, Any, List[Any]]] = [
    ("tellamio", "tlmio_GetDeviceCount", DWORD, [DWORD]),
    ("tellamio", "tlmio_GetDeviceInfo", BOOL, [ctypes.POINTER(DWORD), ctypes.POINTER(DeviceInfo)]),
    ("tellamio", "tlmio_OpenDeviceID", HANDLE, [ctypes.POINTER(DeviceInfo)]),
    ("tellamio", "tlmio_OpenDevice", HANDLE, [ctypes.POINTER(DeviceInfo)]),
    ("tellamio", "tlmio_CloseDevice", BOOL, [HANDLE]),
    ("motion", "tlmmotion_Open", BOOL, [HANDLE, ctypes.POINTER(MOTION)]),
    ("motion", "tlmmotion_Close", BOOL, [MOTION]),
    ("motion", "tlmmotion_AxisCount", BOOL, [MOTION, ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_Init", BOOL, [MOTION, WORD]),
    ("motion", "tlmmotion_SetSpeeds", BOOL, [MOTION, WORD, LONG, LONG, ctypes.c_double]),
    ("motion", "tlmmotion_GetSpeeds", BOOL,
     [MOTION, WORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG), ctypes.POINTER(ctypes.c_double)]),
    ("motion", "tlmmotion_SetSoftLimits", BOOL, [MOTION, WORD, LONG, LONG]),
    ("motion", "tlmmotion_ClearSoftLimits", BOOL, [MOTION, WORD]),
    ("motion", "tlmmotion_GetSoftLimits", BOOL,
     [MOTION, WORD, ctypes.POINTER(BOOL), ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_MoveBy", BOOL, [MOTION, WORD, LONG, BOOL]),
    ("motion", "tlmmotion_MoveTo", BOOL, [MOTION, WORD, LONG, BOOL]),
    ("motion", "tlmmotion_MoveAxesTo", BOOL, [MOTION, LONG, ctypes.POINTER(WORD), ctypes.POINTER(LONG), BOOL]),
    ("motion", "tlmmotion_Jog", BOOL, [MOTION, WORD, LONG, BOOL]),
    ("motion", "tlmmotion_Home", BOOL, [MOTION, WORD, BOOL]),
    ("motion", "tlmmotion_SetContacts", BOOL, [MOTION, WORD, LONG]),
    ("motion", "tlmmotion_GetContacts", BOOL, [MOTION, WORD, ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_Stop", BOOL, [MOTION, WORD, BOOL]),
    ("motion", "tlmmotion_StopAll", BOOL, [MOTION]),
    ("motion", "tlmmotion_Wait", BOOL, [MOTION, WORD, DWORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_Poll", BOOL, [MOTION, WORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_WaitAxes", BOOL,
     [MOTION, LONG, ctypes.POINTER(WORD), DWORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    ("motion", "tlmmotion_GetStatus", BOOL, [MOTION, WORD, ctypes.POINTER(MotionStatus)]),
    ("motion", "tlmmotion_ServoOn", BOOL, [MOTION, WORD, BOOL]),
    ("motion", "tlmmotion_ServoReset", BOOL, [MOTION, WORD, BOOL]),
    ("motion", "tlmmotion_SetWatchdog", BOOL, [MOTION, DWORD]),
    ("motion", "tlmmotion_Feed", BOOL, [MOTION]),
]
if not _WINDOWS:
    # The native build keeps the Win32 last-error value in the library itself.
    _PROTOTYPES += [("tellamio", "GetLastError", DWORD, []), ("tellamio", "SetLastError", None, [DWORD])]

_lock = threading.Lock()
_simulator_chosen = False
_tellamio: Optional[ctypes.CDLL] = None
_tellamio_folder: Optional[Tuple[str, str]] = None  # (folder, as errors show it)
_motion: Optional[ctypes.CDLL] = None


def _open(path: str, folders: List[str]) -> ctypes.CDLL:
    problem = _binary_problem(path)
    if problem:
        raise LibraryError(path, folders, problem)
    try:
        if sys.platform == "win32":
            return ctypes.WinDLL(path, use_last_error=True)  # the exports are stdcall
        return ctypes.CDLL(path)
    except OSError as e:
        raise LibraryError(path, folders, str(e)) from None


def _load() -> None:
    global _tellamio, _tellamio_folder, _motion
    with _lock:
        if _motion is not None:
            return
        platform = ("win_amd64" if _PYTHON_BITS == 64 else "win32") if _WINDOWS else "linux_x86_64"
        tellamio_name, motion_name = _relative_files(platform, _simulator_wanted())
        if _tellamio is None:
            tried = []
            for folder, shown in _folders():
                tried.append(shown)
                if os.path.isfile(os.path.join(folder, tellamio_name)):
                    # By full path first: the motion library's dependency on tellamio then
                    # resolves to this one, loaded already, wherever the system would look.
                    _tellamio = _open(os.path.join(folder, tellamio_name), tried)
                    _tellamio_folder = folder, shown
                    break
            else:
                raise LibraryError(tellamio_name, tried, "not found in any folder tried")
        assert _tellamio_folder is not None
        folder, shown = _tellamio_folder
        path = os.path.join(folder, motion_name)
        if not os.path.isfile(path):
            raise LibraryError(motion_name, [shown], "not found beside %s" % tellamio_name)
        motion = _open(path, [shown])
        libraries = {"tellamio": _tellamio, "motion": motion}
        for which, name, restype, argtypes in _PROTOTYPES:
            function = getattr(libraries[which], name)
            function.restype = restype
            function.argtypes = argtypes
        _motion = motion


def tellamio() -> Any:
    """tellamio, loaded (with the motion library) at the first call."""
    if _motion is None:
        _load()
    return _tellamio


def motion() -> Any:
    """The motion library, loaded (after tellamio) at the first call."""
    if _motion is None:
        _load()
    return _motion


def is_simulator(library: Any) -> bool:
    return hasattr(library, "tlmsim_Reset")


def use_simulator() -> None:
    global _simulator_chosen
    with _lock:
        if _tellamio is not None and not is_simulator(_tellamio):
            raise RuntimeError("tellam.use_simulator(): the real library %s is loaded already; choose the simulator "
                               "before the first call that needs a library, or set TELLAM_SIMULATED=1" % (
                                   getattr(_tellamio, "_name", "tellamio.dll")))
        _simulator_chosen = True


def simulated() -> bool:
    return is_simulator(tellamio())


if sys.platform == "win32":
    def last_error() -> int:
        """The thread's last-error value as the last call through ctypes left it."""
        return ctypes.get_last_error() & 0xFFFFFFFF

    def set_last_error(value: int) -> None:
        ctypes.set_last_error(value)
else:
    def last_error() -> int:
        return int(tellamio().GetLastError())

    def set_last_error(value: int) -> None:
        tellamio().SetLastError(value)


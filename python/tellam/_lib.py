"""Loading tellamio and the motion library, and the prototypes of their exports."""
import ctypes
import os
import sys

_WINDOWS = sys.platform == "win32"
_NAMES = {
    "tellamio": "tellamio.dll" if _WINDOWS else "libtellamio.so",
    "motion": "tellamio_motion.dll" if _WINDOWS else "libtellamio_motion.so",
}


class DeviceInfo(ctypes.Structure):
    _pack_ = 1
    _fields_ = [(name, ctypes.c_int32) for name in
                ("BusNumber", "DeviceNumber", "IoAddress", "IrqNumber", "ManagementNumber", "BoardId")]


class MotionStatus(ctypes.Structure):
    _fields_ = [("position", ctypes.c_int32), ("speed", ctypes.c_int32), ("moving", ctypes.c_int32),
                ("inputs", ctypes.c_int32)]


def _candidates(name):
    """Where a library is looked for: TELLAM_LIBRARY_PATH, the package's folder, the system's search."""
    folder = os.environ.get("TELLAM_LIBRARY_PATH")
    if folder:
        yield os.path.join(folder, name)
    yield os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    yield name


def _load(key):
    loader = ctypes.WinDLL if _WINDOWS else ctypes.CDLL  # the exports are stdcall on Windows
    errors = []
    for path in _candidates(_NAMES[key]):
        if os.path.sep in path and not os.path.exists(path):
            continue
        try:
            return loader(path, use_last_error=True)
        except OSError as e:
            errors.append("%s: %s" % (path, e))
    raise OSError("cannot load %s (%s)" % (_NAMES[key], "; ".join(errors) or "not found"))


BOOL, DWORD, LONG, WORD = ctypes.c_int, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint16
HANDLE = ctypes.c_uint32
MOTION = ctypes.c_void_p

tellamio = _load("tellamio")
motion = _load("motion")

_PROTOTYPES = [
    (tellamio, "tlmio_GetDeviceCount", DWORD, [DWORD]),
    (tellamio, "tlmio_GetDeviceInfo", BOOL, [ctypes.POINTER(DWORD), ctypes.POINTER(DeviceInfo)]),
    (tellamio, "tlmio_OpenDeviceID", HANDLE, [ctypes.POINTER(DeviceInfo)]),
    (tellamio, "tlmio_OpenDevice", HANDLE, [ctypes.POINTER(DeviceInfo)]),
    (tellamio, "tlmio_CloseDevice", BOOL, [HANDLE]),
    (motion, "tlmmotion_Open", BOOL, [HANDLE, ctypes.POINTER(MOTION)]),
    (motion, "tlmmotion_Close", BOOL, [MOTION]),
    (motion, "tlmmotion_AxisCount", BOOL, [MOTION, ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_Init", BOOL, [MOTION, WORD]),
    (motion, "tlmmotion_SetSpeeds", BOOL, [MOTION, WORD, LONG, LONG, ctypes.c_double]),
    (motion, "tlmmotion_GetSpeeds", BOOL,
     [MOTION, WORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG), ctypes.POINTER(ctypes.c_double)]),
    (motion, "tlmmotion_SetSoftLimits", BOOL, [MOTION, WORD, LONG, LONG]),
    (motion, "tlmmotion_ClearSoftLimits", BOOL, [MOTION, WORD]),
    (motion, "tlmmotion_GetSoftLimits", BOOL,
     [MOTION, WORD, ctypes.POINTER(BOOL), ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_MoveBy", BOOL, [MOTION, WORD, LONG, BOOL]),
    (motion, "tlmmotion_MoveTo", BOOL, [MOTION, WORD, LONG, BOOL]),
    (motion, "tlmmotion_MoveAxesTo", BOOL, [MOTION, LONG, ctypes.POINTER(WORD), ctypes.POINTER(LONG), BOOL]),
    (motion, "tlmmotion_Jog", BOOL, [MOTION, WORD, LONG, BOOL]),
    (motion, "tlmmotion_Home", BOOL, [MOTION, WORD, BOOL]),
    (motion, "tlmmotion_SetContacts", BOOL, [MOTION, WORD, LONG]),
    (motion, "tlmmotion_GetContacts", BOOL, [MOTION, WORD, ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_Stop", BOOL, [MOTION, WORD, BOOL]),
    (motion, "tlmmotion_StopAll", BOOL, [MOTION]),
    (motion, "tlmmotion_Wait", BOOL, [MOTION, WORD, DWORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_Poll", BOOL, [MOTION, WORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_WaitAxes", BOOL,
     [MOTION, LONG, ctypes.POINTER(WORD), DWORD, ctypes.POINTER(LONG), ctypes.POINTER(LONG)]),
    (motion, "tlmmotion_GetStatus", BOOL, [MOTION, WORD, ctypes.POINTER(MotionStatus)]),
    (motion, "tlmmotion_ServoOn", BOOL, [MOTION, WORD, BOOL]),
    (motion, "tlmmotion_ServoReset", BOOL, [MOTION, WORD, BOOL]),
    (motion, "tlmmotion_SetWatchdog", BOOL, [MOTION, DWORD]),
    (motion, "tlmmotion_Feed", BOOL, [MOTION]),
]
for _lib, _name, _restype, _argtypes in _PROTOTYPES:
    _function = getattr(_lib, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes


if _WINDOWS:
    def last_error():
        """The thread's last-error value as the last call through ctypes left it."""
        return ctypes.get_last_error() & 0xFFFFFFFF

    def set_last_error(value):
        ctypes.set_last_error(value)
else:
    # The native build keeps the Win32 last-error value in the library itself.
    tellamio.GetLastError.restype = DWORD
    tellamio.GetLastError.argtypes = []
    tellamio.SetLastError.restype = None
    tellamio.SetLastError.argtypes = [DWORD]

    def last_error():
        return tellamio.GetLastError()

    def set_last_error(value):
        tellamio.SetLastError(value)

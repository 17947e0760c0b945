"""The wheel's build hook: puts the libraries tellam loads into the package (tellam/lib, the
layout tellam._lib loads from) and makes the wheel one of their platform.

  TELLAM_WHEEL_PLATFORM   win32, win_amd64 or linux_x86_64
  TELLAM_WHEEL_LIBRARIES  the folder of the libraries (absolute, or relative to python/): tellamio.dll, tellamio_motion.dll and
                          sim/tellamio.dll for Windows; libtellamio.so and
                          libtellamio_motion.so (the simulator) for Linux
"""
import importlib.util
import os
from typing import Any, Dict, List

from hatchling.builders.hooks.plugin.interface import BuildHookInterface


def _layout_module() -> Any:
    # tellam._lib itself, by path: it knows the files and loads nothing on import.
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tellam", "_lib.py")
    spec = importlib.util.spec_from_file_location("_tellam_lib_layout", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


class TellamBuildHook(BuildHookInterface):  # type: ignore[misc]
    PLUGIN_NAME = "custom"

    def initialize(self, version: str, build_data: Dict[str, Any]) -> None:
        if self.target_name != "wheel" or version == "editable":
            return  # an editable install loads from TELLAM_LIBRARY_PATH
        layout = _layout_module()
        platform = os.environ.get("TELLAM_WHEEL_PLATFORM", "")
        folder = os.environ.get("TELLAM_WHEEL_LIBRARIES", "")
        problems: List[str] = []
        if platform not in layout.WHEEL_PLATFORMS:
            problems.append("TELLAM_WHEEL_PLATFORM is %s: set it to one of %s" % (
                repr(platform) if platform else "not set", ", ".join(layout.WHEEL_PLATFORMS)))
        if not folder:
            problems.append("TELLAM_WHEEL_LIBRARIES is not set: set it to the folder of the libraries")
        else:
            # The backend runs in python/, not where the build was started.
            folder = os.path.join(self.root, folder)
            if not os.path.isdir(folder):
                problems.append("TELLAM_WHEEL_LIBRARIES: %s is no folder (a relative path is taken from %s; give an "
                                "absolute one)" % (folder, self.root))
        if problems:
            raise RuntimeError("tellam wheel: " + "; ".join(problems))
        names = sorted(set(name for simulated in (False, True) for name in layout._relative_files(platform, simulated)))
        missing = [name for name in names if not os.path.isfile(os.path.join(folder, name))]
        if missing:
            raise RuntimeError("tellam wheel for %s: %s missing in TELLAM_WHEEL_LIBRARIES=%s" % (
                platform, " and ".join(missing), folder))
        if platform != "linux_x86_64":
            # A DLL of the other bitness in the wheel would only fail on the user's machine.
            expected = 0x8664 if platform == "win_amd64" else 0x14C
            for name in names:
                machine = layout._pe_machine(os.path.join(folder, name))
                if machine != expected:
                    raise RuntimeError("tellam wheel for %s: %s is %s; this wheel needs DLLs of PE machine 0x%X" % (
                        platform, os.path.join(folder, name),
                        "no DLL" if machine is None else "a DLL of PE machine 0x%X" % machine, expected))
        # Sorted, so that the wheel's entries come in the same order every time.
        for name in names:
            build_data["force_include"][os.path.abspath(os.path.join(folder, name))] = "tellam/lib/" + name.replace(
                os.sep, "/")
        build_data["pure_python"] = False
        build_data["tag"] = "py3-none-" + platform


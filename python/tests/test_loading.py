"""Which libraries tellam loads, when, and what a library that cannot load says. Each case
runs a Python of its own, as the libraries stay loaded for the life of a process."""
import os
import shutil
import struct
import subprocess
import sys
import textwrap

import pytest

import tellam
from tellam import _lib

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/maps")

MAPPED = "sorted({l.split()[-1] for l in open('/proc/self/maps') if 'libtellamio' in l})"
BITS = struct.calcsize("P") * 8
OTHER_BITS = 32 if BITS == 64 else 64
SITE = os.path.dirname(os.path.dirname(os.path.abspath(tellam.__file__)))  # where this run's tellam is


def loaded_here():
    tellam.list_boards()  # this process's libraries, wherever the test run found them
    return dict((os.path.basename(path), path) for path in eval(MAPPED))


def run(script, pythonpath, **env):
    environment = {key: value for key, value in os.environ.items() if not key.startswith("TELLAM_")}
    environment.update(PYTHONPATH=pythonpath, **env)
    # Run in that folder: python -c looks in the working folder first.
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=environment, cwd=pythonpath,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, timeout=60)
    assert done.returncode == 0, done.stdout
    return done.stdout


def package_copy(root, libraries_in=None):
    """A copy of the tellam package under root, with the libraries this run uses copied to
    the folder libraries_in of it (relative to the package; None for none)."""
    package = os.path.join(str(root), "tellam")
    shutil.copytree(os.path.dirname(tellam.__file__), package, ignore=shutil.ignore_patterns("lib", "__pycache__"))
    if libraries_in is not None:
        copy_libraries(os.path.join(package, libraries_in))
    return package


def copy_libraries(folder):
    os.makedirs(folder, exist_ok=True)
    for path in loaded_here().values():
        shutil.copy(path, folder)


def test_importing_loads_nothing_until_a_call_needs_it():
    out = run("""
        import tellam, tellam.sim
        print(%s, tellam.sim.__name__)
        tellam.list_boards()
        print(%s)
        """ % (MAPPED, MAPPED), SITE, TELLAM_LIBRARY_PATH=os.path.dirname(loaded_here()["libtellamio.so"]))
    before, after = out.splitlines()
    assert before == "[] tellam.sim"
    assert sorted(after.strip("[]").replace("'", "").split(", ")) == sorted(loaded_here().values())


@pytest.mark.parametrize("copies, override, loaded_from", [
    (["tellam/lib"], None, "tellam/lib"),  # as the wheel installs it
    (["tellam"], None, "tellam"),  # copied beside a source copy of the package
    (["tellam/lib", "tellam"], None, "tellam/lib"),
    (["tellam/lib", "mine"], "mine", "mine"),  # TELLAM_LIBRARY_PATH wins over the bundled ones
])
def test_the_libraries_come_from_one_folder(tmp_path, copies, override, loaded_from):
    package_copy(tmp_path)
    for folder in copies:
        copy_libraries(str(tmp_path / folder))
    env = {"TELLAM_LIBRARY_PATH": str(tmp_path / override)} if override else {}
    out = run("import tellam; print(tellam.simulated(), %s)" % MAPPED, str(tmp_path), **env)
    folder = str(tmp_path / loaded_from)
    # One libtellamio.so only: the motion library runs on the tellamio loaded first.
    assert out.split(" ", 1) == ["True", "%r\n" % [os.path.join(folder, "libtellamio.so"),
                                                   os.path.join(folder, "libtellamio_motion.so")]]


def pe(machine):
    """The start of a DLL: the MZ header pointing at a PE header of that machine."""
    return b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"PE\0\0" + struct.pack("<H", machine) + bytes(64)


OTHER_MACHINE, OWN_MACHINE = (0x14C, 0x8664) if BITS == 64 else (0x8664, 0x14C)
OTHER_ELF = b"\x7fELF" + (b"\x01" if BITS == 64 else b"\x02") + bytes(59)


@pytest.mark.parametrize("tellamio, motion, file, reason", [
    (pe(OTHER_MACHINE), None, "libtellamio.so",
     "it is a %d-bit DLL (PE machine 0x%X, %s) and this Python is %d-bit: install the tellam wheel for %d-bit Python" % (
         OTHER_BITS, OTHER_MACHINE, "i386" if BITS == 64 else "x64", BITS, BITS)),
    (pe(OWN_MACHINE), None, "libtellamio.so", "it is a Windows DLL (PE machine 0x%X" % OWN_MACHINE),
    (OTHER_ELF, None, "libtellamio.so", "it is a %d-bit shared library (ELF) and this Python is %d-bit" % (
        OTHER_BITS, BITS)),
    (b"\x7fELF\x02", None, "libtellamio.so", "too short"),  # the loader's own reason
    (None, None, "libtellamio.so", "not found in any folder tried"),
    ("copy", None, "libtellamio_motion.so", "not found beside libtellamio.so"),
    ("copy", pe(OTHER_MACHINE), "libtellamio_motion.so", "and this Python is %d-bit" % BITS),
], ids=["dll-other-bitness", "dll", "elf-other-bitness", "bad-elf", "missing", "motion-missing", "motion-dll"])
def test_a_library_that_cannot_load_says_which_where_and_why(tmp_path, tellamio, motion, file, reason):
    folder = tmp_path / "libraries"
    folder.mkdir()
    for name, content in (("libtellamio.so", tellamio), ("libtellamio_motion.so", motion)):
        if content == "copy":
            shutil.copy(loaded_here()[name], str(folder))
        elif content is not None:
            (folder / name).write_bytes(content)
    out = run("""
        import tellam
        failures = []
        for attempt in range(2):  # the same error again, not a half-loaded package
            try:
                tellam.list_boards()
            except tellam.LibraryError as e:
                failures.append((isinstance(e, OSError), e.filename, e.folders, e.reason, str(e)))
        print(repr(failures))
        """, SITE, TELLAM_LIBRARY_PATH=str(folder))
    first, again = eval(out)
    absent = (tellamio if file == "libtellamio.so" else motion) is None
    path = file if absent else str(folder / file)
    shown = "%s (TELLAM_LIBRARY_PATH)" % folder
    assert first == again and first[:3] == (True, path, [shown]) and reason in first[3]
    assert first[4] == "cannot load %s: %s\nfolders tried: %s" % (path, first[3], shown)


def test_tellam_simulated_must_be_0_or_1():
    out = run("""
        import tellam
        try:
            tellam.list_boards()
        except ValueError as e:
            print(e)
        """, SITE, TELLAM_SIMULATED="yes")
    assert out == "TELLAM_SIMULATED=yes: 1 chooses the simulated library, 0 or unset the real one\n"


@pytest.mark.parametrize("platform, simulated, files", [
    ("win32", False, ["tellamio.dll", "tellamio_motion.dll"]),
    ("win32", True, ["sim/tellamio.dll", "tellamio_motion.dll"]),
    ("win_amd64", False, ["tellamio.dll", "tellamio_motion.dll"]),
    ("win_amd64", True, ["sim/tellamio.dll", "tellamio_motion.dll"]),
    ("linux_x86_64", False, ["libtellamio.so", "libtellamio_motion.so"]),  # the simulator all the same
    ("linux_x86_64", True, ["libtellamio.so", "libtellamio_motion.so"]),
])
def test_library_files_name_the_bundled_files_in_load_order(platform, simulated, files):
    lib = os.path.join(os.path.dirname(tellam.__file__), "lib")
    assert _lib.library_files(platform, simulated) == [os.path.join(lib, *name.split("/")) for name in files]


def test_library_files_refuse_another_platform():
    with pytest.raises(ValueError, match="one of win32, win_amd64, linux_x86_64"):
        _lib.library_files("macosx_11_0_arm64", True)


class RealLibrary:
    """Stands in for the real tellamio.dll: no tlmsim_ functions."""
    _name = r"C:\Python\Lib\site-packages\tellam\lib\tellamio.dll"


def test_the_simulator_cannot_be_chosen_once_the_real_library_is_loaded(monkeypatch):
    monkeypatch.setattr(_lib, "_tellamio", RealLibrary())
    monkeypatch.setattr(_lib, "_motion", RealLibrary())
    monkeypatch.setattr(tellam.sim, "_prototyped", False)
    with pytest.raises(RuntimeError) as refused:
        tellam.use_simulator()
    assert str(refused.value) == (r"tellam.use_simulator(): the real library C:\Python\Lib\site-packages\tellam\lib"
                                  r"\tellamio.dll is loaded already; choose the simulator before the first call that "
                                  "needs a library, or set TELLAM_SIMULATED=1")
    with pytest.raises(tellam.TellamError, match="the loaded tellamio is the real library") as no_simulator:
        tellam.sim.reset()
    assert (no_simulator.value.function, no_simulator.value.code) == ("tlmsim_Reset", 127)
    assert not tellam.simulated()

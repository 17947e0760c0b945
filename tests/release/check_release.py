#!/usr/bin/env python3
"""Proves the archives of tools/release the way a Windows developer uses them. One line per
check ("ok"/"FAIL", what was expected, what was got); exit code 1 when any check failed.

- Listing: each archive holds exactly the pinned files (and the tree's docs/), sorted, all
  with one time and mode. Its docs name no file of the source tree, and their links lead to
  files of the archive.
- bin/tellamio.dll exports the twenty names, undecorated, at their ordinals; include/tellamio.h
  states its version; the simulated bin/sim/tellamio.dll exports the same twenty, then its
  control functions by name.
- lib/tellamio.lib links a program built the MSVC way (clang for *-windows-msvc, lld-link, no
  C runtime), which then imports the twenty names from tellamio.dll and, run, uses the board.
  lib/libtellamio_ordinals.a, and an
  import library made from lib/tellamio_ordinals.def as `lib /def:` makes one, link it so that
  it imports the twenty ordinals.
- The examples build from the unpacked archive as a separate CMake project that only uses
  find_package(tellamio) (MinGW); a project of the other architecture does not take the package.
- Both archives: the examples and the MSVC-style program run under Wine against the archive's
  own tlmsim.sys (the win32 one in a 32-bit Windows), set up with the archive's tlmsimctl (the
  default board, a limit that is on, failing requests), and print the board table, the axis
  at its target, or the failed call with its last-error value. Built again with
  -DTELLAMIO_SIMULATED=ON, move_axis moves its axis on the simulated library instead.

  check_release.py [--dist DIR] [--work DIR] [--builds DIR]
  (the Wine prefixes are DIR/win32/wineprefix and DIR/win64/wineprefix, default build/)
"""
import argparse, os, re, shutil, subprocess, sys, zipfile

TREE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True  # leave no __pycache__ in tools/
sys.path.insert(0, os.path.join(TREE, "tools"))
from pecheck import PE  # noqa: E402

VERSION = "3.2.0"
EXPORTS = ("GetDeviceCount GetDeviceInfo OpenDeviceID OpenDevice CloseDevice CmdWrite DousaWrite "
           "SeigyoWrite status1Read status2Read intstatusRead regRead ElstWrite ElstRead CmpcWrite "
           "CmpcRead boardIDRead IDNumberRead INTRDRead INTRst").split()
EXPORTS = ["tlmio_" + e for e in EXPORTS]
SIM_EXPORTS = ("Request Reset SetBoards GetBoards LoadBoards SaveBoards SetInput SetSensors GetSensors "
               "SetCarriage GetCarriage SetComparator ClockFreeze ClockRun ClockAdvance ClockNow AddFault "
               "ClearFaults ReadTrace ResetTrace FormatTraceLine GetState ClockScale ClockVirtual Sleep TickCount").split()
SIM_EXPORTS = ["tlmsim_" + e for e in SIM_EXPORTS]
LISTING = """README.txt bin/sim/tellamio.dll bin/tellamio.dll bin/tlmremove.exe bin/tlmtest4.exe bin/tlmtest6.exe
  examples/CMakeLists.txt examples/limits.c examples/list_boards.c examples/move_axis.c examples/move_xy.c
  include/tellam_controller.h
  include/tellam_protocol.h include/tellamio.h include/tellamio_sim.h include/tlmsim_control.h
  lib/cmake/tellamio/tellamio-config-version.cmake lib/cmake/tellamio/tellamio-config.cmake
  lib/libtellamio.dll.a lib/libtellamio_ordinals.a lib/libtellamio_sim.dll.a lib/tellamio.def lib/tellamio.lib
  lib/tellamio_ordinals.def lib/tellamio_sim.lib bin/tlmsim.sys bin/tellamio_motion.dll include/tellamio_motion.h
  lib/libtellamio_motion.dll.a lib/tellamio_motion.lib examples/python/move_axis.py examples/python/test_move.py
  examples/python/move_xy.py examples/python/test_move_xy.py
  python/tellam/__init__.py python/tellam/_lib.py python/tellam/sim.py python/tellam/py.typed
  python/tellam/pytest_plugin.py examples/python/traces/set_speeds.txt""".split()
# The wheel of each archive's architecture, beside it in dist/.
WHEEL_TAGS = {"win32": "win32", "win64": "win_amd64"}
# arch: (mingw triplet, clang triplet, lld-link machine, PE machine, the other arch's mingw,
#        dlltool machine)
ARCHES = {
    "win32": ("i686-w64-mingw32", "i686-pc-windows-msvc", "x86", 0x14C, "x86_64-w64-mingw32", "i386"),
    "win64": ("x86_64-w64-mingw32", "x86_64-pc-windows-msvc", "x64", 0x8664, "i686-w64-mingw32", "i386:x86-64"),
}
# What names a file of the source tree rather than of the archive.
SOURCE_TREE = re.compile(r"(?<![\w./\\])(?:tools|build|sim|tests|tellamio|tlmtest|tlmremove|tlmsimctl|cmake|bench|dist)/|source tree")
BOARD_TABLE = ["1 board(s)", "board  bus  device  I/O     IRQ  number  board ID  ID number",
               "    0    1       8  0xD000   11       0         0  3031323334353637"]
# The byte writes of a move as tlmsimctl's trace shows them, without the register commands:
# init and servo on, then the preset feed in cycle mode, which latches its arrival.
INIT = ["X command 0x60", "X command 0x61", "X command 0x62", "X control 0x14", "X command 0x48", "X command 0x49"]
MOVE_START = INIT + ["X command 0x58", "X command 0x61", "X command 0x66", "X operation mode 0x28", "X command 0x13"]
# The wait ends cycle mode; servo off, then the motion library's close stops the axis it moved.
MOVE_END = ["X command 0x67", "X command 0x48", "X command 0x0A"]
USAGE = "usage: move_axis [X|Y|Z|U|V|W [PULSES]]  (PULSES: nonzero, at most 10000000)"
OPEN = "board 0 open, handle 0xFFFF0001"
# (tlmsimctl command after its reset, program and arguments, exit code, first lines, last line,
#  the byte writes the board saw, None: not looked at)
RUNS = [
    ([], ["list_boards.exe"], 0, BOARD_TABLE, BOARD_TABLE[-1], []),
    ([], ["move_axis.exe"], 0, [OPEN, "axis X: preset feed of 5000 pulses, 500 to 5000 pps"],
     "axis X at 5000 (target 5000)", MOVE_START + MOVE_END),
    # A move that does not end (the board's clock stands): the wait stops it after its time
    # (tellamio sends a decelerating stop at FL as 0x09), then the program once more.
    (["clock", "freeze"], ["move_axis.exe", "X", "1000"], 1, [OPEN], "the move took too long: stopped",
     MOVE_START + ["X command 0x09", "X command 0x67", "X command 0x09"] + MOVE_END[1:]),
    ([], ["move_axis.exe", "Y", "-3000"], 0, [OPEN], "axis Y at -3000 (target -3000)", None),
    (["input", "0", "Z", "+ELS", "on"], ["move_axis.exe", "Z", "1000"], 1, [OPEN],
     "axis Z stopped short of its target", None),
    (["fault", "add", "fail", "WRITE_BYTE"], ["move_axis.exe"], 1, [OPEN], "tlmmotion_Open failed: error 0x45d", None),
    # Every byte read fails, from the ELS polarity read of init on: nothing starts; the axis
    # gets a stop and servo off.
    (["fault", "add", "fail", "READ_BYTE"], ["move_axis.exe"], 1, [OPEN],
     "tlmmotion_Init failed: error 0x45d", INIT + ["X command 0x09", "X command 0x48"]),
    (["fault", "add", "fail", "GET_DEVICE_INFO"], ["list_boards.exe"], 1, [],
     "tlmio_GetDeviceInfo failed: error 0x45d", None),
    ([], ["move_axis.exe", "Q"], 2, [], USAGE, []),
    ([], ["move_axis.exe", "X", "0"], 2, [], USAGE, []),
    # The motion library from the archive (tellamio::motion): a jog that an active limit ends.
    (["input", "0", "Y", "+ELS", "on"], ["limits.exe", "Y", "+"], 0, [], "axis Y stopped by +ELS at 0", None),
    # Two axes together to a point inside their soft limits; a point outside starts nothing.
    ([], ["move_xy.exe"], 0, [], "X at 4000, Y at 1500", None),
    ([], ["move_xy.exe", "12000", "10"], 1, [], "tlmmotion_MoveAxesTo: the point lies outside the travel 0..10000",
     None),
]

failures = 0
# The exit code of tools/wine-session for programs this machine cannot run (32-bit code on a
# kernel that refuses it).
SKIPPED = 77


def check(ok, what, expected, got):
    global failures
    failures += 0 if ok else 1
    print("%s: %s (expected %r, got %r)" % ("ok" if ok else "FAIL", what, expected, got), flush=True)
    return ok


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def check_archive(arch, path, sdk):
    mingw, clang, machine, pe_machine, other_mingw, dlltool_machine = ARCHES[arch]
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        z.extractall(sdk)
    names = [i.filename for i in infos]
    expected = sorted(LISTING + ["python/tellam-%s-py3-none-%s.whl" % (VERSION, WHEEL_TAGS[arch])])
    if os.path.exists(os.path.join(TREE, "tlmsimctl", "CMakeLists.txt")):
        expected = sorted(expected + ["bin/tlmsimctl.exe"])
    docs = os.path.join(TREE, "docs")
    for root, _, files in os.walk(docs):
        expected += sorted("docs/" + os.path.relpath(os.path.join(root, f), docs) for f in files)
    check(sorted(names) == sorted(expected), arch + " listing", sorted(expected), sorted(names))
    check(names == sorted(names), arch + " entries sorted", "sorted", names)
    check(len({(i.date_time, i.external_attr) for i in infos}) == 1, arch + " one time and mode",
          "1", sorted({(i.date_time, oct(i.external_attr >> 16)) for i in infos}))
    for name in (n for n in names if n.startswith("docs/") and n.endswith(".md")):
        with open(os.path.join(sdk, name), encoding="utf-8") as f:
            text = f.read()
        check(not SOURCE_TREE.findall(text), "%s %s names no file outside the archive" % (arch, name), [],
              SOURCE_TREE.findall(text))
        for target in re.findall(r"\]\(([^)\s#]+)", text):
            if not re.match(r"\w+://", target):
                there = os.path.exists(os.path.join(sdk, os.path.dirname(name), target))
                check(there, "%s %s links to %s" % (arch, name, target), "in the archive", there or "missing")

    dll = PE(open(os.path.join(sdk, "bin", "tellamio.dll"), "rb").read())
    want = {i + 1: n for i, n in enumerate(EXPORTS)}
    check(dll.machine == pe_machine, arch + " tellamio.dll machine", hex(pe_machine), hex(dll.machine))
    check(dll.exports() == want, arch + " tellamio.dll exports by ordinal, undecorated", want, dll.exports())
    with open(os.path.join(sdk, "include", "tellamio.h")) as f:
        stated = re.findall(r"^#define TELLAMIO_VERSION_(?:MAJOR|MINOR|PATCH) (\d+)", f.read(), re.M)
    check(".".join(stated) == VERSION and dll.version_info()[0] == VERSION + ".0",
          arch + " tellamio.h states the version of tellamio.dll", VERSION, (stated, dll.version_info()[0]))
    sim = PE(open(os.path.join(sdk, "bin", "sim", "tellamio.dll"), "rb").read())
    want = {i + 1: n for i, n in enumerate(EXPORTS + SIM_EXPORTS)}
    check(sim.machine == pe_machine, arch + " sim/tellamio.dll machine", hex(pe_machine), hex(sim.machine))
    check(sim.exports() == want, arch + " sim/tellamio.dll exports the twenty, then its own", want, sim.exports())

    # The MSVC import library; Wine's headers stand in for the Windows SDK's. The program goes
    # beside tellamio.dll, to be run with the examples.
    obj, exe = os.path.join(sdk, "msvc_client.obj"), os.path.join(sdk, "bin", "msvc_client.exe")
    r = run(["clang", "--target=" + clang, "-c", "-I" + os.path.join(sdk, "include"),
             "-isystem", "/usr/include/wine/wine/windows", "-isystem", "/usr/include/wine/wine/msvcrt",
             os.path.join(TREE, "tests", "release", "msvc_client.c"), "-o", obj])
    r = r if r.returncode else run(["lld-link", "/machine:" + machine, "/entry:start", "/subsystem:console",
                                    "/nodefaultlib", "/out:" + exe, obj, os.path.join(sdk, "lib", "tellamio.lib")])
    if check(r.returncode == 0, arch + " MSVC-style client links with tellamio.lib", 0, r.stderr.strip()):
        imports = PE(open(exe, "rb").read()).imports()
        check(imports == {"tellamio.dll": sorted(EXPORTS)}, arch + " MSVC-style client imports by name",
              sorted(EXPORTS), imports)
    # By ordinal. llvm-dlltool stands in for `lib /def:`: like lib, it gives a decorated i386
    # name of the .def its leading underscore.
    made = os.path.join(sdk, "tellamio_ordinals.lib")
    r = run(["llvm-dlltool", "-m", dlltool_machine, "-d", os.path.join(sdk, "lib", "tellamio_ordinals.def"), "-l", made])
    check(r.returncode == 0, arch + " an import library made from tellamio_ordinals.def", 0, r.stderr.strip())
    for implib in (os.path.join(sdk, "lib", "libtellamio_ordinals.a"), made):
        # A MinGW import library carries no safe exception handler table, which an x86 MSVC
        # link asks for by default.
        seh = ["/safeseh:no"] if implib.endswith(".a") and machine == "x86" else []
        r = run(["lld-link", "/machine:" + machine, "/entry:start", "/subsystem:console", "/nodefaultlib",
                 "/out:" + exe, obj, implib] + seh)
        what = "%s MSVC-style client with %s" % (arch, os.path.basename(implib))
        if check(r.returncode == 0, what + " links", 0, r.stderr.strip()):
            imports = PE(open(exe, "rb").read()).imports()
            imports = {dll: sorted(entries, key=lambda e: (isinstance(e, str), e)) for dll, entries in imports.items()}
            check(imports == {"tellamio.dll": list(range(1, 21))}, what + " imports ordinals 1-20",
                  list(range(1, 21)), imports)

    # The examples as a project of their own.
    build = os.path.join(sdk, "build")
    configure = ["cmake", "-G", "Ninja", "-S", os.path.join(sdk, "examples"), "-B", build,
                 "-DCMAKE_SYSTEM_NAME=Windows", "-DCMAKE_C_COMPILER=%s-gcc" % mingw, "-DCMAKE_PREFIX_PATH=" + sdk]
    r = run(configure)
    r = r if r.returncode else run(["cmake", "--build", build])
    check(r.returncode == 0, arch + " examples build with find_package(tellamio)", 0, (r.stdout + r.stderr)[-2000:])
    # Again with the simulated library beside them, as README.txt's "Try it without a board".
    simulated = os.path.join(sdk, "build-sim")
    r = run([simulated if a == build else a for a in configure] + ["-DTELLAMIO_SIMULATED=ON"])
    r = r if r.returncode else run(["cmake", "--build", simulated])
    same = r.returncode == 0 and open(os.path.join(simulated, "tellamio.dll"), "rb").read() == open(
        os.path.join(sdk, "bin", "sim", "tellamio.dll"), "rb").read()
    check(same, arch + " examples build with -DTELLAMIO_SIMULATED=ON beside bin/sim/tellamio.dll", True,
          (r.stdout + r.stderr)[-2000:] or same)
    # Which import library each kind of toolchain gets: the link lines CMake writes.
    msvc = os.path.join(sdk, "build-msvc")
    r = run(configure[:-2] + ["-B", msvc, "-DCMAKE_C_COMPILER=clang", "-DCMAKE_C_COMPILER_TARGET=" + clang,
                              "-DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY", "-DCMAKE_PREFIX_PATH=" + sdk])
    for kind, folder, implib in (("MinGW", build, "libtellamio.dll.a"), ("MSVC-ABI", msvc, "tellamio.lib")):
        link = run(["ninja", "-C", folder, "-t", "commands", "move_axis"]).stdout.strip().splitlines()[-1:]
        got = [w for w in " ".join(link).split() if "tellamio." in w and not w.endswith(".dll")]
        check(got == [os.path.join(sdk, "lib", implib)], "%s %s project links" % (arch, kind),
              os.path.join(sdk, "lib", implib), got)
    other = os.path.join(sdk, "build-other")
    r = run(configure[:-2] + ["-B", other, "-DCMAKE_C_COMPILER=%s-gcc" % other_mingw, "-DCMAKE_PREFIX_PATH=" + sdk])
    check(r.returncode != 0 and "tellamio" in r.stderr, "a project of the other architecture does not take the %s package"
          % arch, "configure fails", r.returncode)
    return build


def byte_writes(trace):
    """The byte writes of a trace that are not register commands, as "X command 0x60"."""
    seen = re.findall(r"WRITE_BYTE +(\w) +0x\w\w (command|control|operation mode) +(0x\w\w)", trace)
    return ["%s %s %s" % m for m in seen if not 0x80 <= int(m[2], 16) < 0xE0]


def run_examples(arch, build, sdk, prefix):
    env = dict(os.environ, TLM_WINEPREFIX=prefix, TLM_WINEARCH=arch,
               TLM_SIM_DRIVER=os.path.join(sdk, "bin", "tlmsim.sys"))
    session = os.path.join(TREE, "tools", "wine-session")
    run([session, "stop"], env=env)  # a fresh session: the driver starts with its default board
    r = run([session, "start"], env=env)
    if r.returncode == SKIPPED:
        print("skipped: %s programs of the archive: %s" % (arch, r.stderr.strip()), flush=True)
        return
    if not check(r.returncode == 0, arch + " Wine session with the archive's tlmsim.sys", 0, r.stderr.strip()):
        return
    wine_run = os.path.join(TREE, "tools", "wine-run")
    try:
        # The MSVC-style program: its exit code names the step that failed.
        r = run([wine_run, os.path.join(sdk, "bin", "msvc_client.exe")], env=env)
        check(r.returncode == 0, arch + " MSVC-style client runs: exit code", 0, (r.returncode, r.stdout.strip()))
        for setup, args, code, first, last, writes in RUNS:
            simctl = [wine_run, os.path.join(sdk, "bin", "tlmsimctl.exe")]
            for command in (["reset"], setup):
                if command and run(simctl + command, env=env).returncode:
                    check(False, "tlmsimctl " + " ".join(command), 0, "failed")
            r = run([wine_run, os.path.join(build, args[0])] + args[1:], env=env)
            lines = r.stdout.splitlines()
            what = " ".join([arch] + (["(tlmsimctl %s)" % " ".join(setup)] if setup else []) + args)
            check(r.returncode == code, what + ": exit code", code, r.returncode)
            check(lines[:len(first)] == first, what + ": first lines", first, lines[:len(first)])
            check(lines[-1:] == [last], what + ": last line", last, lines[-1:])
            if writes is not None:
                got = byte_writes(run(simctl + ["trace"], env=env).stdout)
                check(got == writes, what + ": byte writes to the board", writes, got)
        # The outside project built with -DTELLAMIO_SIMULATED=ON moves the axis on the boards
        # inside the simulated library; the driver sees none of it.
        run(simctl + ["reset"], env=env)
        trace = os.path.join(sdk, "build-sim", "trace.txt")
        r = run([wine_run, os.path.join(sdk, "build-sim", "move_axis.exe")],
                env=dict(env, TELLAMIO_SIM_TRACE="Z:" + trace))
        what = arch + " move_axis.exe on the simulated library"
        check((r.returncode, r.stdout.splitlines()[-1:]) == (0, ["axis X at 5000 (target 5000)"]), what,
              (0, ["axis X at 5000 (target 5000)"]), (r.returncode, r.stdout.splitlines()[-1:]))
        got = byte_writes(open(trace).read() if os.path.exists(trace) else "")
        check(got == MOVE_START + MOVE_END, what + ": byte writes in its trace", MOVE_START + MOVE_END, got)
        got = byte_writes(run(simctl + ["trace"], env=env).stdout)
        check(got == [], what + ": byte writes to the driver's board", [], got)
    finally:
        run([session, "stop"], env=env)


def check_wheel(arch, dist, work):
    """The architecture's wheel installs as pip installs it for that Windows, offline; its DLLs
    are of the wheel's machine, and the package finds them where it looks by default."""
    pe_machine, tag = ARCHES[arch][3], WHEEL_TAGS[arch]
    wheel = os.path.join(dist, "tellam-%s-py3-none-%s.whl" % (VERSION, tag))
    target = os.path.join(work, "wheel-" + tag)
    r = run(["/usr/bin/python3", "-m", "pip", "install", "-q", "--no-index", "--platform", tag, "--only-binary=:all:",
             "--no-deps", "--target", target, wheel])
    if not check(r.returncode == 0, arch + " the wheel installs for " + tag, 0, r.stderr.strip()[-300:]):
        return
    r = run(["/usr/bin/python3", "-c", "import sys, tellam._lib as l\nfor s in (False, True): "
             "print('\\n'.join(l.library_files(sys.argv[1], s)))", tag], cwd=target,
            env={"PATH": os.environ["PATH"], "PYTHONPATH": target})
    files = r.stdout.split()
    check(r.returncode == 0 and len(files) == 4 and all(f.startswith(target) for f in files),
          arch + " the installed package looks inside itself for its DLLs", "4 files in " + target, files or r.stderr)
    for path in files:
        there = os.path.exists(path)
        machine = PE(open(path, "rb").read()).machine if there else None
        check(machine == pe_machine, "%s wheel %s machine" % (arch, os.path.relpath(path, target)), hex(pe_machine),
              hex(machine) if there else "missing")
    same = all(open(os.path.join(target, "tellam", f), "rb").read() ==
               open(os.path.join(TREE, "python", "tellam", f), "rb").read() for f in ("__init__.py", "_lib.py", "sim.py"))
    check(same, arch + " the wheel holds python/tellam", True, same)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dist", default=os.path.join(TREE, "dist"))
    ap.add_argument("--work", default=os.path.join(TREE, "build", "release-check"))
    ap.add_argument("--builds", default=os.path.join(TREE, "build"))
    args = ap.parse_args()
    args.work = os.path.abspath(args.work)
    shutil.rmtree(args.work, ignore_errors=True)
    for arch in ARCHES:
        path = os.path.join(args.dist, "tellam-sdk-%s-%s.zip" % (VERSION, arch))
        if not check(os.path.exists(path), "archive", path, os.path.exists(path)):
            continue
        sdk = os.path.join(args.work, arch)
        build = check_archive(arch, path, sdk)
        check_wheel(arch, args.dist, args.work)
        run_examples(arch, build, sdk, os.path.join(os.path.abspath(args.builds), arch, "wineprefix"))
    print("check_release: %d failed" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

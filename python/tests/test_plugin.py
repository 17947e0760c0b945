"""The pytest plugin as a user's test session meets it: the fixture tellam_sim, golden traces
and --tellam-update-traces, and a session that uses neither."""
import importlib.metadata
import sys
import time

import pytest

import tellam

pytest_plugins = ["pytester"]


def registered_plugins():
    entries = importlib.metadata.entry_points()
    group = entries.select(group="pytest11") if hasattr(entries, "select") else entries.get("pytest11", [])
    return [entry.value for entry in group]


# Installed from the wheel, the entry point registers the plugin; from the source tree, -p.
PLUGIN = [] if "tellam.pytest_plugin" in registered_plugins() else ["-p", "tellam.pytest_plugin"]

MOVE_TEST = """
import tellam

def test_move(tellam_sim):
    with tellam.open_board() as board:
        x = board.axis("X")
        x.init()
        tellam_sim.reset_trace()
        x.set_speeds(500, 5000, accel=0.2)
    tellam_sim.assert_trace("traces/set_speeds.txt")
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/maps")
def test_a_session_without_the_fixture_loads_no_library(pytester):
    pytester.makepyfile(test_plain="""
        import sys

        def test_plain():
            assert "tellam.pytest_plugin" in sys.modules  # the plugin is there...
            assert "libtellamio" not in open("/proc/self/maps").read()  # ...and has loaded nothing
        """)
    pytester.runpytest_subprocess(*PLUGIN).assert_outcomes(passed=1)


def test_each_test_starts_on_a_fresh_simulator_in_virtual_time(pytester):
    pytester.makepyfile(test_fresh="""
        import time
        import pytest
        import tellam

        @pytest.mark.parametrize("run", [1, 2])
        def test_fresh(tellam_sim, run):
            assert tellam_sim is tellam.sim and tellam_sim.trace() == []
            with tellam.open_board() as board:
                x = board.axis("X")
                assert not x.status.plus_limit  # nothing forced by the run before
                x.init()
                x.move_by(100)  # no fault left by the run before
                before, started = tellam_sim.tick_count(), time.monotonic()
                x.wait(timeout=60)
                tellam_sim.sleep(30)
                assert tellam_sim.tick_count() - before >= 30000 and time.monotonic() - started < 5
            tellam_sim.set_input(0, "X", "+ELS", True)
            tellam_sim.add_fault("fail", "WRITE_BYTE")
        """)
    pytester.runpytest(*PLUGIN).assert_outcomes(passed=2)
    started = time.monotonic()
    tellam.sim.sleep(0.2)  # the clock runs in real time again
    assert time.monotonic() - started >= 0.19
    tellam.sim.reset()


def test_update_traces_writes_the_file_beside_the_test_and_then_it_compares(pytester):
    pytester.mkpydir("checks").joinpath("test_move.py").write_text(MOVE_TEST)
    pytester.runpytest(*PLUGIN, "--tellam-update-traces").assert_outcomes(passed=1)
    saved = (pytester.path / "checks" / "traces" / "set_speeds.txt").read_text().splitlines()
    assert saved == tellam.sim.trace_lines()  # the trace of this very test, as tlmsimctl trace prints it
    assert [line.split()[:2] for line in saved[1:4]] == [["1", "0"], ["2", "0"], ["3", "0"]]
    assert len(saved) == 1 + len(tellam.sim.trace()) > 1
    pytester.runpytest(*PLUGIN).assert_outcomes(passed=1)


@pytest.mark.parametrize("spoil, expected", [
    (lambda path: path.write_text(path.read_text().replace("0x01F4", "0x01F5", 1)),
     ["*the requests sent differ from *set_speeds.txt (pytest --tellam-update-traces writes it anew):",
      "*--- *set_speeds.txt", "*+++ the requests sent", "*@@ *", "*-  *0x01F5 *", "*+  *0x01F4 *"]),
    (lambda path: path.unlink(),
     ["*no trace file *set_speeds.txt: pytest --tellam-update-traces writes it. The trace:",
      "*    seq  board  request *", "*      1  0      WRITE_WORD *"]),
], ids=["changed", "missing"])
def test_a_trace_unlike_its_file_fails_with_a_diff(pytester, spoil, expected):
    pytester.mkpydir("checks").joinpath("test_move.py").write_text(MOVE_TEST)
    pytester.runpytest(*PLUGIN, "--tellam-update-traces").assert_outcomes(passed=1)
    spoil(pytester.path / "checks" / "traces" / "set_speeds.txt")
    result = pytester.runpytest(*PLUGIN)
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(expected, consecutive=False)

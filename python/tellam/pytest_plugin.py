"""The pytest plugin of tellam, registered by the wheel (entry point pytest11): the fixture
tellam_sim and the option --tellam-update-traces.

A test that asks for tellam_sim starts on a fresh simulator (one six-axis board, no faults,
empty trace, nothing forced) in virtual time, and gets the tellam.sim module;
tellam_sim.assert_trace("traces/name.txt") compares the requests the test sent with a file
beside the test. Sessions that use neither load no library: nothing here touches tellam
until the fixture runs.
"""
import os
from types import ModuleType
from typing import Iterator

import pytest

UPDATE_OPTION = "--tellam-update-traces"


def pytest_addoption(parser: "pytest.Parser") -> None:
    parser.getgroup("tellam").addoption(
        UPDATE_OPTION, action="store_true", default=False,
        help="write the trace files of tellam_sim.assert_trace() instead of comparing with them")


@pytest.fixture
def tellam_sim(request: "pytest.FixtureRequest") -> Iterator[ModuleType]:
    """The tellam.sim module, on a fresh simulator in virtual time; the clock runs in real time
    again afterwards."""
    import tellam
    from tellam import sim

    tellam.use_simulator()
    sim.reset()
    sim.clock_virtual()
    test_file = str(getattr(request, "path", None) or getattr(request, "fspath"))  # .path: pytest 7 on
    sim._trace_files = (os.path.dirname(test_file), bool(request.config.getoption(UPDATE_OPTION)))
    try:
        yield sim
    finally:
        sim._trace_files = None
        sim.clock_run()

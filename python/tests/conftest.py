"""Every test sees Ctrl+C as a terminal gives it: a run started in the background (a CI job,
`cmd &`) inherits SIGINT ignored, and _thread.interrupt_main() then raises nothing."""
import signal

import pytest


@pytest.fixture(autouse=True)
def ctrl_c_raises_keyboard_interrupt():
    before = signal.signal(signal.SIGINT, signal.default_int_handler)
    yield
    signal.signal(signal.SIGINT, before)

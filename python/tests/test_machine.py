"""The machine layer of the tellam package on the simulated board: soft limits, coordinated
moves, units, settings, homing errors and the watchdog."""
import _thread
import threading
import time

import pytest

import tellam

SPEEDS = dict(fl=500, fh=8000, accel=0.05)


@pytest.fixture
def board():
    tellam.sim.reset()
    with tellam.open_board() as board:
        for name in "XY":
            axis = board.axis(name)
            axis.init()
            axis.set_speeds(**SPEEDS)
        tellam.sim.reset_trace()
        yield board
    tellam.sim.clock_run()


@pytest.fixture
def x(board):
    return board.axis("X")


def writes():
    """The requests that change the board: every write but the command bytes 0x80..0xBF, which
    read a register (the command port is the first of an axis' 16 ports)."""
    return [(request, board, port, value) for request, board, port, value in tellam.sim.trace()
            if request.startswith("WRITE") and not (port % 16 == 0 and 0x80 <= value < 0xC0)]


@pytest.mark.parametrize("start, function", [
    (lambda b: b.axis("X").move_to(2001), "tlmmotion_MoveTo"),
    (lambda b: b.axis("X").move_by(-1001), "tlmmotion_MoveBy"),
    (lambda b: b.move_to(X=500, Y=2500), "tlmmotion_MoveAxesTo"),
    (lambda b: b.move_by(X=-1500, Y=100), "tlmmotion_MoveAxesTo"),
])
def test_a_move_outside_the_soft_limits_writes_nothing(board, start, function):
    for name in "XY":
        board.axis(name).soft_limits = (-1000, 2000)
    tellam.sim.reset_trace()
    with pytest.raises(tellam.TellamError) as refused:
        start(board)
    assert (refused.value.code, refused.value.function) == (tellam.MOTERR_SOFT_LIMIT, function)
    assert "MOTERR_SOFT_LIMIT" in str(refused.value)
    assert writes() == [] and board.axis("X").position == board.axis("Y").position == 0


@pytest.mark.parametrize("direction, scale, limits, stands_at", [
    (+1, 1, (-1000, 2000), 2000),
    (-1, 1, (-1000, 2000), -1000),
    (+1, 100, (-10, 20.005), 20.0),  # 2000.5 pulses: the limit rounds down to 2000
    (-1, 100, (-10.009, 20), -10.0),  # -1000.9 pulses: rounds up to -1000
])
def test_a_jog_ends_at_the_soft_limit(x, direction, scale, limits, stands_at):
    tellam.sim.clock_virtual()
    x.scale = scale
    x.soft_limits = limits
    x.jog(direction)
    assert x.wait(timeout=30) == stands_at == x.position and x.reason == tellam.SOFT_LIMIT
    x.soft_limits = None
    assert x.soft_limits is None


def test_a_coordinated_move_arrives_together(board):
    tellam.sim.clock_virtual()
    x, y = board.axis("X"), board.axis("Y")
    y.scale = 100  # Y in mm: 30 mm are 3000 pulses
    board.move_to(X=1000, Y=30)
    behind = []
    while x.status.moving or y.status.moving:
        behind.append(abs(x.position / 1000 - y.position / 30))
        tellam.sim.sleep(0.02)
    assert len(behind) > 10 and max(behind) < 0.02  # alone, X would arrive long before Y
    assert board.wait("X", "Y", timeout=30) == {"X": 1000, "Y": 30.0}
    board.move_by(X=-500, Y=2.5)
    assert board.wait("Y", "X", timeout=30) == {"X": 500, "Y": 32.5}


def test_a_limit_in_a_coordinated_move_stops_the_group(board):
    tellam.sim.clock_virtual()
    tellam.sim.set_input(0, "Y", "+ELS", True)
    try:
        board.move_to(X=100000, Y=3000)
        with pytest.raises(tellam.MotionError) as ended:
            board.wait("X", "Y", timeout=30)
    finally:
        tellam.sim.set_input(0, "Y", "+ELS", None)
    assert ended.value.reason == tellam.PLUS_LIMIT and str(ended.value).startswith("axis Y: move_to(X=100000, Y=3000)")
    assert board.axis("X").position < 100000 and not board.axis("X").status.moving


@pytest.mark.parametrize("during, raised", [
    (lambda b: b.stop_all(), None), (_thread.interrupt_main, KeyboardInterrupt), (None, tellam.MotionTimeout)])
def test_a_wait_on_jogs_ends_with_both_standing(board, during, raised):
    x, y = board.axis("X"), board.axis("Y")
    x.jog(+1, ramped=False)
    y.jog(-1, ramped=False)
    if during:
        threading.Timer(0.2, during, [board] if raised is None else []).start()
    if raised is None:
        assert board.wait("X", "Y", timeout=10) == {"X": x.position, "Y": y.position}
    else:
        with pytest.raises(raised):
            board.wait("X", "Y", timeout=10 if during else 0.2)
    assert x.position > 0 > y.position and not x.status.moving and not y.status.moving


@pytest.mark.parametrize("target, pulses", [(0.26, 26), (0.265, 27), (-0.265, -27), (0.004, 0)])
def test_a_target_in_units_lands_on_the_nearest_pulse(x, target, pulses):
    tellam.sim.clock_virtual()
    x.scale, x.unit = 100, "mm"
    x.move_to(target)
    assert x.wait(timeout=30) == x.position == pulses / 100
    x.scale = 1
    assert x.position == pulses and isinstance(x.position, int)


def test_speeds_round_to_whole_pulses_and_soft_limits_inwards(board, x):
    x.scale = 100
    x.set_speeds(5.005, 80.004, accel=0.1)  # 500.5 and 8000.4 pulses per second
    x.soft_limits = (-0.255, 0.255)  # -25.5 and 25.5 pulses
    assert x.soft_limits == (-0.25, 0.25)
    x.scale = 1
    assert board.settings()["X"] == {"fl": 501, "fh": 8000, "accel": 0.1, "contacts": x.contacts,
                                     "soft_limits": [-25, 25], "scale": 1, "unit": "pulse"}


def test_settings_go_through_a_file_to_another_board(tmp_path):
    path = tmp_path / "axes.json"
    tellam.sim.reset()
    with tellam.open_board() as board:
        settings = board.settings()
        settings["X"].update(fl=2, fh=64.5, accel=0.3, soft_limits=[-12.5, 40], scale=100, unit="mm",
                             contacts=dict(settings["X"]["contacts"], els="A", ols="A"))
        settings["Z"].update(scale=3, soft_limits=[-1, 2 / 3], fh=2500)
        board.apply(settings)
        tellam.save_settings(path, board)
        assert board.settings() == settings
    tellam.sim.reset()
    with tellam.open_board() as board:
        board.apply(tellam.load_settings(path))
        assert board.settings() == settings and board.axis("Z").soft_limits == (-1, 2 / 3)
        with pytest.raises(tellam.TellamError) as refused:
            board.axis("X").move_to(40.01)
        assert refused.value.code == tellam.MOTERR_SOFT_LIMIT


@pytest.mark.parametrize("change, axis, key", [
    (lambda s: s["Y"].pop("fl"), "Y", "'fl'"),
    (lambda s: s["Y"].update(speed=5), "Y", "'speed'"),
    (lambda s: s.update(Q=s["Y"]), "'Q'", ""),
    (lambda s: s["Y"].update(fh=400), "Y", "'fh'"),
    (lambda s: s["Y"].update(accel=0), "Y", "'accel'"),
    (lambda s: s["Y"]["contacts"].update(els="C"), "Y", "'contacts'"),
    (lambda s: s["Y"]["contacts"].pop("dls"), "Y", "'contacts'"),
    (lambda s: s["Y"].update(soft_limits=[5, 1]), "Y", "'soft_limits'"),
    (lambda s: s["Y"].update(soft_limits=[1, 2, 3]), "Y", "'soft_limits'"),
    (lambda s: s["Y"].update(scale=0), "Y", "'scale'"),
    (lambda s: s["Y"].update(scale=1000, fl=40), "Y", "'fl'"),  # 40000 pulses per second
    (lambda s: s["Y"].update(unit=""), "Y", "'unit'"),
])
def test_apply_checks_everything_before_it_writes(board, change, axis, key):
    settings = board.settings()
    settings["X"].update(fl=600, soft_limits=[-5, 5])  # good, and would be written first
    change(settings)
    tellam.sim.reset_trace()
    with pytest.raises(ValueError) as refused:
        board.apply(settings)
    assert axis in str(refused.value) and key in str(refused.value)
    assert tellam.sim.trace() == []
    assert board.settings()["X"]["fl"] == SPEEDS["fl"]


@pytest.mark.parametrize("forced, z_phase, timeout, during, reason, phase, words", [
    ({"-ELS": True}, False, 10, None, tellam.MINUS_LIMIT, "OLS search", "ran into the - limit (-ELS)"),
    ({"OLS": False}, False, 0.3, None, tellam.TIMEOUT, "OLS search", "found no origin sensor (OLS)"),
    ({"OLS": True, "Z": False}, True, 0.3, None, tellam.NO_Z_MARK, "Z mark search", "no Z mark followed"),
    ({"OLS": False}, True, 10, "SVALM", tellam.SERVO_ALARM, "origin return", "servo alarm (SVALM)"),
    ({"OLS": False}, False, 10, "stop", tellam.STOPPED, "OLS search", "was stopped"),
])
def test_a_failed_home_says_which_phase_and_why(x, forced, z_phase, timeout, during, reason, phase, words):
    for name, on in forced.items():
        tellam.sim.set_input(0, "X", name, on)
    x.home(z_phase=z_phase)
    if during:
        event = x.stop if during == "stop" else lambda: tellam.sim.set_input(0, "X", "SVALM", True)
        threading.Timer(0.2, event).start()
    try:
        with pytest.raises(tellam.HomingError) as failed:
            x.wait(timeout=timeout)
    finally:
        for name in list(forced) + ["SVALM"]:
            tellam.sim.set_input(0, "X", name, None)
    timed_out = reason in (tellam.TIMEOUT, tellam.NO_Z_MARK)
    assert (failed.value.reason, failed.value.phase) == (reason, phase) and not x.status.moving
    assert isinstance(failed.value, tellam.MotionTimeout) == isinstance(failed.value, TimeoutError) == timed_out
    assert failed.value.code == (tellam.ERROR_TIMEOUT if timed_out else 0)
    assert "failed in the " + phase in str(failed.value) and words in str(failed.value)


def test_the_watchdog_stops_a_script_that_stops_calling(board, x):
    with pytest.raises(tellam.WatchdogError) as tripped:
        with board.watchdog(0.05):
            x.move_by(3000)
            assert x.wait(timeout=10) == 3000  # the polls of a wait keep it fed
            x.jog(+1)
            time.sleep(0.3)  # no motion call
            x.position
    assert (tripped.value.code, tripped.value.function) == (tellam.MOTERR_WATCHDOG, "tlmmotion_GetStatus")
    # Stopped soon after the watchdog's 50 ms, not after the 300 ms slept.
    assert not x.status.moving and x.wait(timeout=1) == x.position < 3000 + 0.15 * SPEEDS["fh"]


def test_leaving_a_watchdog_block_by_an_exception_turns_it_off(board, x):
    with pytest.raises(RuntimeError):
        with board.watchdog(0.05):
            raise RuntimeError("the script failed")
    x.jog(+1)
    time.sleep(0.2)
    assert x.status.moving


@pytest.mark.parametrize("call", [
    lambda b: setattr(b.axis("X"), "soft_limits", (5, 1)),
    lambda b: setattr(b.axis("X"), "soft_limits", (1,)),
    lambda b: setattr(b.axis("X"), "soft_limits", "ab"),
    lambda b: setattr(b.axis("X"), "soft_limits", (0.5, 10)),  # no scale: whole pulses
    lambda b: (setattr(b.axis("X"), "scale", 100), setattr(b.axis("X"), "soft_limits", (0.001, 0.009))),
    lambda b: (setattr(b.axis("X"), "scale", 100), b.axis("X").set_speeds(0.004, 1, accel=0.1)),
    lambda b: (setattr(b.axis("X"), "scale", 100), b.axis("X").set_speeds(1, 327.665, accel=0.1)),
    lambda b: (setattr(b.axis("X"), "scale", 100), b.axis("X").move_by(0.004)),
    lambda b: (setattr(b.axis("X"), "scale", 100), b.axis("X").move_to(21474836.48)),
    lambda b: setattr(b.axis("X"), "scale", 0),
    lambda b: setattr(b.axis("X"), "scale", float("inf")),
    lambda b: setattr(b.axis("X"), "scale", True),
    lambda b: setattr(b.axis("X"), "unit", ""),
    lambda b: b.move_to(),
    lambda b: b.move_to(Q=1),
    lambda b: b.move_to(X=1, x=2),
    lambda b: b.move_to(X=1, Y=2 ** 31),
    lambda b: b.move_by(X=5, Y=0),
    lambda b: b.move_by(X=5, Y=3_000_000_000),
    lambda b: b.wait(),
    lambda b: b.wait("X", 0),
    lambda b: b.wait("X", timeout=-1),
    lambda b: b.apply([]),
    lambda b: b.watchdog(0),
    lambda b: b.watchdog(86401),
    lambda b: b.watchdog(float("nan")),
])
def test_bad_arguments_send_nothing(board, call):
    with pytest.raises(ValueError):
        call(board)
    assert tellam.sim.trace() == []

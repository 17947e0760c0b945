"""The tellam package on the native build's simulated libraries (TELLAM_LIBRARY_PATH names
build/native/lib): what a user sees of moves, limits, faults, exits and bad arguments."""
import _thread
import threading

import pytest

import tellam

X_MOVES = dict(fl=500, fh=8000, accel=0.05)


@pytest.fixture
def board():
    tellam.sim.reset()
    with tellam.open_board() as board:
        axis = board.axis("X")
        axis.init()
        axis.set_speeds(X_MOVES["fl"], X_MOVES["fh"], accel=X_MOVES["accel"])
        tellam.sim.reset_trace()
        yield board
    tellam.sim.clear_faults()


@pytest.fixture
def x(board):
    return board.axis("X")


def test_lists_the_simulated_board():
    tellam.sim.reset()
    boards = tellam.list_boards()
    assert len(boards) == 1 and boards[0].management_number == 0


def test_moves_reach_their_targets(x):
    tellam.sim.clock_virtual()
    x.move_by(3000)
    assert x.wait(timeout=30) == 3000 and x.reason == tellam.ARRIVED
    x.move_to(1000, ramped=False)
    assert x.wait(timeout=30) == 1000
    assert x.position == 1000 and not x.status.moving
    x.move_to(1000)  # already there: nothing starts, and the wait says so without an error
    assert x.wait(timeout=30) == 1000 and x.reason == tellam.IDLE


def test_a_forced_limit_stops_a_jog_and_shows_in_status(x):
    x.jog(+1)
    assert x.status.moving
    tellam.sim.set_input(0, "X", "+ELS", True)
    try:
        assert x.wait(timeout=10) == x.position  # the end a jog is for
        assert x.reason == tellam.PLUS_LIMIT
        status = x.status
        assert status.plus_limit and not status.minus_limit and not status.moving
    finally:
        tellam.sim.set_input(0, "X", "+ELS", None)


@pytest.mark.parametrize("start, limit, reason", [
    (lambda x: x.move_by(5000), "+ELS", tellam.PLUS_LIMIT),
    (lambda x: x.move_to(-5000), "-ELS", tellam.MINUS_LIMIT),
    (lambda x: x.home(), "-ELS", tellam.MINUS_LIMIT),
], ids=["move_by", "move_to", "home"])
def test_a_limit_ending_a_feed_or_a_home_is_an_error(board, x, start, limit, reason):
    tellam.sim.set_input(0, "X", limit, True)
    try:
        start(board.axis("X"))  # the board remembers what was started, for any Axis of X
        with pytest.raises(tellam.MotionError) as ended:
            x.wait(timeout=10)
        assert (ended.value.reason, ended.value.position, x.reason) == (reason, 0, reason)
        assert limit in str(ended.value) and not x.status.moving
    finally:
        tellam.sim.set_input(0, "X", limit, None)


@pytest.mark.parametrize("stop", [lambda b: b.axis("X").stop(), lambda b: b.stop_all()], ids=["stop", "stop_all"])
def test_a_stop_from_another_thread_ends_a_jog_as_meant(board, x, stop):
    x.jog(-1)
    threading.Timer(0.2, stop, [board]).start()
    assert x.wait(timeout=10) == x.position < 0 and x.reason == tellam.STOPPED


@pytest.mark.parametrize("start", [lambda x: x.jog(+1, ramped=False), lambda x: x.move_by(1000000)],
                         ids=["jog", "move_by"])
def test_a_servo_alarm_during_the_wait_stops_the_axis_at_once(x, start):
    start(x)
    threading.Timer(0.3, tellam.sim.set_input, [0, "X", "SVALM", True]).start()
    try:
        with pytest.raises(tellam.MotionError) as ended:
            x.wait(timeout=10)
        assert ended.value.reason == tellam.SERVO_ALARM and not x.status.moving
        assert 0 < ended.value.position == x.position < 3 * X_MOVES["fh"]  # 10 s would be 80000
    finally:
        tellam.sim.set_input(0, "X", "SVALM", None)


def test_set_contacts_changes_only_the_inputs_given(x):
    x.set_contacts(els="A", svalm="A")
    x.set_contacts(dls="A", svalm="B")
    assert x.contacts == dict(els="A", dls="A", ols="B", inpos="B", svalm="B")


def test_a_fault_becomes_a_tellam_error_with_its_code(x):
    tellam.sim.add_fault("fail", "WRITE_BYTE", status=0xC0000185)
    with pytest.raises(tellam.TellamError) as failure:
        x.move_by(100)
    assert failure.value.code == 1117  # ERROR_IO_DEVICE: the board did not answer
    assert failure.value.function == "tlmmotion_MoveBy"


def test_leaving_the_block_on_an_exception_leaves_no_axis_moving():
    tellam.sim.reset()
    with pytest.raises(RuntimeError):
        with tellam.open_board() as board:
            for name in "XY":
                axis = board.axis(name)
                axis.init()
                axis.jog(-1)
            raise RuntimeError("the script failed")
    board.close()  # closed already: nothing to do
    with tellam.open_board() as board:
        assert not any(board.axis(name).status.moving for name in "XYZUVW")


# The timeout is simulated time: 30 s of virtual time pass at once, and a frozen clock, which
# cannot wait, still lets the timeout come.
@pytest.mark.parametrize("clock, timeout", [
    (tellam.sim.clock_run, 0.1), (tellam.sim.clock_virtual, 30.0), (tellam.sim.clock_freeze, 0.1)])
def test_a_timeout_stops_the_axis(x, clock, timeout):
    x.jog(-1, ramped=False)
    clock()
    before = tellam.sim.tick_count()
    with pytest.raises(TimeoutError) as failure:
        x.wait(timeout=timeout)
    if clock is tellam.sim.clock_virtual:
        assert tellam.sim.tick_count() - before >= timeout * 1000
    tellam.sim.clock_run()
    assert isinstance(failure.value, tellam.MotionError) and failure.value.reason == tellam.TIMEOUT
    assert failure.value.code == tellam.ERROR_TIMEOUT and failure.value.position == x.position
    assert not x.status.moving


def test_ctrl_c_during_a_wait_stops_the_axis_before_it_goes_on(x):
    x.jog(+1, ramped=False)
    threading.Timer(0.2, _thread.interrupt_main).start()
    with pytest.raises(KeyboardInterrupt):
        x.wait(timeout=30)
    assert not x.status.moving


@pytest.mark.parametrize("call", [
    lambda b: b.axis("Q"),
    lambda b: b.axis(6),
    lambda b: b.axis("X").jog(2),
    lambda b: b.axis("X").jog(0),
    lambda b: b.axis("X").jog(True),
    lambda b: b.axis("X").set_speeds(0, 100, accel=0.1),
    lambda b: b.axis("X").set_speeds(600, 500, accel=0.1),
    lambda b: b.axis("X").set_speeds(500, 32767, accel=0.1),
    lambda b: b.axis("X").set_speeds(500, 2 ** 32 + 5000, accel=0.1),  # not FH 5000
    lambda b: b.axis("X").set_speeds(500.5, 600, accel=0.1),
    lambda b: b.axis("X").set_speeds(500, 600, accel=0.001),
    lambda b: b.axis("X").set_speeds(500, 600, accel=10000),
    lambda b: b.axis("X").set_speeds(500, 600, accel=float("nan")),
    lambda b: b.axis("X").set_speeds(500, 600, accel=float("inf")),
    lambda b: b.axis("X").move_by(0),
    lambda b: b.axis("X").move_by(3_000_000_000),  # not 1294967296 pulses the other way
    lambda b: b.axis("X").move_by(-2 ** 31),
    lambda b: b.axis("X").move_by(False),
    lambda b: b.axis("X").move_to(2 ** 31),
    lambda b: b.axis("X").move_to(-2 ** 31 - 1),
    lambda b: b.axis("X").move_to("100"),
    lambda b: b.axis("X").wait(timeout=-1),
    lambda b: b.axis("X").wait(timeout=86401),
    lambda b: b.axis("X").wait(timeout=float("nan")),
    lambda b: b.axis("X").set_contacts(els="C"),
    lambda b: b.axis("X").set_contacts(ols="A", dls=True),
])
def test_bad_arguments_send_nothing(call):
    tellam.sim.reset()
    with tellam.open_board() as board:
        tellam.sim.reset_trace()
        with pytest.raises(ValueError):
            call(board)
        assert tellam.sim.trace() == []

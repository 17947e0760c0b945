"""The tellam package on the native build's simulated libraries (TELLAM_LIBRARY_PATH names
build/native/lib): what a user sees of moves, limits, faults, exits and bad arguments."""
import _thread
import threading

import pytest

import tellam

X_MOVES = dict(fl=500, fh=8000, accel=0.05)


@pytest.fixture
def x():
    tellam.sim.reset()
    with tellam.open_board() as board:
        axis = board.axis("X")
        axis.init()
        axis.set_speeds(X_MOVES["fl"], X_MOVES["fh"], accel=X_MOVES["accel"])
        tellam.sim.reset_trace()
        yield axis
    tellam.sim.clear_faults()


def test_lists_the_simulated_board():
    tellam.sim.reset()
    boards = tellam.list_boards()
    assert len(boards) == 1 and boards[0].management_number == 0


def test_moves_reach_their_targets(x):
    x.move_by(3000)
    assert x.wait(timeout=30) == 3000 and x.reason == tellam.ARRIVED
    x.move_to(1000, ramped=False)
    assert x.wait(timeout=30) == 1000
    assert x.position == 1000 and not x.status.moving


def test_a_forced_limit_stops_a_jog_and_shows_in_status(x):
    x.jog(+1)
    assert x.status.moving
    tellam.sim.set_input(0, "X", "+ELS", True)
    try:
        x.wait(timeout=10)
        assert x.reason == tellam.PLUS_LIMIT
        status = x.status
        assert status.plus_limit and not status.minus_limit and not status.moving
    finally:
        tellam.sim.set_input(0, "X", "+ELS", None)


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
    with tellam.open_board() as board:
        assert not any(board.axis(name).status.moving for name in "XYZUVW")


def test_a_timeout_stops_the_axis(x):
    x.jog(-1, ramped=False)
    with pytest.raises(tellam.TellamError) as failure:
        x.wait(timeout=0.1)
    assert failure.value.code == tellam.ERROR_TIMEOUT
    assert not x.status.moving


def test_ctrl_c_during_a_wait_stops_the_axis_before_it_goes_on(x):
    x.jog(+1, ramped=False)
    threading.Timer(0.2, _thread.interrupt_main).start()
    with pytest.raises(KeyboardInterrupt):
        x.wait(timeout=30)
    assert not x.status.moving


@pytest.mark.parametrize("call, error", [
    (lambda b: b.axis("Q"), ValueError),
    (lambda b: b.axis(6), ValueError),
    (lambda b: b.axis("X").jog(2), ValueError),
    (lambda b: b.axis("X").set_speeds(0, 100, accel=0.1), tellam.TellamError),
    (lambda b: b.axis("X").set_speeds(600, 500, accel=0.1), tellam.TellamError),
    (lambda b: b.axis("X").set_speeds(500, 600, accel=0.001), tellam.TellamError),
    (lambda b: b.axis("X").move_by(0), tellam.TellamError),
])
def test_bad_arguments_send_nothing(call, error):
    tellam.sim.reset()
    with tellam.open_board() as board:
        tellam.sim.reset_trace()
        with pytest.raises(error):
            call(board)
        assert tellam.sim.trace() == []

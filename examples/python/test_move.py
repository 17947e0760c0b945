"""A pytest of move_axis.py on the simulated board: no machine needed, and in virtual time,
where the clock moves only by the waits, so the moves take no real time.

    TELLAM_LIBRARY_PATH=<folder of the simulated libraries> python -m pytest test_move.py
"""
import pytest

import move_axis
import tellam

pytestmark = pytest.mark.skipif(not tellam.simulated(), reason="needs the simulated tellamio library")


@pytest.fixture(autouse=True)
def virtual_time():
    tellam.sim.reset()
    tellam.sim.clock_virtual()
    yield
    tellam.sim.clock_run()


def test_moves_there_and_back():
    assert move_axis.move("Y", 1200) == (1200, 0)


def test_an_active_limit_keeps_the_axis_where_it_is():
    tellam.sim.set_input(0, "X", "+ELS", True)
    try:
        with pytest.raises(tellam.MotionError) as ended:
            move_axis.move("X", 1200)
        assert ended.value.reason == tellam.PLUS_LIMIT
        assert ended.value.position == 0  # no pulse towards an active limit
    finally:
        tellam.sim.set_input(0, "X", "+ELS", None)


def test_a_jog_covers_what_its_speed_gives_in_the_time_waited():
    with tellam.open_board() as board:
        x = board.axis("X")
        x.init()
        x.set_speeds(500, 5000, accel=0.2)
        x.jog(+1, ramped=False)  # at FL, 500 pulses per second
        tellam.sim.sleep(2.0)  # two seconds of the board's time; time.sleep would not move it
        assert x.position == 1000
        x.stop(immediate=True)
        assert x.wait(timeout=1) == 1000

"""A pytest of move_axis.py on the simulated board: no machine needed. The fixture tellam_sim
of the tellam package's pytest plugin starts each test on a fresh simulator in virtual time,
where the clock moves only by the waits, so the moves take no real time.

    python -m pytest test_move.py
    python -m pytest test_move.py --tellam-update-traces   # writes traces/*.txt anew
"""
import pytest

import move_axis
import tellam

pytestmark = pytest.mark.usefixtures("tellam_sim")


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


def test_the_speeds_go_to_the_board_as_saved(tellam_sim):
    with tellam.open_board() as board:
        y = board.axis("Y")
        y.init()
        tellam_sim.reset_trace()  # what set_speeds sends, and no more
        y.set_speeds(500, 5000, accel=0.2)
    tellam_sim.assert_trace("traces/set_speeds.txt")  # the requests, as tlmsimctl trace shows them

"""A pytest of move_xy.py on the simulated board, in virtual time (as test_move.py).

    python -m pytest test_move_xy.py
"""
import pytest

import move_xy
import tellam

pytestmark = pytest.mark.usefixtures("tellam_sim")


def test_moves_to_the_point_and_back():
    assert move_xy.move(8000, -3000) == ({"X": 8000, "Y": -3000}, {"X": 0, "Y": 0})


@pytest.mark.parametrize("x, y", [(20001, 0), (0, -20001)])
def test_a_point_outside_the_soft_limits_moves_nothing(x, y):
    with pytest.raises(tellam.TellamError) as refused:
        move_xy.move(x, y)
    assert refused.value.code == tellam.MOTERR_SOFT_LIMIT
    with tellam.open_board() as board:
        assert (board.axis("X").position, board.axis("Y").position) == (0, 0)

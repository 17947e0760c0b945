"""Moves axes X and Y of the first Tellam board together to a point and back, inside soft
limits.

    python move_xy.py [X Y]

Without a board: set TELLAM_SIMULATED=1 for the simulated library (on Linux it always is).
A point outside the soft limits is refused before anything moves; a move that does not
arrive ends the program with the reason.
"""
import sys

import tellam

SOFT_LIMITS = (-20000, 20000)  # the travel allowed both axes, in pulses


def move(x=8000, y=3000):
    with tellam.open_board() as board:  # leaving it, however, stops the axes and closes the board
        for name in "XY":
            axis = board.axis(name)
            axis.init()
            axis.servo_on()
            axis.set_speeds(500, 5000, accel=0.2)
            axis.soft_limits = SOFT_LIMITS
        board.move_to(X=x, Y=y)  # both arrive at the same time
        there = board.wait("X", "Y", timeout=30)
        board.move_to(X=0, Y=0)
        back = board.wait("X", "Y", timeout=30)
        return there, back


if __name__ == "__main__":
    point = [int(value) for value in sys.argv[1:3]] or [8000, 3000]
    try:
        there, back = move(*point)
    except tellam.MotionError as ended:  # a limit, the servo alarm, the timeout: the axes stand
        sys.exit(str(ended))
    except tellam.TellamError as refused:
        if refused.code != tellam.MOTERR_SOFT_LIMIT:
            raise
        sys.exit("(%d, %d) lies outside the soft limits %s" % (point[0], point[1], SOFT_LIMITS))
    print("moved to %s, back at %s" % (there, back))

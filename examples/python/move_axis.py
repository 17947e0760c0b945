"""Moves one axis of the first Tellam board and back, as examples/move_axis.c does.

    python move_axis.py [X|Y|Z|U|V|W [PULSES]]

Without a board: set TELLAM_SIMULATED=1 for the simulated library (on Linux it always is).
A move that does not arrive (a limit, the servo alarm, the timeout) ends the program with the
reason.
"""
import sys

import tellam


def move(axis_name="X", pulses=5000):
    with tellam.open_board() as board:  # leaving it, however, stops the axis and closes the board
        axis = board.axis(axis_name)
        axis.init()
        axis.servo_on()
        axis.set_speeds(500, 5000, accel=0.2)
        axis.move_by(pulses)
        there = axis.wait(timeout=30)
        axis.move_to(0)
        back = axis.wait(timeout=30)
        return there, back


if __name__ == "__main__":
    name = sys.argv[1] if len(sys.argv) > 1 else "X"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 5000
    try:
        there, back = move(name, count)
    except tellam.MotionError as ended:  # a limit, the servo alarm, the timeout: the axis stands
        sys.exit(str(ended))
    print("axis %s: moved to %d, back at %d" % (name, there, back))

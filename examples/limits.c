/* limits: moves one axis of the first Tellam board until a limit input stops it, and says
 * which one, with the motion library (tellamio_motion.dll).
 *
 *   limits [AXIS [+|-]]     AXIS: X Y Z U V W (default X); the direction (default +)
 *
 * The axis runs at up to 20000 pulses per second for at most a minute. A limit switch (+ELS
 * or -ELS) in the direction of travel stops it on the board; the program then prints
 * "axis X stopped by +ELS at 123456". Exit code 0 when a limit stopped the axis, 1 when
 * anything else ended the move (the axis is stopped first in every case).
 *
 * On the simulated library (bin/sim/tellamio.dll), make the limit come on from another
 * window while it runs: tlmsimctl --process PID input 0 X +ELS on */
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "tellamio_motion.h"

static const char AXIS_NAMES[] = "XYZUVW";

static int Fail(const char* call) {
    DWORD error = GetLastError(); /* before anything else can change it */
    fprintf(stderr, "%s failed: error 0x%lx\n", call, (unsigned long)error);
    return 1;
}

int main(int argc, char** argv) {
    const char* name;
    WORD axis = 0;
    LONG direction = 1, position = 0, reason = 0;
    DeviceInfo any = {-1, -1, -1, -1, 0, -1}; /* the board with management number 0 */
    TLMIO_HANDLE board;
    TLMMOTION motion;
    int status = 1;

    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc > 1) {
        name = argv[1][0] && !argv[1][1] ? strchr(AXIS_NAMES, toupper((unsigned char)argv[1][0])) : NULL;
        if (name == NULL || (argc > 2 && strcmp(argv[2], "+") != 0 && strcmp(argv[2], "-") != 0) || argc > 3) {
            fprintf(stderr, "usage: limits [X|Y|Z|U|V|W [+|-]]\n");
            return 2;
        }
        axis = (WORD)(name - AXIS_NAMES);
        direction = argc > 2 && argv[2][0] == '-' ? -1 : 1;
    }
    board = tlmio_OpenDevice(&any);
    if (board == TLMIO_INVALID_HANDLE) return Fail("tlmio_OpenDevice");
    if (!tlmmotion_Open(board, &motion)) {
        status = Fail("tlmmotion_Open");
    } else {
        if (!tlmmotion_Init(motion, axis) || !tlmmotion_SetSpeeds(motion, axis, 500, 20000, 0.2))
            status = Fail("setting the axis up");
        else if (!tlmmotion_Jog(motion, axis, direction, TRUE))
            status = Fail("tlmmotion_Jog");
        else if (!tlmmotion_Wait(motion, axis, 60000, &position, &reason))
            status = Fail("tlmmotion_Wait");
        else if (reason == TLMMOTION_PLUS_LIMIT || reason == TLMMOTION_MINUS_LIMIT) {
            printf("axis %c stopped by %s at %ld\n", AXIS_NAMES[axis], reason == TLMMOTION_PLUS_LIMIT ? "+ELS" : "-ELS",
                   (long)position);
            status = 0;
        } else {
            printf("axis %c stopped at %ld without reaching a limit (reason %ld)\n", AXIS_NAMES[axis], (long)position,
                   (long)reason);
        }
        /* Stops the axis if it still moves, whatever happened above. */
        if (!tlmmotion_Close(motion)) status = Fail("tlmmotion_Close");
    }
    if (!tlmio_CloseDevice(board)) status = Fail("tlmio_CloseDevice");
    return status;
}

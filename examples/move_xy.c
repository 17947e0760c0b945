/* move_xy: moves axes X and Y of the first Tellam board together to a point, inside soft
 * limits, with the motion library (tellamio_motion.dll).
 *
 *   move_xy [X Y]     the point in pulses (default 4000 1500)
 *
 * The travel allowed is 0..10000 pulses on both axes: a point outside it is refused before
 * anything moves. X and Y start together and arrive together; the program then prints
 * "X at 4000, Y at 1500". Exit code 0 when both arrived, 1 otherwise (both are stopped first),
 * 2 for bad arguments. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "tellamio_motion.h"

#define TRAVEL_MIN 0
#define TRAVEL_MAX 10000

static int Fail(const char* call) {
    DWORD error = GetLastError(); /* before anything else can change it */
    if (error == MOTERR_SOFT_LIMIT)
        fprintf(stderr, "%s: the point lies outside the travel %d..%d\n", call, TRAVEL_MIN, TRAVEL_MAX);
    else
        fprintf(stderr, "%s failed: error 0x%lx\n", call, (unsigned long)error);
    return 1;
}

static int MoveXY(TLMMOTION motion, const LONG* point) {
    static const WORD axes[2] = {0, 1};
    LONG positions[2], reasons[2];
    int i;
    for (i = 0; i < 2; ++i) {
        if (!tlmmotion_Init(motion, axes[i])) return Fail("tlmmotion_Init");
        if (!tlmmotion_SetSoftLimits(motion, axes[i], TRAVEL_MIN, TRAVEL_MAX)) return Fail("tlmmotion_SetSoftLimits");
        if (!tlmmotion_ServoOn(motion, axes[i], TRUE)) return Fail("tlmmotion_ServoOn");
    }
    /* X keeps its speeds (500 to 5000 pps, 1 s ramps); Y's are scaled to arrive with it. */
    if (!tlmmotion_MoveAxesTo(motion, 2, axes, point, TRUE)) return Fail("tlmmotion_MoveAxesTo");
    if (!tlmmotion_WaitAxes(motion, 2, axes, 60000, positions, reasons)) return Fail("tlmmotion_WaitAxes");
    printf("X at %ld, Y at %ld\n", (long)positions[0], (long)positions[1]);
    for (i = 0; i < 2; ++i)
        if (reasons[i] != TLMMOTION_ARRIVED && !(reasons[i] == TLMMOTION_IDLE && positions[i] == point[i])) {
            fprintf(stderr, "axis %c did not arrive (reason %ld)\n", "XY"[i], (long)reasons[i]);
            return 1;
        }
    return 0;
}

int main(int argc, char** argv) {
    LONG point[2] = {4000, 1500};
    DeviceInfo first = {-1, -1, -1, -1, 0, -1}; /* the board with management number 0 */
    TLMIO_HANDLE board;
    TLMMOTION motion;
    int status, i;
    char* end;

    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc != 1 && argc != 3) {
        fprintf(stderr, "usage: move_xy [X Y]\n");
        return 2;
    }
    for (i = 1; i < argc; ++i) {
        long value = strtol(argv[i], &end, 10);
        if (*end != '\0' || end == argv[i] || labs(value) > 1000000000L) {
            fprintf(stderr, "usage: move_xy [X Y]\n");
            return 2;
        }
        point[i - 1] = (LONG)value;
    }
    board = tlmio_OpenDevice(&first);
    if (board == TLMIO_INVALID_HANDLE) return Fail("tlmio_OpenDevice (no Tellam board?)");
    if (!tlmmotion_Open(board, &motion)) {
        status = Fail("tlmmotion_Open");
    } else {
        status = MoveXY(motion, point);
        if (status != 0) tlmmotion_StopAll(motion);
        if (!tlmmotion_Close(motion)) status = Fail("tlmmotion_Close");
    }
    if (!tlmio_CloseDevice(board)) status = Fail("tlmio_CloseDevice");
    return status;
}

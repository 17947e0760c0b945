/* A program built the MSVC way (clang for *-windows-msvc, lld-link, tellamio.lib), without a C
 * runtime: it takes the address of every export, so it imports all twenty, and when run it
 * opens the first board, writes register 1 of axis Y, reads it back and the axis status 1,
 * and closes the board.
 * Its exit code is 0, or the number of the step that failed. Each call goes through the
 * import library's declaration, so a wrong calling convention or argument size shows here. */
#include "tellamio.h"

void* const g_exports[] = {
    (void*)tlmio_GetDeviceCount, (void*)tlmio_GetDeviceInfo, (void*)tlmio_OpenDeviceID,  (void*)tlmio_OpenDevice,
    (void*)tlmio_CloseDevice,    (void*)tlmio_CmdWrite,      (void*)tlmio_DousaWrite,    (void*)tlmio_SeigyoWrite,
    (void*)tlmio_status1Read,    (void*)tlmio_status2Read,   (void*)tlmio_intstatusRead, (void*)tlmio_regRead,
    (void*)tlmio_ElstWrite,      (void*)tlmio_ElstRead,      (void*)tlmio_CmpcWrite,     (void*)tlmio_CmpcRead,
    (void*)tlmio_boardIDRead,    (void*)tlmio_IDNumberRead,  (void*)tlmio_INTRDRead,     (void*)tlmio_INTRst,
};

int start(void) {
    DeviceInfo boards[4];
    DWORD count = 4, value = 0;
    BYTE status = 0xFF;
    TLMIO_HANDLE board;
    int failed = 0;

    if (tlmio_GetDeviceCount(1) == 0) return 1;
    if (!tlmio_GetDeviceInfo(&count, boards) || count == 0) return 2;
    board = tlmio_OpenDevice(&boards[0]);
    if (board == TLMIO_INVALID_HANDLE) return 3;
    if (!tlmio_CmdWrite(board, 1, 0xC1, 1, 0x1234))
        failed = 4;
    else if (!tlmio_regRead(board, 1, 0x81, &value) || value != 0x1234)
        failed = 5;
    else if (!tlmio_status1Read(board, 1, &status) || status == 0xFF)
        failed = 6;
    if (!tlmio_CloseDevice(board) && !failed) failed = 7;
    return failed;
}

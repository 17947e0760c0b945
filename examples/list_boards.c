/* list_boards: prints every Tellam board the driver has found - its description from the
 * device table, then the board ID and the ID number read from the board itself.
 *
 *   list_boards
 *
 * Exit code 0 when at least one board was listed, 1 when there is none or a call failed
 * (the failed call and its GetLastError value are printed). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "tellamio.h"

static int Fail(const char* call) {
    DWORD error = GetLastError(); /* before anything else can change it */
    fprintf(stderr, "%s failed: error 0x%lx\n", call, (unsigned long)error);
    return 1;
}

int main(void) {
    DWORD count, i;
    DeviceInfo* boards;
    int status = 0;

    setvbuf(stdout, NULL, _IONBF, 0); /* each line at once, also into a file or pipe */
    /* 0 is a success when the driver has found no board, and a failure when it is not
     * loaded (error 0x2): only a last error set by the call tells them apart. */
    SetLastError(0);
    count = tlmio_GetDeviceCount(1);
    if (count == 0) {
        fprintf(stderr, "no Tellam board found: error 0x%lx\n", (unsigned long)GetLastError());
        return 1;
    }
    boards = (DeviceInfo*)malloc(count * sizeof(DeviceInfo));
    if (boards == NULL) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    /* In: the room of the array; out: the number of records stored. */
    if (!tlmio_GetDeviceInfo(&count, boards)) {
        free(boards);
        return Fail("tlmio_GetDeviceInfo");
    }

    printf("%lu board(s)\n", (unsigned long)count);
    printf("board  bus  device  I/O     IRQ  number  board ID  ID number\n");
    for (i = 0; i < count; ++i) {
        DeviceInfo* d = &boards[i];
        TLMIO_HANDLE board;
        BYTE boardId = 0;
        BYTE idNumber[8] = {0};
        int k;

        printf("%5lu  %3ld  %6ld  0x%04lX  %3ld  %6ld", (unsigned long)i, (long)d->BusNumber, (long)d->DeviceNumber,
               (unsigned long)d->IoAddress, (long)d->IrqNumber, (long)d->ManagementNumber);
        /* Board ID and ID number come from the board's ports: open it for a moment. */
        board = tlmio_OpenDevice(d);
        if (board == TLMIO_INVALID_HANDLE) {
            printf("\n");
            status = Fail("tlmio_OpenDevice");
            continue;
        }
        /* A read answered with no byte fails without a system error: start from 0. */
        SetLastError(0);
        if (!tlmio_boardIDRead(board, &boardId)) {
            printf("\n");
            status = Fail("tlmio_boardIDRead");
        } else if (SetLastError(0), !tlmio_IDNumberRead(board, idNumber)) {
            printf("\n");
            status = Fail("tlmio_IDNumberRead");
        } else {
            printf("  %8u  ", (unsigned)boardId);
            for (k = 0; k < 8; ++k) printf("%02X", (unsigned)idNumber[k]);
            printf("\n");
        }
        if (!tlmio_CloseDevice(board)) status = Fail("tlmio_CloseDevice");
    }
    free(boards);
    return status;
}

/* Calls every export, so that the link binds each of them by its ordinal. */
#include "tellamio.h"

int main(void) {
    DeviceInfo info = {-1, -1, -1, -1, 0, -1};
    DWORD count = 1, value;
    BYTE b, id[8];
    TLMIO_HANDLE h;
    if (tlmio_GetDeviceCount(1) == 0 || !tlmio_GetDeviceInfo(&count, &info)) return 1;
    h = tlmio_OpenDeviceID(&info);
    if (h == TLMIO_INVALID_HANDLE) h = tlmio_OpenDevice(&info);
    tlmio_CmdWrite(h, 0, 0x09, 0, 0);
    tlmio_DousaWrite(h, 0, 0);
    tlmio_SeigyoWrite(h, 0, 0);
    tlmio_status1Read(h, 0, &b);
    tlmio_status2Read(h, 0, &b);
    tlmio_intstatusRead(h, 0, &b);
    tlmio_regRead(h, 0, 0x89, &value);
    tlmio_ElstWrite(h, 0);
    tlmio_ElstRead(h, &b);
    tlmio_CmpcWrite(h, 0);
    tlmio_CmpcRead(h, &b);
    tlmio_boardIDRead(h, &b);
    tlmio_IDNumberRead(h, id);
    tlmio_INTRDRead(h, &b);
    tlmio_INTRst(h);
    return tlmio_CloseDevice(h) ? 0 : 1;
}

/* A program built the MSVC way (clang for *-windows-msvc, lld-link, tellamio.lib): it takes
 * the address of every export, so it imports all twenty. No C runtime. */
#include "tellamio.h"

void* const g_exports[] = {
    (void*)tlmio_GetDeviceCount, (void*)tlmio_GetDeviceInfo, (void*)tlmio_OpenDeviceID,  (void*)tlmio_OpenDevice,
    (void*)tlmio_CloseDevice,    (void*)tlmio_CmdWrite,      (void*)tlmio_DousaWrite,    (void*)tlmio_SeigyoWrite,
    (void*)tlmio_status1Read,    (void*)tlmio_status2Read,   (void*)tlmio_intstatusRead, (void*)tlmio_regRead,
    (void*)tlmio_ElstWrite,      (void*)tlmio_ElstRead,      (void*)tlmio_CmpcWrite,     (void*)tlmio_CmpcRead,
    (void*)tlmio_boardIDRead,    (void*)tlmio_IDNumberRead,  (void*)tlmio_INTRDRead,     (void*)tlmio_INTRst,
};

int start(void) { return g_exports[0] != 0; }

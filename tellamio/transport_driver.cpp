// The transport to the board's kernel driver: the device calls of kernel32.
#include "transport.h"

static HANDLE OpenDevice(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CreateFileA(name, access, share, NULL, disposition, flags, NULL);
}

static BOOL SendToDriver(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    *returned = 0;
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, NULL);
}

static BOOL CloseDevice(HANDLE device) { return CloseHandle(device); }

const Transport g_transport = {OpenDevice, SendToDriver, CloseDevice};

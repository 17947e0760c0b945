// The one way from the library to the board's driver. Each build of the library links one
// transport, which defines g_transport:
//   transport_driver.cpp  the kernel driver, through CreateFileA, DeviceIoControl and
//                         CloseHandle (tellamio.dll; the native test library, where the
//                         kernel32 stand-in answers them)
//   transport_sim.cpp     the board and driver model inside the library, on the real clock
//                         (the simulated tellamio.dll and the native shared library)
// The rest of the library is the same for both and knows no other way to the board.
#pragma once

#include <windows.h>

struct Transport {
    // Opens a driver device by its "\\.\NAME" path, with CreateFileA's access, share mode,
    // creation disposition and flags. Returns the device handle, or INVALID_HANDLE_VALUE
    // with the reason in the last-error value (ERROR_FILE_NOT_FOUND: no driver owns the name).
    HANDLE (*open)(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
    // Sends one buffered control request on an open device and returns once it is complete.
    // Sets *returned to the byte count of the reply (0 when nothing came back); returns
    // nonzero on success, or 0 with the driver's reason in the last-error value.
    BOOL (*request)(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // Closes a handle that open returned; nonzero on success.
    BOOL (*close)(HANDLE device);
};

extern const Transport g_transport;

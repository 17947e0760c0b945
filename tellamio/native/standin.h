// Steering and observing the native kernel32 stand-in from tests and benchmarks.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "driver.h"
#include "windows.h"

namespace standin {

struct CreateFileCall {
    std::string name;
    DWORD access;
    DWORD share;
    const void* security;
    DWORD disposition;
    DWORD flags;
    HANDLE templateFile;
    bool succeeded;
};

// Back to a fresh process: the driver with one six-axis board, no open files, no trace,
// no faults, NT family, driver loaded, the clock at 0, no recorded calls.
void Reset();

// The simulated driver behind every device name.
tlmsim::Driver& Driver();

// Virtual time handed to the driver with every request.
void SetNow(uint64_t nowNs);

// GetVersion reports the Windows 9x family when true.
void SetWindows9x(bool windows9x);

// With false, CreateFileA finds no driver (ERROR_FILE_NOT_FOUND).
void SetDriverLoaded(bool loaded);

// With true, the driver answers the calls of several threads one at a time (off after Reset).
void SetSerialized(bool serialized);

// Hooks that answer in place of the driver model (both cleared by Reset). OpenHook decides
// whether CreateFileA succeeds (false: it fails with *error); RequestHook answers
// DeviceIoControl on an open handle: it fills at most outSize bytes of `out`, sets *returned,
// and returns false with *error for a failed request.
typedef bool (*OpenHook)(const char* name, DWORD* error);
typedef bool (*RequestHook)(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                            DWORD* error);
void SetHooks(OpenHook open, RequestHook request);

// Every CreateFileA call since Reset, in order.
const std::vector<CreateFileCall>& CreateFileCalls();

// Device handles opened through CreateFileA and not closed yet.
uint32_t OpenHandles();

}  // namespace standin

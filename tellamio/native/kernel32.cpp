#include <stdarg.h>
#include <stdio.h>

#include <sched.h>
#include <time.h>

#include <mutex>

#include "standin.h"

namespace {

constexpr uint32_t kFileCapacity = 70000;  // room for every board index the library can give out
constexpr uintptr_t kHandleBase = 0x1000;  // handle = kHandleBase + file slot

tlmsim::File g_files[kFileCapacity];
tlmsim::Driver g_driver;
uint64_t g_nowNs;
bool g_windows9x;
bool g_driverLoaded = true;
std::vector<standin::CreateFileCall> g_createFileCalls;
thread_local DWORD g_lastError;
// The driver model answers one request at a time, as the kernel's device queue would; the
// lock is taken only when a test calls from several threads, so that single-threaded
// measurements see the bare cost.
bool g_serialize;
std::mutex g_driverLock;
standin::OpenHook g_openHook;
standin::RequestHook g_requestHook;

struct DriverLock {
    bool held;
    DriverLock() : held(g_serialize) {
        if (held) g_driverLock.lock();
    }
    ~DriverLock() {
        if (held) g_driverLock.unlock();
    }
};

bool SlotOf(HANDLE handle, uint32_t* slot) {
    uintptr_t h = reinterpret_cast<uintptr_t>(handle);
    if (h < kHandleBase || h - kHandleBase >= kFileCapacity) return false;
    *slot = static_cast<uint32_t>(h - kHandleBase);
    return g_files[*slot].device != tlmsim::kDeviceNone;
}

struct Init {
    Init() { standin::Reset(); }
} g_init;

}  // namespace

namespace standin {

void Reset() {
    tlmsim::DriverInit(&g_driver, g_files, kFileCapacity, 0);
    g_nowNs = 0;
    g_windows9x = false;
    g_driverLoaded = true;
    g_serialize = false;
    g_openHook = nullptr;
    g_requestHook = nullptr;
    g_createFileCalls.clear();
}

tlmsim::Driver& Driver() { return g_driver; }
void SetNow(uint64_t nowNs) { g_nowNs = nowNs; }
void SetWindows9x(bool windows9x) { g_windows9x = windows9x; }
void SetDriverLoaded(bool loaded) { g_driverLoaded = loaded; }
void SetSerialized(bool serialized) { g_serialize = serialized; }
void SetHooks(OpenHook open, RequestHook request) {
    g_openHook = open;
    g_requestHook = request;
}
const std::vector<CreateFileCall>& CreateFileCalls() { return g_createFileCalls; }
uint32_t OpenHandles() { return g_driver.openFiles; }

DWORD Win32ErrorFromStatus(int32_t status) {
    switch (static_cast<uint32_t>(status)) {
        case 0xC0000001: return 31;    // STATUS_UNSUCCESSFUL
        case 0xC000000D: return 87;    // STATUS_INVALID_PARAMETER
        case 0xC000000E: return 433;   // STATUS_NO_SUCH_DEVICE
        case 0xC0000010: return 1;     // STATUS_INVALID_DEVICE_REQUEST
        case 0xC0000022: return 5;     // STATUS_ACCESS_DENIED
        case 0xC0000023: return 122;   // STATUS_BUFFER_TOO_SMALL
        case 0xC0000034: return 2;     // STATUS_OBJECT_NAME_NOT_FOUND
        case 0xC000009A: return 1450;  // STATUS_INSUFFICIENT_RESOURCES
        case 0xC00000A3: return 21;    // STATUS_DEVICE_NOT_READY
        case 0xC00000B5: return 121;   // STATUS_IO_TIMEOUT
        case 0xC0000185: return 1117;  // STATUS_IO_DEVICE_ERROR
    }
    // Codes with the customer bit pass through unchanged.
    return static_cast<uint32_t>(status) & 0x20000000u ? static_cast<uint32_t>(status) : 317;
}

}  // namespace standin

extern "C" {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    DriverLock lock;
    standin::CreateFileCall call{name ? name : "", access, share, security, disposition, flags, templateFile, false};
    HANDLE result = INVALID_HANDLE_VALUE;
    int32_t device;
    uint32_t slot;
    DWORD error = 0;
    if (g_openHook != nullptr) {
        // The hook decides; a handle it lets through is a control-device file of the model,
        // so that open handles are still counted.
        if (!g_openHook(call.name.c_str(), &error))
            g_lastError = error;
        else if (tlmsim::DriverOpen(&g_driver, tlmsim::kDeviceControl, &slot) == tlmsim::kStatusSuccess) {
            result = reinterpret_cast<HANDLE>(kHandleBase + slot);
            call.succeeded = true;
        } else {
            g_lastError = ERROR_NOT_ENOUGH_MEMORY;
        }
    } else if (!g_driverLoaded || name == nullptr || !tlmsim::DeviceFromName(name, &device)) {
        g_lastError = ERROR_FILE_NOT_FOUND;
    } else {
        int32_t status = tlmsim::DriverOpen(&g_driver, device, &slot);
        if (status == tlmsim::kStatusSuccess) {
            result = reinterpret_cast<HANDLE>(kHandleBase + slot);
            call.succeeded = true;
        } else {
            g_lastError = standin::Win32ErrorFromStatus(status);
        }
    }
    g_createFileCalls.push_back(call);
    return result;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, DWORD* returned,
                     LPOVERLAPPED) {
    DriverLock lock;
    uint32_t slot;
    if (!SlotOf(device, &slot)) {
        g_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (g_requestHook != nullptr) {
        DWORD count = 0, error = 0;
        bool ok = g_requestHook(code, in, inSize, out, outSize, &count, &error);
        if (returned) *returned = count;
        if (!ok) g_lastError = error;
        return ok ? TRUE : FALSE;
    }
    uint32_t count = 0;
    int32_t status = tlmsim::DriverIoctl(&g_driver, slot, code, in, inSize, out, outSize, &count, g_nowNs);
    if (returned) *returned = count;
    if (status != tlmsim::kStatusSuccess) {
        g_lastError = standin::Win32ErrorFromStatus(status);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    DriverLock lock;
    uint32_t slot;
    if (!SlotOf(handle, &slot)) {
        g_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    tlmsim::DriverClose(&g_driver, slot);
    return TRUE;
}

DWORD GetVersion(void) {
    // Windows 98 (4.10, 9x family) or Windows 7 (6.1 build 7601).
    return g_windows9x ? 0xC0000A04u : 0x1DB10106u;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_init(&section->mutex, nullptr); }
void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->mutex); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(&section->mutex); }

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec pause = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

void SetLastError(DWORD error) { g_lastError = error; }
DWORD GetLastError(void) { return g_lastError; }

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1025, format, args);
    va_end(args);
    return n;
}

}  // extern "C"

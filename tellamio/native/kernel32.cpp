#include <mutex>

#include "sim_control.h"
#include "standin.h"

namespace {

constexpr uint32_t kFileCapacity = 70000;  // room for every board index the library can give out
constexpr uintptr_t kHandleBase = 0x1000;  // handle = kHandleBase + file slot

tlmsim::File g_files[kFileCapacity];
tlmsim::Driver g_driver;
uint64_t g_nowNs;
bool g_driverLoaded = true;
std::vector<standin::CreateFileCall> g_createFileCalls;
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
    SetWindows9x(false);
    g_driverLoaded = true;
    g_serialize = false;
    g_openHook = nullptr;
    g_requestHook = nullptr;
    g_createFileCalls.clear();
}

tlmsim::Driver& Driver() { return g_driver; }
void SetNow(uint64_t nowNs) { g_nowNs = nowNs; }
void SetDriverLoaded(bool loaded) { g_driverLoaded = loaded; }
void SetSerialized(bool serialized) { g_serialize = serialized; }
void SetHooks(OpenHook open, RequestHook request) {
    g_openHook = open;
    g_requestHook = request;
}
const std::vector<CreateFileCall>& CreateFileCalls() { return g_createFileCalls; }
uint32_t OpenHandles() { return g_driver.openFiles; }

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
            SetLastError(error);
        else if (tlmsim::DriverOpen(&g_driver, tlmsim::kDeviceControl, &slot) == tlmsim::kStatusSuccess) {
            result = reinterpret_cast<HANDLE>(kHandleBase + slot);
            call.succeeded = true;
        } else {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    } else if (!g_driverLoaded || name == nullptr || !tlmsim::DeviceFromName(name, &device)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
    } else {
        int32_t status = tlmsim::DriverOpen(&g_driver, device, &slot);
        if (status == tlmsim::kStatusSuccess) {
            result = reinterpret_cast<HANDLE>(kHandleBase + slot);
            call.succeeded = true;
        } else {
            SetLastError(tlmsim::Win32ErrorOfStatus(status));
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
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (g_requestHook != nullptr) {
        DWORD count = 0, error = 0;
        bool ok = g_requestHook(code, in, inSize, out, outSize, &count, &error);
        if (returned) *returned = count;
        if (!ok) SetLastError(error);
        return ok ? TRUE : FALSE;
    }
    uint32_t count = 0;
    int32_t status = tlmsim::DriverIoctl(&g_driver, slot, code, in, inSize, out, outSize, &count, g_nowNs);
    if (returned) *returned = count;
    if (status != tlmsim::kStatusSuccess) {
        SetLastError(tlmsim::Win32ErrorOfStatus(status));
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    DriverLock lock;
    uint32_t slot;
    if (!SlotOf(handle, &slot)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    tlmsim::DriverClose(&g_driver, slot);
    return TRUE;
}
}  // extern "C"

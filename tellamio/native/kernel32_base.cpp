// The kernel32 calls of the native build that have nothing to do with devices: last-error
// values, critical sections, Sleep, GetVersion, the module lookups and wsprintfA. Both
// native libraries use them: the test library over the kernel32 stand-in, and the shared
// simulated library.
#include <stdarg.h>
#include <stdio.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>
#include <sched.h>
#include <strings.h>
#include <time.h>

#include "windows.h"

namespace {
thread_local DWORD g_lastError;
bool g_windows9x;
}  // namespace

namespace standin {
// GetVersion reports the Windows 9x family when true (standin.h).
void SetWindows9x(bool windows9x) { g_windows9x = windows9x; }
}  // namespace standin

extern "C" {

DWORD GetVersion(void) {
    // Windows 98 (4.10, 9x family) or Windows 7 (6.1 build 7601).
    return g_windows9x ? 0xC0000A04u : 0x1DB10106u;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_init(&section->mutex, nullptr); }
void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return pthread_mutex_trylock(&section->mutex) == 0; }
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

DWORD GetTickCount(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000u + now.tv_nsec / 1000000);
}

HMODULE GetModuleHandleA(LPCSTR name) {
    Dl_info self;
    void* module = nullptr;
    if (name != nullptr && strcasecmp(name, "tellamio.dll") == 0 &&
        dladdr(reinterpret_cast<void*>(&GetModuleHandleA), &self) != 0)
        module = dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (module != nullptr) dlclose(module);  // NOLOAD counted one more reference
    if (module == nullptr) g_lastError = ERROR_MOD_NOT_FOUND;
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    void* found = module != nullptr && name != nullptr ? dlsym(module, name) : nullptr;
    if (found == nullptr) g_lastError = ERROR_PROC_NOT_FOUND;
    return reinterpret_cast<FARPROC>(found);
}

void SetLastError(DWORD error) { g_lastError = error; }
DWORD GetLastError(void) { return g_lastError; }

namespace {
struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};
void* RunThread(void* start) {
    ThreadStart run = *static_cast<ThreadStart*>(start);
    free(start);
    run.routine(run.parameter);
    return nullptr;
}
}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD,
                    DWORD* threadId) {
    ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    pthread_t thread;
    if (start != nullptr) *start = {routine, parameter};
    if (start == nullptr || pthread_create(&thread, nullptr, RunThread, start) != 0) {
        free(start);
        g_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    pthread_detach(thread);
    if (threadId != nullptr) *threadId = 0;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(thread));
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1025, format, args);
    va_end(args);
    return n;
}

}  // extern "C"

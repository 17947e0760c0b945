/* The few Win32 types and kernel32 calls the library makes, for the native Linux build. The
 * calls are answered in process by the simulated board driver (kernel32.cpp); standin.h lets
 * tests steer and observe them. */
#ifndef TELLAM_NATIVE_WINDOWS_H
#define TELLAM_NATIVE_WINDOWS_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#define WINAPI

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t UINT_PTR;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void (*FARPROC)(void);
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define TRUE                 1
#define FALSE                0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ              0x80000000u
#define FILE_SHARE_READ           0x00000001u
#define OPEN_EXISTING             3u
#define FILE_FLAG_OVERLAPPED      0x40000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define ERROR_FILE_NOT_FOUND      2L
#define ERROR_INVALID_HANDLE      6L
#define ERROR_NOT_ENOUGH_MEMORY   8L
#define ERROR_INVALID_PARAMETER   87L
#define ERROR_BAD_FORMAT          11L
#define ERROR_WRITE_FAULT         29L
#define ERROR_CANNOT_MAKE         82L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND       126L
#define ERROR_PROC_NOT_FOUND      127L

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

/* A lock for the threads of one process (a pthread mutex here). */
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

#ifdef __cplusplus
extern "C" {
#endif

/* Opens a device by its "\\.\NAME" path; INVALID_HANDLE_VALUE with the last error set
 * (ERROR_FILE_NOT_FOUND for a name no driver owns). */
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
/* Sends one control request and waits for it; nonzero on success. *returned gets the byte
 * count of the reply; on failure the last error is the driver's status as Win32 reports it. */
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, DWORD* returned,
                     LPOVERLAPPED overlapped);
/* Closes a handle from CreateFileA; FALSE with ERROR_INVALID_HANDLE for any other value. */
BOOL CloseHandle(HANDLE handle);
/* The Windows version word: bit 31 set for the Windows 9x family. */
DWORD GetVersion(void);
/* The calling thread's last-error value. */
void SetLastError(DWORD error);
DWORD GetLastError(void);
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
/* Takes the lock only if no other thread holds it; nonzero when taken. */
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
/* Gives up the rest of the time slice (0) or waits at least this many milliseconds. */
void Sleep(DWORD milliseconds);
/* Milliseconds since some fixed moment, wrapping at 2^32. */
DWORD GetTickCount(void);
/* "tellamio.dll" is the library this stand-in is part of; any other name is not loaded
 * (null, ERROR_MOD_NOT_FOUND). */
HMODULE GetModuleHandleA(LPCSTR name);
/* An export of a module from GetModuleHandleA; null with ERROR_PROC_NOT_FOUND. */
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
/* Starts a thread that runs routine(parameter). The thread runs detached: the handle, nonzero
 * on success, needs no CloseHandle here. Null with ERROR_NOT_ENOUGH_MEMORY. */
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD flags, DWORD* threadId);
/* sprintf with the Win32 1024-character limit. */
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

#ifdef __cplusplus
}
#endif

#endif

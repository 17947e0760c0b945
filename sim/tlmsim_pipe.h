/* The named pipe through which tlmsimctl --process PID reaches the simulated tellamio.dll in
 * the running program PID. It carries the private requests of tlmsim_control.h, one after
 * the other on one connection, each answered as tlmsim.sys answers it on its control device.
 *
 * Request: TlmSimPipeRequest, then inLength bytes of input. Reply: TlmSimPipeReply, then
 * `returned` bytes of output (at most the outLength asked for). The library serves one
 * connection at a time; a request with more than TLMSIM_PIPE_MAX_DATA bytes in or out ends
 * the connection. Plain C, packed little-endian records like the requests themselves. */
#ifndef TLMSIM_PIPE_H
#define TLMSIM_PIPE_H

#include <stdint.h>

#define TLMSIM_PIPE_NAME_FORMAT "\\\\.\\pipe\\tellamio-sim-%lu" /* the process id, decimal */
#define TLMSIM_PIPE_MAX_DATA    65536u

#pragma pack(push, 1)
typedef struct TlmSimPipeRequest {
    uint32_t code; /* TLMSIM_IOCTL_... */
    uint32_t inLength;
    uint32_t outLength; /* room the caller has for the output */
} TlmSimPipeRequest;

typedef struct TlmSimPipeReply {
    uint32_t error;    /* 0, or the Win32 error value of the refusal */
    uint32_t returned; /* output bytes that follow */
} TlmSimPipeReply;
#pragma pack(pop)

#ifdef _WIN32
#include <windows.h>
/* Reads exactly `size` bytes, as both ends do for every record: FALSE when the pipe ends or
 * fails first. */
static inline BOOL TlmSimPipeRead(HANDLE pipe, void* to, DWORD size) {
    DWORD done, got;
    for (done = 0; done < size; done += got)
        if (!ReadFile(pipe, (uint8_t*)to + done, size - done, &got, NULL) || got == 0) return FALSE;
    return TRUE;
}
#endif

#endif /* TLMSIM_PIPE_H */

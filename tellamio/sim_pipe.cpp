// The named pipe of the simulated library (tlmsim_pipe.h): a thread of its own serves the
// private requests of tlmsimctl --process, one connection at a time.
//
// The thread starts at the first use of the library, never in DllMain, and pins the library
// in the process first: it is never unloaded under the thread, so DllMain has no thread to
// stop and waits for nothing; the system ends the thread with the process. The first use
// returns once the pipe exists, so that tlmsimctl reaches a program from its first call on.
#include <stdio.h>

#include "sim_library.h"
#include "tlmsim_pipe.h"

#ifndef PIPE_REJECT_REMOTE_CLIENTS
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008
#endif

namespace {

uint8_t g_in[TLMSIM_PIPE_MAX_DATA];
uint8_t g_out[TLMSIM_PIPE_MAX_DATA];
char g_pipeName[64];
HANDLE g_listening;  // set once the first pipe instance exists (or cannot be made)

#define START_WAIT_MS 5000

bool WriteAll(HANDLE pipe, const void* from, DWORD size) {
    for (DWORD done = 0; done < size;) {
        DWORD put = 0;
        if (!WriteFile(pipe, (const uint8_t*)from + done, size - done, &put, NULL) || put == 0) return false;
        done += put;
    }
    return true;
}

// Answers requests until the client goes or sends one too large.
void ServeConnection(HANDLE pipe) {
    TlmSimPipeRequest request;
    while (TlmSimPipeRead(pipe, &request, sizeof request)) {
        if (request.inLength > TLMSIM_PIPE_MAX_DATA || request.outLength > TLMSIM_PIPE_MAX_DATA) return;
        if (!TlmSimPipeRead(pipe, g_in, request.inLength)) return;
        TlmSimPipeReply reply = {0, 0};
        DWORD returned = 0;
        reply.error = SimControl(request.code, request.inLength ? g_in : NULL, request.inLength,
                                 request.outLength ? g_out : NULL, request.outLength, &returned);
        reply.returned = returned;
        if (!WriteAll(pipe, &reply, sizeof reply) || !WriteAll(pipe, g_out, returned)) return;
    }
}

DWORD WINAPI Serve(LPVOID) {
    for (;;) {
        HANDLE pipe = CreateNamedPipeA(g_pipeName, PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                       4096, 4096, 0, NULL);
        SetEvent(g_listening);
        if (pipe == INVALID_HANDLE_VALUE) return 1;  // another server has the name: nothing to serve
        if (ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) ServeConnection(pipe);
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
}

}  // namespace

void StartPipeServer() {
    HMODULE self;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            (LPCSTR)(void*)StartPipeServer, &self))
        return;
    snprintf(g_pipeName, sizeof g_pipeName, TLMSIM_PIPE_NAME_FORMAT, (unsigned long)GetCurrentProcessId());
    g_listening = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = g_listening != NULL ? CreateThread(NULL, 0, Serve, NULL, 0, NULL) : NULL;
    if (thread == NULL) return;
    WaitForSingleObject(g_listening, START_WAIT_MS);
    CloseHandle(thread);
}

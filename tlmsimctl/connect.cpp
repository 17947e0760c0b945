// Connecting: the control device of tlmsim.sys, or with --process the pipe of the simulated
// tellamio.dll in a running program, and the private requests of tlmsim_control.h over
// either of them (see tlmsimctl.h).
#include "tlmsimctl.h"
#include "tlmsim_pipe.h"

#include <stdio.h>
#include <string.h>

// The control device of tlmsim.sys, or the pipe of a simulated tellamio.dll (--process).
static HANDLE g_control = INVALID_HANDLE_VALUE;
static DWORD g_process;             // with --process: the program whose library answers
static TlmSimState g_stateAtStart;  // as ConnectSimulator found it

void UseProcess(DWORD process) { g_process = process; }

bool UsingProcess(void) { return g_process != 0; }

const char* ErrorText(DWORD error) {
    switch (error) {
        case ERROR_INVALID_PARAMETER: return "refused as invalid";
        case ERROR_INVALID_FUNCTION: return "request not known";
        case ERROR_INSUFFICIENT_BUFFER: return "reply too large";
        case ERROR_NO_SYSTEM_RESOURCES: return "no room left";
        case ERROR_FILE_NOT_FOUND: return "no such device";
        case ERROR_ACCESS_DENIED: return "access denied";
    }
    return "failed";
}

// The pipe of the simulated tellamio.dll in process g_process (tlmsim_pipe.h).
static int ConnectProcess(void) {
    char name[64];
    snprintf(name, sizeof name, TLMSIM_PIPE_NAME_FORMAT, (unsigned long)g_process);
    for (int attempt = 0; attempt < 3; ++attempt) {
        g_control = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (g_control != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
        WaitNamedPipeA(name, 2000);  // another tlmsimctl is served first
    }
    if (g_control == INVALID_HANDLE_VALUE) {
        fprintf(stderr,
                "tlmsimctl: process %lu has no simulated tellamio.dll that answers (%s: error %lu). The simulated "
                "library (bin\\sim\\tellamio.dll beside the program) answers from the program's first call into "
                "it on.\n",
                (unsigned long)g_process, name, GetLastError());
        return EXIT_NO_DRIVER;
    }
    return EXIT_DONE;
}

int ConnectSimulator(void) {
    if (g_process != 0) {
        int rc = ConnectProcess();
        if (rc != EXIT_DONE) return rc;
    } else {
        g_control = CreateFileA(TLMDRV_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    }
    if (g_control == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        fprintf(stderr,
                "tlmsimctl: the simulated board driver is not running (\\\\.\\TLMDRV: error %lu). Install and start "
                "it with 'tlmsimctl install' from an administrator command prompt, with tlmsim.sys beside "
                "tlmsimctl.exe (see docs/simulator.md).\n",
                e);
        return EXIT_NO_DRIVER;
    }
    DWORD got = 0;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_STATE, NULL, 0, &g_stateAtStart, sizeof g_stateAtStart, &got);
    if (e != 0 || got != sizeof g_stateAtStart) {
        if (g_process != 0)
            fprintf(stderr, "tlmsimctl: process %lu does not answer the simulator's requests (error %lu).\n",
                    (unsigned long)g_process, e);
        else
            fprintf(stderr,
                    "tlmsimctl: \\\\.\\TLMDRV does not answer the simulator's requests (error %lu): it is not "
                    "tlmsim.sys (a real board's driver?). Nothing was sent.\n",
                    e);
        CloseHandle(g_control);
        g_control = INVALID_HANDLE_VALUE;
        return EXIT_NO_DRIVER;
    }
    return EXIT_DONE;
}

// One request over the pipe: the same records as on the control device, framed.
static DWORD PipeRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    TlmSimPipeRequest request = {code, inLength, outLength};
    TlmSimPipeReply reply = {0, 0};
    DWORD put = 0;
    if (!WriteFile(g_control, &request, sizeof request, &put, NULL) || put != sizeof request ||
        (inLength != 0 && (!WriteFile(g_control, in, inLength, &put, NULL) || put != inLength)) ||
        !TlmSimPipeRead(g_control, &reply, sizeof reply) || reply.returned > outLength ||
        (reply.returned != 0 && !TlmSimPipeRead(g_control, out, reply.returned)))
        return ERROR_BROKEN_PIPE;
    *returned = reply.returned;
    return reply.error;
}

DWORD SimRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    DWORD got = 0;
    DWORD error = 0;
    if (g_process != 0)
        error = PipeRequest(code, in, inLength, out, outLength, &got);
    else if (!DeviceIoControl(g_control, code, (void*)in, inLength, out, outLength, &got, NULL))
        error = GetLastError();
    if (returned != NULL) *returned = got;
    return error;
}

void NoteLostSelections(void) {
    uint32_t held = g_stateAtStart.openBoard + g_stateAtStart.openVxd;
    if (held > 0)
        printf("note: %u board handle%s of running programs lost %s board selection; their requests fail until "
               "they open the board again\n",
               held, held == 1 ? "" : "s", held == 1 ? "its" : "their");
}

void DisconnectSimulator(void) {
    if (g_control != INVALID_HANDLE_VALUE) CloseHandle(g_control);
    g_control = INVALID_HANDLE_VALUE;
}

int ReadBoards(TlmSimBoardConfig* boards, uint32_t* count) {
    static uint8_t reply[sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig)];
    DWORD got = 0;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_BOARDS, NULL, 0, reply, sizeof reply, &got);
    TlmSimBoards head;
    memcpy(&head, reply, sizeof head);
    if (e != 0 || got < sizeof head || head.count > TLMSIM_MAX_BOARDS ||
        got != sizeof head + head.count * sizeof(TlmSimBoardConfig))
        return Fail(EXIT_REFUSED, "cannot read the simulated boards (error %lu, %s)", e, ErrorText(e));
    memcpy(boards, reply + sizeof head, head.count * sizeof(TlmSimBoardConfig));
    *count = head.count;
    return EXIT_DONE;
}

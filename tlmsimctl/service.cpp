// tlmsimctl install / uninstall: the kernel service that runs tlmsim.sys.
//
// The service points at the tlmsim.sys beside tlmsimctl.exe; nothing is copied, so removing
// the service leaves every file where it was.
#include <stdio.h>
#include <string.h>

#include "tlmsimctl.h"

#define SERVICE_WAIT_MS 10000
#ifndef ERROR_INVALID_IMAGE_HASH
#define ERROR_INVALID_IMAGE_HASH 577  // the image's signature does not check out
#endif
#define SERVICE_POLL_MS 100

static bool IsAdministrator(void) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    BOOL member = FALSE;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    if (!CheckTokenMembership(NULL, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

static int NeedAdministrator(const char* command) {
    return Fail(EXIT_REFUSED,
                "%s needs administrator rights: run it from a command prompt opened with 'Run as administrator'",
                command);
}

// The bits of a PE image's machine (32 or 64), 0 when the file is not one we know.
static int ImageBits(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BYTE head[1024];
    DWORD got = 0;
    BOOL read = ReadFile(file, head, sizeof head, &got, NULL);
    CloseHandle(file);
    if (!read || got < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    DWORD at = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | (DWORD)head[0x3F] << 24;
    if (at > got - 6 || memcmp(head + at, "PE\0\0", 4) != 0) return 0;
    WORD machine = (WORD)(head[at + 4] | head[at + 5] << 8);
    return machine == IMAGE_FILE_MACHINE_I386 ? 32 : machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 0;
}

// 32 or 64: the Windows this program runs on (a 32-bit program may run on 64-bit Windows).
static int WindowsBits(void) {
    if (sizeof(void*) == 8) return 64;
    typedef BOOL(WINAPI * IsWow64ProcessProc)(HANDLE, PBOOL);
    IsWow64ProcessProc isWow64 =
        (IsWow64ProcessProc)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != NULL && isWow64(GetCurrentProcess(), &wow64) && wow64 ? 64 : 32;
}

// Waits until the service reaches `state` (or leaves a pending state); the last state seen.
static DWORD WaitForState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status = {};
    for (DWORD waited = 0;; waited += SERVICE_POLL_MS) {
        if (!QueryServiceStatus(service, &status)) return 0;
        if (status.dwCurrentState == state || waited >= SERVICE_WAIT_MS) return status.dwCurrentState;
        Sleep(SERVICE_POLL_MS);
    }
}

int CmdInstall(int argc, char** argv) {
    if (argc > 0) return Fail(EXIT_USAGE, "install: unexpected argument '%s'", argv[0]);
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return Fail(EXIT_REFUSED, "cannot tell where tlmsimctl.exe lies");
    char* slash = strrchr(path, '\\');
    strcpy(slash != NULL ? slash + 1 : path, "tlmsim.sys");
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return Fail(EXIT_REFUSED, "no tlmsim.sys beside tlmsimctl.exe (%s): copy it there first", path);
    // Windows loads only a kernel driver of its own architecture (Wine would run the other one
    // too). The programs themselves may be 32-bit on 64-bit Windows.
    int driverBits = ImageBits(path), windowsBits = WindowsBits();
    if (driverBits != 0 && driverBits != windowsBits)
        return Fail(EXIT_REFUSED,
                    "%s is a %d-bit driver and this Windows is %d-bit: take tlmsim.sys from the win%d archive", path,
                    driverBits, windowsBits, windowsBits);
    if (!IsAdministrator()) return NeedAdministrator("install");
    // The simulator takes the device names of the board's own driver: never beside it.
    HANDLE other = CreateFileA(TLMDRV_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               NULL, OPEN_EXISTING, 0, NULL);
    if (other != INVALID_HANDLE_VALUE) {
        TlmSimState state;
        DWORD got = 0;
        BOOL simulator = DeviceIoControl(other, TLMSIM_IOCTL_GET_STATE, NULL, 0, &state, sizeof state, &got, NULL);
        CloseHandle(other);
        if (!simulator)
            return Fail(EXIT_REFUSED, "another driver owns \\\\.\\TLMDRV (the board's own driver?): remove it before "
                                      "installing the simulator");
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED) return NeedAdministrator("install");
        return Fail(EXIT_REFUSED, "cannot reach the service control manager (error %lu)", e);
    }
    bool created = true;
    SC_HANDLE service =
        CreateServiceA(manager, SIM_SERVICE_NAME, "Tellam board simulator", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL, NULL);
    if (service == NULL && GetLastError() == ERROR_SERVICE_EXISTS) {
        created = false;
        service = OpenServiceA(manager, SIM_SERVICE_NAME, SERVICE_ALL_ACCESS);
    }
    if (service == NULL) {
        DWORD e = GetLastError();
        CloseServiceHandle(manager);
        if (e == ERROR_ACCESS_DENIED) return NeedAdministrator("install");
        return Fail(EXIT_REFUSED, "cannot create the service %s (error %lu)", SIM_SERVICE_NAME, e);
    }
    int rc = EXIT_DONE;
    if (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        DWORD e = GetLastError();
        if (e == ERROR_INVALID_IMAGE_HASH)
            rc = Fail(EXIT_REFUSED,
                      "Windows refused to load %s (error 577): the driver is not signed; turn on test-signing "
                      "mode ('bcdedit /set testsigning on', then restart) and try again",
                      path);
        else
            rc = Fail(EXIT_REFUSED, "the service %s did not start (error %lu)", SIM_SERVICE_NAME, e);
    } else if (WaitForState(service, SERVICE_RUNNING) != SERVICE_RUNNING) {
        rc = Fail(EXIT_REFUSED, "the service %s did not reach the running state", SIM_SERVICE_NAME);
    }
    // A service that was made here and cannot run is taken away again.
    if (rc != EXIT_DONE && created) DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (rc != EXIT_DONE) return rc;
    if (created)
        printf("service %s installed from %s and running\n", SIM_SERVICE_NAME, path);
    else
        printf("service %s was installed already; it is running\n", SIM_SERVICE_NAME);
    return EXIT_DONE;
}

int CmdUninstall(int argc, char** argv) {
    if (argc > 0) return Fail(EXIT_USAGE, "uninstall: unexpected argument '%s'", argv[0]);
    if (!IsAdministrator()) return NeedAdministrator("uninstall");
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        DWORD e = GetLastError();
        if (e == ERROR_ACCESS_DENIED) return NeedAdministrator("uninstall");
        return Fail(EXIT_REFUSED, "cannot reach the service control manager (error %lu)", e);
    }
    SC_HANDLE service = OpenServiceA(manager, SIM_SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == NULL) {
        DWORD e = GetLastError();
        CloseServiceHandle(manager);
        if (e == ERROR_SERVICE_DOES_NOT_EXIST) {
            printf("service %s is not installed; nothing to do\n", SIM_SERVICE_NAME);
            return EXIT_DONE;
        }
        if (e == ERROR_ACCESS_DENIED) return NeedAdministrator("uninstall");
        return Fail(EXIT_REFUSED, "cannot open the service %s (error %lu)", SIM_SERVICE_NAME, e);
    }
    int rc = EXIT_DONE;
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        rc = Fail(EXIT_REFUSED, "the service %s did not stop (error %lu)", SIM_SERVICE_NAME, GetLastError());
    else if (WaitForState(service, SERVICE_STOPPED) != SERVICE_STOPPED)
        rc = Fail(EXIT_REFUSED, "the service %s is still stopping: close the programs that use the simulated boards",
                  SIM_SERVICE_NAME);
    if (rc == EXIT_DONE && !DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        rc = Fail(EXIT_REFUSED, "the service %s was stopped but not removed (error %lu)", SIM_SERVICE_NAME,
                  GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (rc == EXIT_DONE) printf("service %s stopped and removed\n", SIM_SERVICE_NAME);
    return rc;
}

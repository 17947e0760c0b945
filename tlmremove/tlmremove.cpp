// tlmremove.exe: takes the Tellam board's kernel driver off Windows.
//
// Asks once for confirmation, removes the driver files, the library file, the driver's
// registry keys, the setup-information file Windows copied at installation and (on NT 5.0
// and later) the board's device entries in one pass, then offers a restart. It talks to the
// user only through message boxes and ignores its command line.

#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>
#include <stdarg.h>

#include "resource.h"

// OS classes returned by GetOsClass.
#define OSCLASS_WIN95 0
#define OSCLASS_WIN98 1
#define OSCLASS_NT4   2
#define OSCLASS_W2K   3
#define OSCLASS_WXP   4
#define OSCLASS_VISTA 5
#define OSCLASS_OTHER 6

// Result of UninstallDriver: UNINST_BAD_OS alone, or a set of the error bits.
#define UNINST_OK         0
#define UNINST_BAD_OS     1
#define UNINST_FILE_ERROR 2
#define UNINST_REG_ERROR  4

// Windows 9x build numbers from 1080 up are Windows 98.
#define WIN98_FIRST_BUILD 1080

#define TEXT_BUFFER_SIZE 100  // LoadStringA buffers
#define INF_LINE_SIZE    500  // fgets buffer while scanning setup-information files

// Directory pieces.
static const char DIR_INF[] = "\\INF\\";
static const char DIR_INF_OTHER[] = "INF\\OTHER";
static const char DIR_SEPARATOR[] = "\\";
static const char DIR_DRIVERS[] = "\\System32\\Drivers\\";
static const char DIR_SYSTEM32[] = "\\System32\\";

// Setup-information files.
static const char OEM_INF_PATTERN[] = "OEM*.INF";
static const char WIN98_INF_NAME[] = "KORVANETELLAMIO.INF";

// Driver and library files.
static const char FILE_NT4_DRIVER[] = "TELLAMIO.SYS";
static const char FILE_W2K_DRIVER[] = "TLMW2K.SYS";
static const char FILE_WXP_DRIVER[] = "TLMWXP.SYS";
static const char FILE_WDM_DRIVER[] = "TLMWDM.SYS";
static const char FILE_VXD[] = "TELLAMIO.VXD";
static const char FILE_LIBRARY[] = "TELLAMIO.DLL";

// The text that marks the board's setup-information file, and the board's hardware ID.
static const char INF_MARK[] = "Tellam";
static const char BOARD_HARDWARE_ID[] = "PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31";

// Registry keys, all under HKEY_LOCAL_MACHINE.
static const char KEY_9X_DEVICE_FULL[] = "Enum\\PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31&REV_01";
static const char KEY_9X_DEVICE_SHORT[] = "Enum\\PCI\\VEN_7E31&DEV_0C51";
static const char KEY_NT4_SERVICE[] = "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCI";
static const char KEY_NT4_EVENTLOG[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\TELLAMPCI";
static const char SUBKEY_ENUM[] = "\\Enum";
static const char SUBKEY_SECURITY[] = "\\Security";
static const char* const KEY_NT5_SERVICES[] = {
    "SYSTEM\\ControlSet001\\Services\\tlmw2k", "SYSTEM\\ControlSet002\\Services\\tlmw2k",
    "SYSTEM\\ControlSet001\\Services\\tlmwxp", "SYSTEM\\ControlSet002\\Services\\tlmwxp",
    "SYSTEM\\ControlSet001\\Services\\tlmwdm", "SYSTEM\\ControlSet002\\Services\\tlmwdm",
};
#define NT5_SERVICE_KEY_COUNT (sizeof(KEY_NT5_SERVICES) / sizeof(KEY_NT5_SERVICES[0]))

// The setup API, loaded at run time.
static const char SETUPAPI_DLL[] = "SETUPAPI.DLL";

typedef HDEVINFO(WINAPI* GetClassDevsProc)(const GUID*, PCSTR, HWND, DWORD);
typedef BOOL(WINAPI* EnumDeviceInfoProc)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* GetDeviceRegistryPropertyProc)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
typedef BOOL(WINAPI* CallClassInstallerProc)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* DestroyDeviceInfoListProc)(HDEVINFO);

// Looked up at run time: Windows 9x, NT 4 and 2000 before SP2 do not have it.
typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE, PBOOL);

// Classifies the running Windows version.
int GetOsClass(void) {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);  // 148
    if (!GetVersionExA(&info)) return OSCLASS_OTHER;

    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        // The 9x platform keeps major and minor version in the high word of the build.
        if (LOWORD(info.dwBuildNumber) < WIN98_FIRST_BUILD) return OSCLASS_WIN95;
        return OSCLASS_WIN98;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion == 5) {
            if (info.dwMinorVersion == 0) return OSCLASS_W2K;
            if (info.dwMinorVersion <= 2)  // XP, and Server 2003 / XP x64
                return OSCLASS_WXP;
            return OSCLASS_OTHER;
        }
        if (info.dwMajorVersion >= 6)  // Vista and every later NT
            return OSCLASS_VISTA;
        return OSCLASS_NT4;
    }
    return OSCLASS_OTHER;
}

// Builds a path from the Windows or system directory and the given pieces (a NULL ends the
// list) into out, a MAX_PATH buffer. Returns FALSE, with out empty, when the directory
// cannot be read or the whole path would not fit.
static BOOL MakePath(char* out, BOOL systemDirectory, ...) {
    UINT length = systemDirectory ? GetSystemDirectoryA(out, MAX_PATH) : GetWindowsDirectoryA(out, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        out[0] = '\0';
        return FALSE;
    }
    size_t used = strlen(out);
    va_list pieces;
    va_start(pieces, systemDirectory);
    const char* piece;
    while ((piece = va_arg(pieces, const char*)) != NULL) {
        size_t pieceLength = strlen(piece);
        if (used + pieceLength >= MAX_PATH) {
            va_end(pieces);
            out[0] = '\0';
            return FALSE;
        }
        memcpy(out + used, piece, pieceLength + 1);
        used += pieceLength;
    }
    va_end(pieces);
    return TRUE;
}

// Deletes a file whatever its attributes. Returns TRUE when it was deleted.
BOOL ForceDeleteFile(const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) ? TRUE : FALSE;
}

// Deletes a file in the Windows directory's System32\Drivers folder.
static BOOL DeleteDriverFile(const char* name) {
    char path[MAX_PATH];
    if (!MakePath(path, FALSE, DIR_DRIVERS, name, (const char*)NULL)) return FALSE;
    return ForceDeleteFile(path);
}

// Finds text in s; a match never starts on the trail byte of a double-byte character.
static BOOL ContainsText(const char* s, const char* text) {
    size_t textLength = strlen(text);
    const char* p = s;
    while (*p != '\0') {
        if (strncmp(p, text, textLength) == 0) return TRUE;
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0')
            p += 2;
        else
            p += 1;
    }
    return FALSE;
}

// Reads a setup-information file as 8-bit text and tells whether it holds the board's mark.
static BOOL InfHasMark(const char* path) {
    FILE* file = fopen(path, "r");
    if (file == NULL) return FALSE;
    char line[INF_LINE_SIZE];
    BOOL found = FALSE;
    while (!found && fgets(line, sizeof(line), file) != NULL) found = ContainsText(line, INF_MARK);
    fclose(file);
    return found;
}

// Deletes the setup-information file (and, when asked, its precompiled .PNF copy) that
// Windows copied under a generated OEM name: the first one that holds the board's mark.
// Returns TRUE when no deletion failed.
BOOL DeleteOemInf(BOOL withPnf) {
    char pattern[MAX_PATH];
    if (!MakePath(pattern, FALSE, DIR_INF, OEM_INF_PATTERN, (const char*)NULL)) return FALSE;

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return TRUE;

    BOOL ok = TRUE;
    do {
        char path[MAX_PATH];
        if (!MakePath(path, FALSE, DIR_INF, found.cFileName, (const char*)NULL))
            continue;  // cannot even be opened: skipped
        if (!InfHasMark(path)) continue;
        if (!ForceDeleteFile(path)) ok = FALSE;
        if (withPnf) {
            size_t length = strlen(path);
            if (length >= 3) {
                path[length - 3] = 'P';  // OEMn.INF -> OEMn.PNF
                if (!ForceDeleteFile(path)) ok = FALSE;
            }
        }
        break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ok;
}

// Tells whether the device's hardware IDs (a multi-string of size bytes) hold the board's.
static BOOL HardwareIdsHoldBoard(const char* ids, DWORD size) {
    DWORD offset = 0;
    while (offset < size && ids[offset] != '\0') {
        size_t length = strnlen(ids + offset, size - offset);
        if (length == size - offset) break;  // not terminated inside the returned data
        if (strcmp(ids + offset, BOARD_HARDWARE_ID) == 0) return TRUE;
        offset += (DWORD)length + 1;
    }
    return FALSE;
}

// Deletes the NT 5/6 service keys and removes every device that carries the board's
// hardware ID. Returns 1 when the device walk ran to its end and removed every such device,
// 0 otherwise.
int RemoveDeviceEntries(void) {
    HMODULE setupApi = LoadLibraryA(SETUPAPI_DLL);
    if (setupApi == NULL) return 0;

    GetClassDevsProc getClassDevs = (GetClassDevsProc)(void*)GetProcAddress(setupApi, "SetupDiGetClassDevsA");
    EnumDeviceInfoProc enumDeviceInfo = (EnumDeviceInfoProc)(void*)GetProcAddress(setupApi, "SetupDiEnumDeviceInfo");
    GetDeviceRegistryPropertyProc getDeviceRegistryProperty =
        (GetDeviceRegistryPropertyProc)(void*)GetProcAddress(setupApi, "SetupDiGetDeviceRegistryPropertyA");
    CallClassInstallerProc callClassInstaller =
        (CallClassInstallerProc)(void*)GetProcAddress(setupApi, "SetupDiCallClassInstaller");
    DestroyDeviceInfoListProc destroyDeviceInfoList =
        (DestroyDeviceInfoListProc)(void*)GetProcAddress(setupApi, "SetupDiDestroyDeviceInfoList");
    if (getClassDevs == NULL || enumDeviceInfo == NULL || getDeviceRegistryProperty == NULL ||
        callClassInstaller == NULL || destroyDeviceInfoList == NULL) {
        FreeLibrary(setupApi);
        return 0;
    }

    HDEVINFO devices = getClassDevs(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        FreeLibrary(setupApi);
        return 0;
    }

    // The driver services; their failures do not matter.
    for (size_t i = 0; i < NT5_SERVICE_KEY_COUNT; ++i) {
        char key[MAX_PATH];
        lstrcpynA(key, KEY_NT5_SERVICES[i], MAX_PATH);
        size_t length = strlen(key);
        lstrcpynA(key + length, SUBKEY_SECURITY, (int)(MAX_PATH - length));
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        lstrcpynA(key + length, SUBKEY_ENUM, (int)(MAX_PATH - length));
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY_NT5_SERVICES[i]);
    }

    BOOL allRemoved = TRUE;
    SP_DEVINFO_DATA device;
    for (DWORD index = 0;; ++index) {
        ZeroMemory(&device, sizeof(device));
        device.cbSize = sizeof(device);
        if (!enumDeviceInfo(devices, index, &device)) break;

        BYTE* ids = NULL;
        DWORD size = 0;
        DWORD required = 0;
        BOOL hasIds = TRUE;
        while (!getDeviceRegistryProperty(devices, &device, SPDRP_HARDWAREID, NULL, ids, size, &required)) {
            DWORD error = GetLastError();
            // No hardware ID, or an empty one: nothing to compare, on to the next device.
            if (error == ERROR_INVALID_DATA || (error == ERROR_INSUFFICIENT_BUFFER && required == 0)) {
                hasIds = FALSE;
                break;
            }
            // A bigger buffer is asked for: take one and read again. A size that does not
            // grow (or a failed allocation) would only repeat the same failure for ever.
            if (error == ERROR_INSUFFICIENT_BUFFER && required > size) {
                if (ids != NULL) LocalFree(ids);
                ids = (BYTE*)LocalAlloc(LPTR, required);
                size = required;
                if (ids != NULL) continue;
            }
            if (ids != NULL) LocalFree(ids);
            destroyDeviceInfoList(devices);
            FreeLibrary(setupApi);
            return 0;
        }
        // A board device that stays is a failed removal; the walk still goes on to the others.
        if (hasIds && ids != NULL && HardwareIdsHoldBoard((const char*)ids, required < size ? required : size) &&
            !callClassInstaller(DIF_REMOVE, devices, &device))
            allRemoved = FALSE;
        if (ids != NULL) LocalFree(ids);
    }

    destroyDeviceInfoList(devices);
    FreeLibrary(setupApi);
    return allRemoved ? 1 : 0;
}

// True for a 32-bit program on 64-bit Windows. There the setup API removes no device for
// it, and the system folder it sees is the 32-bit one: only the 64-bit program can do the job.
static BOOL RunsUnderWow64(void) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (kernel == NULL) return FALSE;
    IsWow64ProcessProc isWow64Process = (IsWow64ProcessProc)(void*)GetProcAddress(kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process != NULL && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Enables the shutdown privilege for the restart at the end. Returns -1 when the process
// token cannot be opened, 1 when the adjustment left an error, else 0.
int EnableShutdownPrivilege(void) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return -1;
    TOKEN_PRIVILEGES privileges;
    ZeroMemory(&privileges, sizeof(privileges));
    LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    int result = GetLastError() != 0 ? 1 : 0;
    CloseHandle(token);
    return result;
}

// Deletes an NT 4 registry key; TRUE when it is gone.
static BOOL DeleteNt4Key(const char* key, const char* subkey) {
    char name[MAX_PATH];
    size_t keyLength = strlen(key);
    size_t subkeyLength = subkey != NULL ? strlen(subkey) : 0;
    if (keyLength + subkeyLength >= MAX_PATH) return FALSE;
    memcpy(name, key, keyLength);
    if (subkey != NULL) memcpy(name + keyLength, subkey, subkeyLength);
    name[keyLength + subkeyLength] = '\0';
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, name) == ERROR_SUCCESS;
}

// Removes everything of the driver that the running Windows version has. Returns
// UNINST_BAD_OS alone, or the set of error bits.
int UninstallDriver(void) {
    int osClass = GetOsClass();
    int result = UNINST_OK;
    char path[MAX_PATH];

    if (osClass == OSCLASS_OTHER) return UNINST_BAD_OS;

    if (osClass == OSCLASS_WIN95 || osClass == OSCLASS_WIN98) {
        if (osClass == OSCLASS_WIN95) {
            if (!DeleteOemInf(FALSE)) result |= UNINST_FILE_ERROR;
        } else {
            if (!MakePath(path, FALSE, DIR_SEPARATOR, DIR_INF_OTHER, DIR_SEPARATOR, WIN98_INF_NAME,
                          (const char*)NULL) ||
                !ForceDeleteFile(path))
                result |= UNINST_FILE_ERROR;
        }
        if (!MakePath(path, TRUE, DIR_SEPARATOR, FILE_VXD, (const char*)NULL) || !ForceDeleteFile(path))
            result |= UNINST_FILE_ERROR;
        if (!MakePath(path, TRUE, DIR_SEPARATOR, FILE_LIBRARY, (const char*)NULL) || !ForceDeleteFile(path))
            result |= UNINST_FILE_ERROR;
        // Windows 9x deletes a key together with its subkeys.
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY_9X_DEVICE_FULL) == ERROR_SUCCESS) return result;
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY_9X_DEVICE_SHORT) == ERROR_SUCCESS) return result;
        return result | UNINST_REG_ERROR;
    }

    EnableShutdownPrivilege();

    if (osClass == OSCLASS_NT4) {
        // On NT a key goes only once its subkeys are gone.
        if (!DeleteNt4Key(KEY_NT4_SERVICE, SUBKEY_ENUM)) result |= UNINST_REG_ERROR;
        if (!DeleteNt4Key(KEY_NT4_SERVICE, SUBKEY_SECURITY)) result |= UNINST_REG_ERROR;
        if (!DeleteNt4Key(KEY_NT4_SERVICE, NULL)) result |= UNINST_REG_ERROR;
        if (!DeleteNt4Key(KEY_NT4_EVENTLOG, NULL)) result |= UNINST_REG_ERROR;
        if (!DeleteDriverFile(FILE_NT4_DRIVER)) result |= UNINST_FILE_ERROR;
    } else {
        if (!RemoveDeviceEntries()) result |= UNINST_REG_ERROR;
        if (!DeleteOemInf(TRUE)) result |= UNINST_FILE_ERROR;

        const char* otherFirst;
        const char* otherSecond;
        const char* own;
        if (osClass == OSCLASS_W2K) {
            otherFirst = FILE_WXP_DRIVER;
            otherSecond = FILE_WDM_DRIVER;
            own = FILE_W2K_DRIVER;
        } else if (osClass == OSCLASS_WXP) {
            otherFirst = FILE_W2K_DRIVER;
            otherSecond = FILE_WDM_DRIVER;
            own = FILE_WXP_DRIVER;
        } else {
            otherFirst = FILE_W2K_DRIVER;
            otherSecond = FILE_WXP_DRIVER;
            own = FILE_WDM_DRIVER;
        }
        DeleteDriverFile(otherFirst);
        DeleteDriverFile(otherSecond);
        if (!DeleteDriverFile(own)) result |= UNINST_FILE_ERROR;
    }

    if (!MakePath(path, FALSE, DIR_SYSTEM32, FILE_LIBRARY, (const char*)NULL) || !ForceDeleteFile(path))
        result |= UNINST_FILE_ERROR;
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;

    char caption[TEXT_BUFFER_SIZE];
    char text[TEXT_BUFFER_SIZE];
    LoadStringA(instance, IDS_CAPTION, caption, TEXT_BUFFER_SIZE);
    if (RunsUnderWow64()) {
        // Nothing is touched: a half removal would leave the devices behind the restart.
        LoadStringA(instance, IDS_NEED_64BIT, text, TEXT_BUFFER_SIZE);
        MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR);
        return 0;
    }
    LoadStringA(instance, IDS_CONFIRM, text, TEXT_BUFFER_SIZE);
    if (MessageBoxA(NULL, text, caption, MB_OKCANCEL | MB_ICONWARNING) != IDOK) return 0;

    int result = UninstallDriver();
    if (result == UNINST_OK || result == UNINST_FILE_ERROR || result == UNINST_REG_ERROR) {
        // One kind of failure alone still counts as done; the restart finishes the job.
        LoadStringA(instance, IDS_COMPLETED, text, TEXT_BUFFER_SIZE);
        if (MessageBoxA(NULL, text, caption, MB_OK | MB_ICONINFORMATION) == IDOK) {
            ExitWindowsEx(EWX_REBOOT, 0);
            ExitProcess(0);
        }
        return 0;
    }
    if (result == UNINST_BAD_OS) {
        LoadStringA(instance, IDS_BAD_OS, text, TEXT_BUFFER_SIZE);
        MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR);
        return 0;
    }
    LoadStringA(instance, IDS_FAILED, text, TEXT_BUFFER_SIZE);
    MessageBoxA(NULL, text, caption, MB_OK | MB_ICONERROR);
    return 0;
}

// tlmremove_recorder.dll: loaded into a suspended tlmremove.exe by the test before its main
// thread runs. It redirects a few entries of the program's import address table:
//
//   MessageBoxA         records owner, style, caption and text, answers with the next
//                       button from TLMREMOVE_REC_ANSWERS (or shows the real box when
//                       TLMREMOVE_REC_REAL_BOXES is set, for the test to answer on screen)
//   ExitWindowsEx       records the restart request instead of ending the Wine session
//   LoadLibraryA        records the name; fails for TLMREMOVE_REC_FAIL_LOAD
//   GetVersionExA       reports TLMREMOVE_REC_VERSION ("platform,major,minor,build") when set
//   GetWindowsDirectoryA  reports TLMREMOVE_REC_WINDIR when set
//   GetProcAddress      hands out recording wrappers of the setup API functions, and
//                       injects the fault TLMREMOVE_REC_SETUP_FAULT: "missing:<function>",
//                       "classdevs" (no device list), "property:<instance id>" (the
//                       hardware-id read of that device fails with ERROR_ACCESS_DENIED),
//                       "stuck:<instance id>" (it keeps failing with ERROR_INSUFFICIENT_BUFFER
//                       without wanting a bigger buffer), "empty:<instance id>" (the device's
//                       hardware-id property is empty: required size 0) or
//                       "remove:<instance id>" (DIF_REMOVE of that device fails);
//                       for kernel32 it records the look-ups of the WOW64 functions:
//                       TLMREMOVE_REC_WOW64 "yes" makes IsWow64Process report a WOW64
//                       process, "missing" hides them as on Windows 9x and NT 4
//   DeleteFileA         records the path and the result
//   FreeLibrary         records the release of the setup API
//   OpenProcessToken    records the call; fails when TLMREMOVE_REC_NO_TOKEN is set
//
// Every record is a tab-separated line appended to the file TLMREMOVE_REC_LOG, with the
// state of the process' shutdown privilege at that moment.

#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char g_logPath[MAX_PATH];
char g_answers[256];
const char* g_nextAnswer = g_answers;
BOOL g_exitResult = TRUE;
BOOL g_realBoxes = FALSE;
char g_failLoad[MAX_PATH];
BOOL g_versionOverride = FALSE;
DWORD g_version[4];
char g_windowsDirectory[1024];
BOOL g_windowsDirectoryOverride = FALSE;

char g_setupFault[512];
HMODULE g_setupApi;
char g_wow64[16];

decltype(&MessageBoxA) g_realMessageBoxA;
decltype(&GetProcAddress) g_realGetProcAddress;
decltype(&FreeLibrary) g_realFreeLibrary;
decltype(&OpenProcessToken) g_realOpenProcessToken;
BOOL g_noToken = FALSE;
decltype(&SetupDiGetClassDevsA) g_realGetClassDevs;
decltype(&SetupDiGetDeviceRegistryPropertyA) g_realGetProperty;
decltype(&SetupDiCallClassInstaller) g_realCallClassInstaller;
decltype(&SetupDiDestroyDeviceInfoList) g_realDestroyList;
decltype(&SetupDiGetDeviceInstanceIdA) g_getInstanceId;
decltype(&ExitWindowsEx) g_realExitWindowsEx;
decltype(&LoadLibraryA) g_realLoadLibraryA;
decltype(&GetVersionExA) g_realGetVersionExA;
decltype(&GetWindowsDirectoryA) g_realGetWindowsDirectoryA;
decltype(&DeleteFileA) g_realDeleteFileA;
decltype(&IsWow64Process) g_realIsWow64Process;

void AppendLog(const char* line) {
    HANDLE file = CreateFileA(g_logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

void HexBytes(char* out, size_t outSize, const char* bytes) {
    size_t used = 0;
    for (const unsigned char* p = (const unsigned char*)bytes; p && *p && used + 3 < outSize; ++p)
        used += (size_t)snprintf(out + used, outSize - used, "%02x", *p);
    out[used] = '\0';
}

// 1 when SeShutdownPrivilege is enabled in the process token, 0 when not, -1 unknown.
int ShutdownPrivilegeEnabled() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
    LUID shutdown;
    LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &shutdown);
    BYTE buffer[4096];
    DWORD size = 0;
    int result = -1;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size)) {
        const TOKEN_PRIVILEGES* privileges = (const TOKEN_PRIVILEGES*)buffer;
        result = 0;
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
            if (p.Luid.LowPart == shutdown.LowPart && p.Luid.HighPart == shutdown.HighPart)
                result = (p.Attributes & SE_PRIVILEGE_ENABLED) ? 1 : 0;
        }
    }
    CloseHandle(token);
    return result;
}

int NextAnswer() {
    while (*g_nextAnswer == ',' || *g_nextAnswer == ' ') ++g_nextAnswer;
    if (*g_nextAnswer == '\0') return IDCANCEL;  // more boxes than the test expected: decline
    char* end;
    long value = strtol(g_nextAnswer, &end, 10);
    g_nextAnswer = end;
    return (int)value;
}

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    static char hexText[2048];
    static char hexCaption[1024];
    static char line[4096];
    HexBytes(hexText, sizeof(hexText), text);
    HexBytes(hexCaption, sizeof(hexCaption), caption);
    int privilege = ShutdownPrivilegeEnabled();
    int answer = g_realBoxes ? g_realMessageBoxA(owner, text, caption, style) : NextAnswer();
    snprintf(line, sizeof(line), "box\t%p\t%#x\t%s\t%s\t%d\t%d", (void*)owner, style, hexCaption, hexText, answer,
             privilege);
    AppendLog(line);
    return answer;
}

BOOL WINAPI RecordExitWindowsEx(UINT flags, DWORD reason) {
    char line[128];
    snprintf(line, sizeof(line), "exitwindows\t%#x\t%#lx\t%d", flags, (unsigned long)reason,
             ShutdownPrivilegeEnabled());
    AppendLog(line);
    if (!g_exitResult) SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return g_exitResult;
}

HMODULE WINAPI RecordLoadLibraryA(LPCSTR name) {
    char line[MAX_PATH + 16];
    snprintf(line, sizeof(line), "load\t%s", name ? name : "(null)");
    AppendLog(line);
    if (name && g_failLoad[0] && lstrcmpiA(name, g_failLoad) == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    HMODULE module = g_realLoadLibraryA(name);
    if (module && name && lstrcmpiA(name, "SETUPAPI.DLL") == 0) g_setupApi = module;
    return module;
}

BOOL WINAPI RecordOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    char line[64];
    snprintf(line, sizeof(line), "token\t%#lx\t%d", (unsigned long)access, g_noToken ? 0 : 1);
    AppendLog(line);
    if (g_noToken) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_realOpenProcessToken(process, access, token);
}

BOOL WINAPI RecordFreeLibrary(HMODULE module) {
    if (module && module == g_setupApi) AppendLog("free\tsetupapi");
    return g_realFreeLibrary(module);
}

void DeviceId(HDEVINFO set, PSP_DEVINFO_DATA device, char* id, DWORD size) {
    if (!device || !g_getInstanceId || !g_getInstanceId(set, device, id, size, NULL)) lstrcpynA(id, "?", (int)size);
}

HDEVINFO WINAPI RecordGetClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    char line[128];
    snprintf(line, sizeof(line), "classdevs\t%d\t%p\t%#lx", classGuid != NULL, (void*)enumerator, (unsigned long)flags);
    AppendLog(line);
    if (strcmp(g_setupFault, "classdevs") == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return g_realGetClassDevs(classGuid, enumerator, parent, flags);
}

BOOL WINAPI RecordGetProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property, PDWORD type, PBYTE buffer,
                              DWORD size, PDWORD required) {
    char id[512];
    char line[700];
    DeviceId(set, device, id, sizeof(id));
    snprintf(line, sizeof(line), "property\t%s\t%lu\t%lu", id, (unsigned long)property, (unsigned long)size);
    AppendLog(line);
    if (strncmp(g_setupFault, "property:", 9) == 0 && lstrcmpiA(id, g_setupFault + 9) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (strncmp(g_setupFault, "empty:", 6) == 0 && lstrcmpiA(id, g_setupFault + 6) == 0) {
        if (required) *required = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (strncmp(g_setupFault, "stuck:", 6) == 0 && lstrcmpiA(id, g_setupFault + 6) == 0) {
        // Asks for a bigger buffer every time without asking for more than it was given.
        if (required) *required = size ? size : 16;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return g_realGetProperty(set, device, property, type, buffer, size, required);
}

BOOL WINAPI RecordCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device) {
    char id[512];
    char line[600];
    DeviceId(set, device, id, sizeof(id));
    snprintf(line, sizeof(line), "installer\t%u\t%s", (unsigned)function, id);
    AppendLog(line);
    if (function == DIF_REMOVE && strncmp(g_setupFault, "remove:", 7) == 0 && lstrcmpiA(id, g_setupFault + 7) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return g_realCallClassInstaller(function, set, device);
}

BOOL WINAPI RecordDestroyList(HDEVINFO set) {
    AppendLog("destroy");
    return g_realDestroyList(set);
}

BOOL WINAPI RecordDeleteFileA(LPCSTR path) {
    BOOL ok = g_realDeleteFileA(path);
    DWORD error = GetLastError();
    char line[MAX_PATH + 32];
    snprintf(line, sizeof(line), "delete\t%s\t%d", path ? path : "(null)", ok ? 1 : 0);
    AppendLog(line);
    SetLastError(error);
    return ok;
}

BOOL WINAPI ReportIsWow64Process(HANDLE process, PBOOL wow64) {
    if (strcmp(g_wow64, "yes") != 0) return g_realIsWow64Process(process, wow64);
    *wow64 = TRUE;
    return TRUE;
}

// The WOW64 functions the program asks kernel32 for: recorded, IsWow64Process wrapped.
FARPROC KernelProc(FARPROC real, LPCSTR name) {
    char line[128];
    snprintf(line, sizeof(line), "kproc\t%s", name);
    AppendLog(line);
    if (strcmp(g_wow64, "missing") == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    if (!real) return real;
    if (strcmp(name, "IsWow64Process") != 0) return real;
    g_realIsWow64Process = (decltype(g_realIsWow64Process))(void*)real;
    return (FARPROC)(void*)ReportIsWow64Process;
}

FARPROC WINAPI RecordGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC real = g_realGetProcAddress(module, name);
    if (module && module == GetModuleHandleA("kernel32.dll") && !IS_INTRESOURCE(name) &&
        (strcmp(name, "IsWow64Process") == 0 || strcmp(name, "Wow64DisableWow64FsRedirection") == 0 ||
         strcmp(name, "Wow64RevertWow64FsRedirection") == 0))
        return KernelProc(real, name);
    if (!module || module != g_setupApi || IS_INTRESOURCE(name)) return real;
    char line[300];
    snprintf(line, sizeof(line), "proc\t%s", name);
    AppendLog(line);
    if (strncmp(g_setupFault, "missing:", 8) == 0 && strcmp(name, g_setupFault + 8) == 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    if (!real) return real;
    g_getInstanceId = (decltype(g_getInstanceId))(void*)g_realGetProcAddress(module, "SetupDiGetDeviceInstanceIdA");
    if (strcmp(name, "SetupDiGetClassDevsA") == 0) {
        g_realGetClassDevs = (decltype(g_realGetClassDevs))(void*)real;
        return (FARPROC)(void*)RecordGetClassDevs;
    }
    if (strcmp(name, "SetupDiGetDeviceRegistryPropertyA") == 0) {
        g_realGetProperty = (decltype(g_realGetProperty))(void*)real;
        return (FARPROC)(void*)RecordGetProperty;
    }
    if (strcmp(name, "SetupDiCallClassInstaller") == 0) {
        g_realCallClassInstaller = (decltype(g_realCallClassInstaller))(void*)real;
        return (FARPROC)(void*)RecordCallClassInstaller;
    }
    if (strcmp(name, "SetupDiDestroyDeviceInfoList") == 0) {
        g_realDestroyList = (decltype(g_realDestroyList))(void*)real;
        return (FARPROC)(void*)RecordDestroyList;
    }
    return real;
}

BOOL WINAPI ReportGetVersionExA(LPOSVERSIONINFOA info) {
    BOOL ok = g_realGetVersionExA(info);
    if (ok) {
        info->dwPlatformId = g_version[0];
        info->dwMajorVersion = g_version[1];
        info->dwMinorVersion = g_version[2];
        info->dwBuildNumber = g_version[3];
    }
    return ok;
}

UINT WINAPI ReportGetWindowsDirectoryA(LPSTR buffer, UINT size) {
    UINT length = (UINT)strlen(g_windowsDirectory);
    if (length >= size) return length + 1;
    memcpy(buffer, g_windowsDirectory, length + 1);
    return length;
}

// Replaces module!function in the import address table of the program. Returns the
// original entry, or NULL when the program does not import it.
void* PatchImport(const char* module, const char* function, void* replacement) {
    BYTE* base = (BYTE*)GetModuleHandleA(NULL);
    IMAGE_DOS_HEADER* dos = (IMAGE_DOS_HEADER*)base;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name != 0; ++d) {
        if (lstrcmpiA((const char*)(base + d->Name), module) != 0) continue;
        IMAGE_THUNK_DATA* names =
            (IMAGE_THUNK_DATA*)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME* byName = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, function) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            void* original = (void*)slots->u1.Function;
            slots->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
            return original;
        }
    }
    return NULL;
}

void Install() {
    if (!GetEnvironmentVariableA("TLMREMOVE_REC_LOG", g_logPath, sizeof(g_logPath))) return;
    GetEnvironmentVariableA("TLMREMOVE_REC_ANSWERS", g_answers, sizeof(g_answers));
    char value[1024];
    if (GetEnvironmentVariableA("TLMREMOVE_REC_EXIT_RESULT", value, sizeof(value))) g_exitResult = atoi(value) != 0;
    g_realBoxes = GetEnvironmentVariableA("TLMREMOVE_REC_REAL_BOXES", value, sizeof(value)) != 0;
    GetEnvironmentVariableA("TLMREMOVE_REC_FAIL_LOAD", g_failLoad, sizeof(g_failLoad));
    if (GetEnvironmentVariableA("TLMREMOVE_REC_VERSION", value, sizeof(value))) {
        unsigned long p, ma, mi, b;
        if (sscanf(value, "%lu,%lu,%lu,%lu", &p, &ma, &mi, &b) == 4) {
            g_version[0] = p, g_version[1] = ma, g_version[2] = mi, g_version[3] = b;
            g_versionOverride = TRUE;
        }
    }
    GetEnvironmentVariableA("TLMREMOVE_REC_SETUP_FAULT", g_setupFault, sizeof(g_setupFault));
    GetEnvironmentVariableA("TLMREMOVE_REC_WOW64", g_wow64, sizeof(g_wow64));
    g_noToken = GetEnvironmentVariableA("TLMREMOVE_REC_NO_TOKEN", value, sizeof(value)) != 0;
    g_windowsDirectoryOverride =
        GetEnvironmentVariableA("TLMREMOVE_REC_WINDIR", g_windowsDirectory, sizeof(g_windowsDirectory)) != 0;

    char line[256];
    int patched = 0;
    g_realMessageBoxA = (decltype(g_realMessageBoxA))PatchImport("user32.dll", "MessageBoxA", (void*)RecordMessageBoxA);
    patched += g_realMessageBoxA != NULL;
    g_realExitWindowsEx =
        (decltype(g_realExitWindowsEx))PatchImport("user32.dll", "ExitWindowsEx", (void*)RecordExitWindowsEx);
    patched += g_realExitWindowsEx != NULL;
    g_realLoadLibraryA =
        (decltype(g_realLoadLibraryA))PatchImport("kernel32.dll", "LoadLibraryA", (void*)RecordLoadLibraryA);
    patched += g_realLoadLibraryA != NULL;
    g_realGetProcAddress =
        (decltype(g_realGetProcAddress))PatchImport("kernel32.dll", "GetProcAddress", (void*)RecordGetProcAddress);
    patched += g_realGetProcAddress != NULL;
    g_realFreeLibrary =
        (decltype(g_realFreeLibrary))PatchImport("kernel32.dll", "FreeLibrary", (void*)RecordFreeLibrary);
    patched += g_realFreeLibrary != NULL;
    g_realOpenProcessToken = (decltype(g_realOpenProcessToken))PatchImport("advapi32.dll", "OpenProcessToken",
                                                                           (void*)RecordOpenProcessToken);
    patched += g_realOpenProcessToken != NULL;
    g_realDeleteFileA =
        (decltype(g_realDeleteFileA))PatchImport("kernel32.dll", "DeleteFileA", (void*)RecordDeleteFileA);
    patched += g_realDeleteFileA != NULL;
    if (g_versionOverride) {
        g_realGetVersionExA =
            (decltype(g_realGetVersionExA))PatchImport("kernel32.dll", "GetVersionExA", (void*)ReportGetVersionExA);
        patched += g_realGetVersionExA != NULL;
    }
    if (g_windowsDirectoryOverride) {
        g_realGetWindowsDirectoryA = (decltype(g_realGetWindowsDirectoryA))PatchImport(
            "kernel32.dll", "GetWindowsDirectoryA", (void*)ReportGetWindowsDirectoryA);
        patched += g_realGetWindowsDirectoryA != NULL;
    }
    snprintf(line, sizeof(line), "attach\t%d\t%d", patched, ShutdownPrivilegeEnabled());
    AppendLog(line);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Install();
    return TRUE;
}

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
//
// Every record is a tab-separated line appended to the file TLMREMOVE_REC_LOG, with the
// state of the process' shutdown privilege at that moment.

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

char g_logPath[MAX_PATH];
char g_answers[256];
const char *g_nextAnswer = g_answers;
BOOL g_exitResult = TRUE;
BOOL g_realBoxes = FALSE;
char g_failLoad[MAX_PATH];
BOOL g_versionOverride = FALSE;
DWORD g_version[4];
char g_windowsDirectory[1024];
BOOL g_windowsDirectoryOverride = FALSE;

decltype(&MessageBoxA) g_realMessageBoxA;
decltype(&ExitWindowsEx) g_realExitWindowsEx;
decltype(&LoadLibraryA) g_realLoadLibraryA;
decltype(&GetVersionExA) g_realGetVersionExA;
decltype(&GetWindowsDirectoryA) g_realGetWindowsDirectoryA;

void AppendLog(const char *line)
{
    HANDLE file = CreateFileA(g_logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

void HexBytes(char *out, size_t outSize, const char *bytes)
{
    size_t used = 0;
    for (const unsigned char *p = (const unsigned char *)bytes; p && *p && used + 3 < outSize; ++p)
        used += (size_t)snprintf(out + used, outSize - used, "%02x", *p);
    out[used] = '\0';
}

// 1 when SeShutdownPrivilege is enabled in the process token, 0 when not, -1 unknown.
int ShutdownPrivilegeEnabled()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return -1;
    LUID shutdown;
    LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &shutdown);
    BYTE buffer[4096];
    DWORD size = 0;
    int result = -1;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size)) {
        const TOKEN_PRIVILEGES *privileges = (const TOKEN_PRIVILEGES *)buffer;
        result = 0;
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES &p = privileges->Privileges[i];
            if (p.Luid.LowPart == shutdown.LowPart && p.Luid.HighPart == shutdown.HighPart)
                result = (p.Attributes & SE_PRIVILEGE_ENABLED) ? 1 : 0;
        }
    }
    CloseHandle(token);
    return result;
}

int NextAnswer()
{
    while (*g_nextAnswer == ',' || *g_nextAnswer == ' ')
        ++g_nextAnswer;
    if (*g_nextAnswer == '\0')
        return IDCANCEL;        // more boxes than the test expected: decline
    char *end;
    long value = strtol(g_nextAnswer, &end, 10);
    g_nextAnswer = end;
    return (int)value;
}

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    static char hexText[2048];
    static char hexCaption[1024];
    static char line[4096];
    HexBytes(hexText, sizeof(hexText), text);
    HexBytes(hexCaption, sizeof(hexCaption), caption);
    int privilege = ShutdownPrivilegeEnabled();
    int answer = g_realBoxes ? g_realMessageBoxA(owner, text, caption, style) : NextAnswer();
    snprintf(line, sizeof(line), "box\t%p\t%#x\t%s\t%s\t%d\t%d", (void *)owner, style, hexCaption,
             hexText, answer, privilege);
    AppendLog(line);
    return answer;
}

BOOL WINAPI RecordExitWindowsEx(UINT flags, DWORD reason)
{
    char line[128];
    snprintf(line, sizeof(line), "exitwindows\t%#x\t%#lx\t%d", flags, (unsigned long)reason,
             ShutdownPrivilegeEnabled());
    AppendLog(line);
    if (!g_exitResult)
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return g_exitResult;
}

HMODULE WINAPI RecordLoadLibraryA(LPCSTR name)
{
    char line[MAX_PATH + 16];
    snprintf(line, sizeof(line), "load\t%s", name ? name : "(null)");
    AppendLog(line);
    if (name && g_failLoad[0] && lstrcmpiA(name, g_failLoad) == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return g_realLoadLibraryA(name);
}

BOOL WINAPI ReportGetVersionExA(LPOSVERSIONINFOA info)
{
    BOOL ok = g_realGetVersionExA(info);
    if (ok) {
        info->dwPlatformId = g_version[0];
        info->dwMajorVersion = g_version[1];
        info->dwMinorVersion = g_version[2];
        info->dwBuildNumber = g_version[3];
    }
    return ok;
}

UINT WINAPI ReportGetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    UINT length = (UINT)strlen(g_windowsDirectory);
    if (length >= size)
        return length + 1;
    memcpy(buffer, g_windowsDirectory, length + 1);
    return length;
}

// Replaces module!function in the import address table of the program. Returns the
// original entry, or NULL when the program does not import it.
void *PatchImport(const char *module, const char *function, void *replacement)
{
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)base;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        if (lstrcmpiA((const char *)(base + d->Name), module) != 0)
            continue;
        IMAGE_THUNK_DATA *names =
            (IMAGE_THUNK_DATA *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)byName->Name, function) != 0)
                continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &protection);
            void *original = (void *)slots->u1.Function;
            slots->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&slots->u1.Function, sizeof(void *), protection, &protection);
            return original;
        }
    }
    return NULL;
}

void Install()
{
    if (!GetEnvironmentVariableA("TLMREMOVE_REC_LOG", g_logPath, sizeof(g_logPath)))
        return;
    GetEnvironmentVariableA("TLMREMOVE_REC_ANSWERS", g_answers, sizeof(g_answers));
    char value[1024];
    if (GetEnvironmentVariableA("TLMREMOVE_REC_EXIT_RESULT", value, sizeof(value)))
        g_exitResult = atoi(value) != 0;
    g_realBoxes = GetEnvironmentVariableA("TLMREMOVE_REC_REAL_BOXES", value, sizeof(value)) != 0;
    GetEnvironmentVariableA("TLMREMOVE_REC_FAIL_LOAD", g_failLoad, sizeof(g_failLoad));
    if (GetEnvironmentVariableA("TLMREMOVE_REC_VERSION", value, sizeof(value))) {
        unsigned long p, ma, mi, b;
        if (sscanf(value, "%lu,%lu,%lu,%lu", &p, &ma, &mi, &b) == 4) {
            g_version[0] = p, g_version[1] = ma, g_version[2] = mi, g_version[3] = b;
            g_versionOverride = TRUE;
        }
    }
    g_windowsDirectoryOverride = GetEnvironmentVariableA("TLMREMOVE_REC_WINDIR", g_windowsDirectory,
                                                         sizeof(g_windowsDirectory)) != 0;

    char line[256];
    int patched = 0;
    g_realMessageBoxA = (decltype(g_realMessageBoxA))PatchImport("user32.dll", "MessageBoxA",
                                                                 (void *)RecordMessageBoxA);
    patched += g_realMessageBoxA != NULL;
    g_realExitWindowsEx = (decltype(g_realExitWindowsEx))PatchImport("user32.dll", "ExitWindowsEx",
                                                                     (void *)RecordExitWindowsEx);
    patched += g_realExitWindowsEx != NULL;
    g_realLoadLibraryA = (decltype(g_realLoadLibraryA))PatchImport("kernel32.dll", "LoadLibraryA",
                                                                   (void *)RecordLoadLibraryA);
    patched += g_realLoadLibraryA != NULL;
    if (g_versionOverride) {
        g_realGetVersionExA = (decltype(g_realGetVersionExA))PatchImport(
            "kernel32.dll", "GetVersionExA", (void *)ReportGetVersionExA);
        patched += g_realGetVersionExA != NULL;
    }
    if (g_windowsDirectoryOverride) {
        g_realGetWindowsDirectoryA = (decltype(g_realGetWindowsDirectoryA))PatchImport(
            "kernel32.dll", "GetWindowsDirectoryA", (void *)ReportGetWindowsDirectoryA);
        patched += g_realGetWindowsDirectoryA != NULL;
    }
    snprintf(line, sizeof(line), "attach\t%d\t%d", patched, ShutdownPrivilegeEnabled());
    AppendLog(line);
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        Install();
    return TRUE;
}

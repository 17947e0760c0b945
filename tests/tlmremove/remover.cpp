#include "remover.h"

#include "../support/process_start.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

const DWORD RUN_TIME_LIMIT_MS = 60000;

std::string ReadFileBytes(const std::string& path) {
    std::string data;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return data;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) data.append(buffer, n);
    std::fclose(file);
    return data;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((char)std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

void ParseLog(RemoverRun& run) {
    std::istringstream lines(run.log);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> f = SplitTabs(line);
        if (f[0] == "attach" && f.size() >= 3) {
            run.patchedImports = std::atoi(f[1].c_str());
            run.initialShutdownPrivilege = std::atoi(f[2].c_str());
        } else if (f[0] == "box" && f.size() >= 7) {
            RecordedBox box;
            box.owner = f[1];
            box.style = (unsigned)std::strtoul(f[2].c_str(), nullptr, 0);
            box.caption = FromCodePage(932, FromHex(f[3]));
            box.text = FromCodePage(932, FromHex(f[4]));
            box.answer = std::atoi(f[5].c_str());
            box.shutdownPrivilege = std::atoi(f[6].c_str());
            run.boxes.push_back(box);
        } else if (f[0] == "exitwindows" && f.size() >= 4) {
            run.restartFlags.push_back((unsigned)std::strtoul(f[1].c_str(), nullptr, 0));
            run.restartPrivilege.push_back(std::atoi(f[3].c_str()));
        } else if (f[0] == "load" && f.size() >= 2) {
            run.loadedLibraries.push_back(f[1]);
        } else if (f[0] == "proc" && f.size() >= 2) {
            run.setupProcs.push_back(f[1]);
        } else if (f[0] == "classdevs" && f.size() >= 4) {
            run.classDevsFlags.push_back(std::strtoul(f[3].c_str(), nullptr, 0));
        } else if (f[0] == "property" && f.size() >= 4) {
            if (f[2] == "1" && f[3] == "0")  // the first read of a device: size only
                run.propertyReads.push_back(f[1]);
        } else if (f[0] == "installer" && f.size() >= 3) {
            if (f[1] == "5")
                run.removedDevices.push_back(f[2]);
            else
                ++run.otherInstallerCalls;
        } else if (f[0] == "destroy") {
            ++run.listsDestroyed;
        } else if (f[0] == "token" && f.size() >= 2) {
            run.tokenOpens.push_back(std::strtoul(f[1].c_str(), nullptr, 0));
        } else if (f[0] == "kproc" && f.size() >= 2) {
            run.kernelProcs.push_back(f[1]);
        } else if (f[0] == "delete" && f.size() >= 3) {
            run.fileEvents.push_back("delete " + f[1]);
        } else if (f[0] == "redirect" && f.size() >= 3) {
            run.fileEvents.push_back(f[1] + (f[2] == "1" ? "" : " failed"));
        } else if (f[0] == "free") {
            ++run.setupApiReleased;
        }
    }
}

void SetOrClear(const char* name, const std::string& value, bool set) {
    SetEnvironmentVariableA(name, set ? value.c_str() : nullptr);
}

}  // namespace

std::wstring FromCodePage(unsigned codePage, const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), &text[0], n);
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::string BinaryDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

RemoverRun RunRemover(const RemoverOptions& options, void (*onStarted)(unsigned long processId, void* context),
                      void* context, void (*onInitialised)()) {
    RemoverRun run;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string logPath = std::string(temp) + "tlmremove-record.txt";
    DeleteFileA(logPath.c_str());

    std::string dir = BinaryDirectory();
    std::string exe = dir + "\\tlmremove.exe";
    std::string recorder = dir + "\\tlmremove_recorder.dll";

    SetEnvironmentVariableA("TLMREMOVE_REC_LOG", logPath.c_str());
    SetEnvironmentVariableA("TLMREMOVE_REC_ANSWERS", options.answers.c_str());
    SetOrClear("TLMREMOVE_REC_REAL_BOXES", "1", options.realBoxes);
    SetOrClear("TLMREMOVE_REC_EXIT_RESULT", "0", !options.restartSucceeds);
    SetOrClear("TLMREMOVE_REC_FAIL_LOAD", options.failLoad, !options.failLoad.empty());
    SetOrClear("TLMREMOVE_REC_VERSION", options.version, !options.version.empty());
    SetOrClear("TLMREMOVE_REC_WINDIR", options.windowsDirectory, !options.windowsDirectory.empty());
    SetOrClear("TLMREMOVE_REC_SETUP_FAULT", options.setupFault, !options.setupFault.empty());
    SetOrClear("TLMREMOVE_REC_NO_TOKEN", "1", options.noToken);
    SetOrClear("TLMREMOVE_REC_WOW64", options.wow64, !options.wow64.empty());

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + exe + "\"";
    if (!options.arguments.empty()) commandLine += " " + options.arguments;
    BOOL created = StartProcessRetrying([&] {
        return CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                              dir.c_str(), &startup, &process);
    });
    for (const char* name :
         {"TLMREMOVE_REC_LOG", "TLMREMOVE_REC_ANSWERS", "TLMREMOVE_REC_REAL_BOXES", "TLMREMOVE_REC_EXIT_RESULT",
          "TLMREMOVE_REC_FAIL_LOAD", "TLMREMOVE_REC_VERSION", "TLMREMOVE_REC_WINDIR", "TLMREMOVE_REC_SETUP_FAULT",
          "TLMREMOVE_REC_NO_TOKEN", "TLMREMOVE_REC_WOW64"})
        SetEnvironmentVariableA(name, nullptr);
    if (!created) {
        run.log = "CreateProcessA failed: " + std::to_string(GetLastError());
        return run;
    }

    // Load the recorder into the suspended program: a remote thread running LoadLibraryA.
    void* remoteName =
        VirtualAllocEx(process.hProcess, nullptr, recorder.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    WriteProcessMemory(process.hProcess, remoteName, recorder.c_str(), recorder.size() + 1, nullptr);
    auto loadLibrary = (LPTHREAD_START_ROUTINE)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
    HANDLE loader = CreateRemoteThread(process.hProcess, nullptr, 0, loadLibrary, remoteName, 0, nullptr);
    if (loader) {
        WaitForSingleObject(loader, RUN_TIME_LIMIT_MS);
        CloseHandle(loader);
    }
    // The thread's exit code holds only the low half of the module address; the recorder's
    // first record tells that it is in place.
    if (ReadFileBytes(logPath).rfind("attach\t", 0) != 0) {
        TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.log = "the recorder could not be loaded into tlmremove.exe";
        return run;
    }

    if (onInitialised) onInitialised();
    ResumeThread(process.hThread);
    if (onStarted) onStarted(process.dwProcessId, context);
    if (WaitForSingleObject(process.hProcess, RUN_TIME_LIMIT_MS) == WAIT_OBJECT_0) {
        run.finished = true;
        GetExitCodeProcess(process.hProcess, &run.exitCode);
    } else {
        TerminateProcess(process.hProcess, 98);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    run.log = ReadFileBytes(logPath);
    DeleteFileA(logPath.c_str());
    ParseLog(run);
    return run;
}

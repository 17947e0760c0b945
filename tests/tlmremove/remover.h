// Runs the real tlmremove.exe under the recorder DLL and reads back what it did on screen.
#pragma once

#include <string>
#include <vector>

struct RecordedBox {
    std::string owner;  // "0000000000000000" for no owner
    unsigned style = 0;
    std::wstring caption;  // decoded from code page 932
    std::wstring text;
    int answer = 0;
    int shutdownPrivilege = -1;
};

struct RemoverRun {
    bool finished = false;  // the process ended within the time limit
    unsigned long exitCode = 0;
    int patchedImports = 0;  // entries the recorder redirected
    int initialShutdownPrivilege = -1;
    std::vector<RecordedBox> boxes;
    std::vector<unsigned> restartFlags;  // one entry per ExitWindowsEx call
    std::vector<int> restartPrivilege;
    std::vector<std::string> loadedLibraries;
    // The setup API as the program used it.
    std::vector<std::string> setupProcs;        // names asked of GetProcAddress
    std::vector<unsigned long> classDevsFlags;  // one per SetupDiGetClassDevsA call
    std::vector<std::string> propertyReads;     // instance id of each hardware-id read
    std::vector<std::string> removedDevices;    // instance id of each DIF_REMOVE
    int otherInstallerCalls = 0;                // any other class installer function
    int listsDestroyed = 0;
    int setupApiReleased = 0;
    std::vector<unsigned long> tokenOpens;  // access asked of OpenProcessToken
    std::vector<std::string> kernelProcs;   // WOW64 functions asked of GetProcAddress
    // In order: "delete <path>" (each DeleteFileA), "off" and "on" (each successful call
    // that turned file-system redirection off or back on), "off failed", "on failed".
    std::vector<std::string> fileEvents;
    std::string log;  // the raw record, for failure messages
};

struct RemoverOptions {
    std::string answers = "1,1";  // buttons the recorded boxes return, in order
    bool realBoxes = false;       // show the real boxes; the caller answers on screen
    bool restartSucceeds = true;
    std::string failLoad;          // LoadLibraryA of this name fails
    std::string version;           // "platform,major,minor,build" reported by GetVersionExA
    std::string windowsDirectory;  // reported by GetWindowsDirectoryA
    std::string arguments;         // appended to the command line
    bool noToken = false;          // OpenProcessToken fails
    std::string setupFault;        // "missing:<function>", "classdevs", "property:<instance id>", "stuck:<id>",
                                   // "empty:<id>", "remove:<id>"
    std::string wow64;             // "yes": reported as a WOW64 process; "missing": no WOW64 functions
};

// Starts tlmremove.exe suspended, loads the recorder into it, lets it run and waits for
// its end. onStarted (if given) runs while the program is running (to answer real boxes).
// onInitialised (if given) runs once the program's process has initialised (it has read
// its Windows version) and before its main thread starts.
RemoverRun RunRemover(const RemoverOptions& options,
                      void (*onStarted)(unsigned long processId, void* context) = nullptr, void* context = nullptr,
                      void (*onInitialised)() = nullptr);

// Directory of the test program (tlmremove.exe and the recorder live next to it).
std::string BinaryDirectory();

std::wstring FromCodePage(unsigned codePage, const std::string& bytes);
std::string ToUtf8(const std::wstring& text);

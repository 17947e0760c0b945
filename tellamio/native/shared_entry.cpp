// The native shared library of the simulated transport (libtellamio.so): what the loader
// does for tellamio.dll, the attach and detach of DllMain, done at load and unload. It has
// no pipe server: native programs and tests use the control functions directly.
#include "internal.h"
#include "sim_library.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

__attribute__((constructor)) static void AttachLibrary() { DllMain(NULL, DLL_PROCESS_ATTACH, NULL); }
__attribute__((destructor)) static void DetachLibrary() { DllMain(NULL, DLL_PROCESS_DETACH, NULL); }

void StartPipeServer() {}

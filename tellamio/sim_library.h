// Inside the simulated library: the model that its transport answers from, reached by the
// control exports (sim_exports.cpp) and by tlmsimctl through the named pipe (sim_pipe.cpp).
#pragma once

#include <windows.h>

#include <stddef.h>

#include "tlmsim_control.h"

// Answers one private request of tlmsim_control.h on the library's model, as tlmsim.sys
// answers it on its control device. Returns 0, or the Win32 error value of the refusal.
DWORD SimControl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);

// Replaces the boards (0 to TLMSIM_MAX_BOARDS). 0, or the Win32 error value of the refusal.
DWORD SimSetBoards(const TlmSimBoardConfig* boards, uint32_t count);

// Starts the pipe server through which tlmsimctl --process reaches this process' model
// (Windows; the first use of the library starts it, never DllMain). Returns at once.
void StartPipeServer();

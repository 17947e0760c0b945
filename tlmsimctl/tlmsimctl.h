// tlmsimctl: the simulated Tellam boards of tlmsim.sys, driven from a command prompt.
//
// Every command parses its whole command line first and only then opens the simulator's
// control device, so a mistyped command never changes the simulator. Exit codes: 0 done,
// 1 the driver or Windows refused, 2 bad argument (one line naming it), 3 no simulator.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "parse.h"    // the command-line words
#include "simhost.h"  // number parsing, board files, trace lines
#include "tellam_protocol.h"
#include "tlmsim_control.h"

#define EXIT_DONE      0
#define EXIT_REFUSED   1
#define EXIT_USAGE     2
#define EXIT_NO_DRIVER 3

#define SIM_SERVICE_NAME "tlmsim"

// Prints "tlmsimctl: <message>" on stderr and returns exitCode: EXIT_USAGE for a bad
// argument, EXIT_REFUSED for what the driver or Windows refused.
int Fail(int exitCode, const char* format, ...) __attribute__((format(printf, 2, 3)));
// EXIT_DONE, or EXIT_USAGE naming the first argument past the `max` that `command` takes.
int TooMany(int argc, char** argv, int max, const char* command);

// Connecting (connect.cpp). With --process, before anything is connected: the commands reach
// the simulated tellamio.dll of that program through its pipe instead of tlmsim.sys.
void UseProcess(DWORD process);
bool UsingProcess(void);
// Opens "\\.\TLMDRV" (or the pipe) and checks that the simulator answers; EXIT_DONE or
// EXIT_NO_DRIVER (with the message printed).
int ConnectSimulator(void);
// Closes what ConnectSimulator opened, if anything.
void DisconnectSimulator(void);
// After the boards were replaced: tells when programs held boards open (they lost them).
void NoteLostSelections(void);
// One private request on the control device (or the pipe): 0 or the last-error value.
DWORD SimRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
// Short text for a last-error value of a private request.
const char* ErrorText(DWORD error);
// The driver's boards, read with TLMSIM_IOCTL_GET_BOARDS; EXIT_DONE or EXIT_REFUSED.
int ReadBoards(TlmSimBoardConfig* boards, uint32_t* count);

// The simulator as a whole (commands.cpp).
int CmdStatus(int argc, char** argv);
int CmdReset(int argc, char** argv);
int CmdClock(int argc, char** argv);
int CmdFault(int argc, char** argv);

// One board or one axis (axes.cpp).
int CmdInput(int argc, char** argv);
int CmdSensors(int argc, char** argv);
int CmdCarriage(int argc, char** argv);
int CmdCmp(int argc, char** argv);

// Board files (boardfile.cpp).
int CmdBoards(int argc, char** argv);

// The request trace (trace.cpp).
int CmdTrace(int argc, char** argv);

// The kernel service (service.cpp).
int CmdInstall(int argc, char** argv);
int CmdUninstall(int argc, char** argv);

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
// EXIT_DONE, or EXIT_USAGE when `command` is given fewer than `min` arguments or more than
// `max` (naming the first one too many).
int ArgumentCount(int argc, char** argv, int min, int max, const char* command);

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

// The commands: each takes the words after its name and returns the exit code.
typedef int CommandFunction(int argc, char** argv);
CommandFunction CmdStatus, CmdReset, CmdClock, CmdFault;    // the simulator as a whole (commands.cpp)
CommandFunction CmdInput, CmdSensors, CmdCarriage, CmdCmp;  // one board or one axis (axes.cpp)
CommandFunction CmdBoards;                                  // board files (boardfile.cpp)
CommandFunction CmdTrace;                                   // the request trace (trace.cpp)
CommandFunction CmdInstall, CmdUninstall;                   // the kernel service (service.cpp)

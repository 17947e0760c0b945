/* tellamio_sim: the control functions of the simulated tellamio.dll (bin/sim/tellamio.dll).
 *
 * The simulated library has the twenty tlmio_ exports of the real one, at the same ordinals,
 * and answers them from simulated Tellam boards inside the library instead of the board's
 * driver. These functions, exported by name only, set those boards up and watch them from
 * a program's own code or tests, as tlmsimctl does from a command prompt. The real
 * tellamio.dll does not have them: look them up with GetProcAddress when a program must run
 * on both.
 *
 * Every function returns 0 on success or a Win32 error value: ERROR_INVALID_PARAMETER (87)
 * for a record, board, axis or value the simulator refuses, ERROR_INSUFFICIENT_BUFFER (122)
 * for an output too small, ERROR_BAD_FORMAT (11) for a bad board file. A board is named by
 * its ManagementNumber, an axis by its number (0 = X ... 5 = W). The records and constants
 * (TLMSIM_...) are those of tlmsim_control.h. Usable from C and C++. */
#ifndef TELLAMIO_SIM_H
#define TELLAMIO_SIM_H

#include "tellamio.h"
#include "tlmsim_control.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Any request of tlmsim_control.h (TLMSIM_IOCTL_...), with its input and output records;
 * *returned gets the byte count of the reply. The functions below are made of it. */
DWORD WINAPI tlmsim_Request(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);

/* Back to one six-axis board 0: empty trace, no faults, nothing forced, real clock. Boards
 * a program holds open stay open but lose their board selection. */
DWORD WINAPI tlmsim_Reset(void);

/* The simulated boards: 0 to TLMSIM_MAX_BOARDS, put in their power-on state. */
DWORD WINAPI tlmsim_SetBoards(const TlmSimBoardConfig* boards, DWORD count);
DWORD WINAPI tlmsim_GetBoards(TlmSimBoardConfig* boards, DWORD room, DWORD* count);
/* The boards of a board file, in the format of tlmsimctl boards save; and back. */
DWORD WINAPI tlmsim_LoadBoards(const char* path);
DWORD WINAPI tlmsim_SaveBoards(const char* path);

/* Drives the source of an input: input TLMSIM_INPUT_PLUS_ELS ... TLMSIM_INPUT_SVALM, force
 * TLMSIM_FORCE_ASSERTED (the sensor detects), TLMSIM_FORCE_RELEASED or TLMSIM_FORCE_FOLLOW
 * (the sensor on the travel decides again). With the default wiring and contacts an input
 * forced on reads active, and an active limit stops a move towards it. */
DWORD WINAPI tlmsim_SetInput(LONG board, DWORD axis, DWORD input, DWORD force);
/* Where the sensors of an axis are, in pulses of carriage position. */
DWORD WINAPI tlmsim_SetSensors(const TlmSimSetSensors* sensors);
DWORD WINAPI tlmsim_GetSensors(LONG board, DWORD axis, TlmSimSetSensors* sensors);
/* The carriage of an axis: moved by hand only while the axis stands (else 87). */
DWORD WINAPI tlmsim_SetCarriage(LONG board, DWORD axis, LONGLONG position);
DWORD WINAPI tlmsim_GetCarriage(LONG board, DWORD axis, LONGLONG* position);
/* The comparator status, bit 0x01 of port 0x88, on (nonzero) or off. */
DWORD WINAPI tlmsim_SetComparator(LONG board, BOOL on);

/* The simulator's time: stop it, let it run with the real time again (from every mode), move
 * it on by `ns` nanoseconds (moves run on meanwhile), read it (*frozen: it stands between
 * advances, frozen or virtual). TELLAMIO_SIM_CLOCK chooses the mode at the first call:
 * "real", "virtual", or "x" and a scale ("x10", "x0.5"). */
DWORD WINAPI tlmsim_ClockFreeze(void);
DWORD WINAPI tlmsim_ClockRun(void);
DWORD WINAPI tlmsim_ClockAdvance(ULONGLONG ns);
DWORD WINAPI tlmsim_ClockNow(ULONGLONG* ns, BOOL* frozen);
/* Simulated time `scale` times as fast as the real time, 0.01 to 10000 (else 87), to a
 * thousandth; 1.0 is the real time. */
DWORD WINAPI tlmsim_ClockScale(double scale);
/* Virtual time: the clock moves only by the waits of tlmsim_Sleep (of every thread) and
 * tlmsim_ClockAdvance, so a motion program runs as fast as the processor allows. */
DWORD WINAPI tlmsim_ClockVirtual(void);
/* Waits `ms` milliseconds of simulated time: in real time, ms / scale of real time, or in
 * virtual time none (the clock moves on at once). Frozen: 87, as it would never return. */
DWORD WINAPI tlmsim_Sleep(DWORD ms);
/* The simulated time in milliseconds, wrapping at 2^32 as GetTickCount, for timeouts. */
DWORD WINAPI tlmsim_TickCount(DWORD* ms);

/* Makes requests fail or answer wrongly: kind TLMSIM_FAULT_..., the request number it hits
 * (0: every request with control code `code`), the NTSTATUS of a failure, the value of the
 * other kinds. At most 8 at a time (then 1450). */
DWORD WINAPI tlmsim_AddFault(DWORD kind, DWORD request, DWORD code, LONG status, DWORD value);
DWORD WINAPI tlmsim_ClearFaults(void);

/* The board requests the program sent, from request number `first` on (1: all the trace
 * holds): up to `room` entries, *count of them stored. */
DWORD WINAPI tlmsim_ReadTrace(DWORD first, TlmSimBoardTraceEntry* entries, DWORD room, DWORD* count);
DWORD WINAPI tlmsim_ResetTrace(void);
/* One trace entry as a line of tlmsimctl trace (no line end); a null entry gives the column
 * heads. 256 characters hold any line. */
DWORD WINAPI tlmsim_FormatTraceLine(const TlmSimBoardTraceEntry* entry, char* line, DWORD room);

/* Boards, open handles by device kind (the control functions hold one on the control
 * device), traced requests, faults and the clock. */
DWORD WINAPI tlmsim_GetState(TlmSimState* state);

#ifdef __cplusplus
}
#endif

#endif /* TELLAMIO_SIM_H */

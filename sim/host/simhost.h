// Board files, trace lines and number parsing for the programs around the board model:
// tlmsimctl and the simulated tellamio library share them, so that a board file one writes
// the other reads, and a trace line reads the same wherever it is printed. Hosted C++ (the
// C runtime), for Windows and the native build.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "tlmsim_control.h"

// Strict number parsing: decimal or 0x hexadecimal, optional sign, nothing after it.
bool ParseInt64(const char* text, int64_t min, int64_t max, int64_t* value);
bool ParseInt32(const char* text, int32_t min, int32_t max, int32_t* value);
bool SameText(const char* a, const char* b);                 // ASCII, without letter case
bool SameTextN(const char* a, const char* b, size_t count);  // the first `count` characters

// A clock scale as a decimal number with at most three decimals ("10", "0.5"), from 0.01 to
// 10000, into thousandths (TLMSIM_CLOCK_SCALE's value).
bool ParseClockScale(const char* text, uint32_t* scale);
// The clock setting of TELLAMIO_SIM_CLOCK: "real", "virtual", or "x" and a scale ("x10"), as
// the clock operation that sets it and its scale.
bool ParseClockSetting(const char* text, uint32_t* op, uint32_t* scale);

// Reads a board file (the format of `tlmsimctl boards save`) into `boards`, which has room
// for TLMSIM_MAX_BOARDS. False with one line in `error` that names the file, the line and
// what is wrong with it; the boards read so far are then of no use.
bool ReadBoardFile(const char* path, TlmSimBoardConfig* boards, uint32_t* count, char* error, size_t errorRoom);
// Writes the boards in that format; false when the file does not take them.
bool WriteBoardFile(FILE* file, const TlmSimBoardConfig* boards, uint32_t count);

// One line of the decoded request trace, without its line end, as `tlmsimctl trace` prints
// it: request number, board, request, axis, port, value, result. TraceHeadLine gives the
// column heads. TRACE_LINE_ROOM holds any line.
void TraceHeadLine(char* line, size_t room);
void TraceLine(const TlmSimBoardTraceEntry& entry, char* line, size_t room);
// The same fields comma-separated, for a spreadsheet (`tlmsimctl trace --csv`).
void TraceCsvHeadLine(char* line, size_t room);
void TraceCsvLine(const TlmSimBoardTraceEntry& entry, char* line, size_t room);
#define TRACE_LINE_ROOM 256

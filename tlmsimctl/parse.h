// tlmsimctl's command-line words: boards, axes, inputs, sensor settings, durations, requests
// and fault kinds. Each is a function of its text alone (no driver, no output, nothing kept
// between calls): true with the result, or false with the result left as it was. So every
// command checks its whole command line before it opens the simulator, and the parsing builds
// and is tested natively as well (tests/tlmsimctl/parse_test.cpp). Letter case never matters.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tlmsim_control.h"

// BOARD: a management number (the N of \\.\TLMDRVN), 0 to 9999.
bool ParseBoard(const char* text, int32_t* board);
// AXIS: 0 to 5 or X, Y, Z, U, V, W.
bool ParseAxis(const char* text, uint32_t* axis);
// The letter of axis 0 to 5, as the commands print it.
char AxisName(uint32_t axis);

// An axis input: +ELS, -ELS, DLS, OLS, Z, INPOS or SVALM (TLMSIM_INPUT_*).
bool ParseInputName(const char* text, uint32_t* input);
// The name of input 0 to TLMSIM_INPUT_COUNT - 1, spelled as above.
const char* InputName(uint32_t input);
// The state of a forced input: on, off or follow (TLMSIM_FORCE_ASSERTED, _RELEASED, _FOLLOW).
bool ParseForce(const char* text, uint32_t* force);
// on or off: 1 or 0.
bool ParseOnOff(const char* text, uint32_t* on);

// POSITION of a carriage: whole pulses, -2^53 to 2^53.
bool ParsePosition(const char* text, int64_t* position);

// One bound of a zone: `length` characters of text. No characters at all: `open` (INT32_MIN
// or INT32_MAX, no end on that side); a number given lies strictly between the two.
bool ParseBound(const char* text, size_t length, int32_t open, int32_t* value);
// A zone of `length` characters: FROM..TO with either bound left out (not both), FROM <= TO,
// or none (from 1, to 0: never detects).
bool ParseZone(const char* text, size_t length, TlmSimZone* zone);
// One setting of `tlmsimctl sensors` applied to *sensors: +ELS=ZONE, -ELS=ZONE, OLS=ZONE,
// DLS=ZONE[,ZONE] (one zone: no second dog), Z=PERIOD[/OFFSET[/WIDTH]] (offset 0 and width
// 1 when left out, 1 <= WIDTH <= PERIOD) or Z=none, normally-open=LIST|none (inputs but Z,
// comma-separated). False, and *sensors unchanged, for anything else.
bool ApplySensorSetting(const char* setting, TlmSimSetSensors* sensors);

// DURATION: a number, decimals allowed (to a billionth), with a unit ns, us, ms, s or min;
// in nanoseconds, the finer digits dropped.
bool ParseDuration(const char* text, uint64_t* ns);
// A clock operation: show, freeze, run or advance (TLMSIM_CLOCK_*).
bool ParseClockOp(const char* text, uint32_t* op);

// A request number of the trace: 1 to 2^32 - 1.
bool ParseRequestNumber(const char* text, uint32_t* number);
// REQUEST: a request name of tellam_protocol.h ('-' for '_' allowed), every request of that
// kind: *code its control code, *number 0. Or #N / N, request number N of the trace: *code 0.
bool ParseRequest(const char* text, uint32_t* code, uint32_t* number);
// A fault kind: fail, bytes, records or reply (TLMSIM_FAULT_*).
bool ParseFaultKind(const char* text, uint32_t* kind);
// The largest value of a bytes, records or reply fault.
int64_t FaultValueLimit(uint32_t kind);
// STATUS of a fail fault: an NTSTATUS error code, 0xC0000000 to 0xFFFFFFFF (a fault that
// answered success would report a failed request as done).
bool ParseFaultStatus(const char* text, int32_t* status);

// PID of --process: 1 to 2^32 - 1.
bool ParseProcessId(const char* text, uint32_t* process);

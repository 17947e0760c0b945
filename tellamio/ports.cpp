// Port access: per-axis command, mode, control, status and data ports and the board-wide
// registers. Each export checks its arguments, then holds the open-board table shared while
// it looks the board up and sends its requests, so that a close on another thread waits for
// the call instead of closing its device under it.
#include "internal.h"
#include "tellam_controller.h"

// The axis blocks end where the board-wide ports begin: an axis 8 would write its command
// to the limit-switch register at 0x80.
#define AXIS_BLOCKS_END TLM_PORT_ELS

static DWORD AxisPort(WORD axis, DWORD offset) { return (DWORD)axis * TLM_AXIS_PORTS + offset; }

// Arguments first: an axis past the axis blocks, or a missing out-parameter, fails the call
// before the board is looked up or anything is sent.
static bool ArgumentsValid(DWORD axis, bool outGiven = true) {
    if (axis * TLM_AXIS_PORTS >= AXIS_BLOCKS_END || !outGiven) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

#define NO_AXIS 0  // for the board-wide ports

static BOOL WritePort(BoardRecord* record, DWORD code, DWORD port, DWORD value) {
    TlmPortWrite request = {port, value};
    DWORD returned;
    return SendRequest(record->Device, code, &request, sizeof request, NULL, 0, &returned);
}

static BOOL WriteByte(BoardRecord* record, DWORD port, BYTE value) {
    return WritePort(record, IOCTL_WRITE_BYTE, port, value);
}

static BOOL WriteWord(BoardRecord* record, DWORD port, WORD value) {
    return WritePort(record, IOCTL_WRITE_WORD, port, value);
}

// A read succeeds only when the driver returns exactly the bytes asked for.
static bool ReadByte(BoardRecord* record, DWORD port, BYTE* value) {
    TlmPortRead request = {port};
    BYTE reply = 0;
    DWORD returned;
    if (!SendRequest(record->Device, IOCTL_READ_BYTE, &request, sizeof request, &reply, sizeof reply, &returned) ||
        returned != 1)
        return false;
    *value = reply;
    return true;
}

static bool ReadWord(BoardRecord* record, DWORD port, WORD* value) {
    TlmPortRead request = {port};
    BYTE reply[2] = {0, 0};
    DWORD returned;
    if (!SendRequest(record->Device, IOCTL_READ_WORD, &request, sizeof request, reply, sizeof reply, &returned) ||
        returned != 2)
        return false;
    *value = (WORD)(reply[0] | (reply[1] << 8));
    return true;
}

// The data word of an axis: low word, then high word.
static bool ReadDataWord(BoardRecord* record, WORD axis, DWORD* value) {
    WORD low, high;
    if (!ReadWord(record, AxisPort(axis, TLM_PORT_DATA_LOW), &low) ||
        !ReadWord(record, AxisPort(axis, TLM_PORT_DATA_HIGH), &high))
        return false;
    *value = ((DWORD)high << 16) | low;
    return true;
}

static BOOL WriteBytePort(TLMIO_HANDLE board, WORD axis, DWORD port, BYTE value) {
    if (!ArgumentsValid(axis)) return FALSE;
    TableUse use;
    BoardRecord* record = BeginBoardUse(board, &use);
    BOOL ok = record != NULL && WriteByte(record, port, value);
    EndTableUse(use);
    return ok;
}

static BOOL ReadBytePort(TLMIO_HANDLE board, WORD axis, DWORD port, BYTE* value) {
    if (!ArgumentsValid(axis, value != NULL)) return FALSE;
    TableUse use;
    BoardRecord* record = BeginBoardUse(board, &use);
    BOOL ok = record != NULL && ReadByte(record, port, value);
    EndTableUse(use);
    return ok;
}

// A decelerating stop of an axis that already runs at its FL speed is sent as an immediate
// stop. A value that cannot be read counts as the command itself.
static BYTE StopCommandFor(BoardRecord* record, WORD axis, BYTE command, bool* writeFailed) {
    DWORD commandPort = AxisPort(axis, TLM_PORT_COMMAND);
    DWORD flSpeed = command, currentSpeed = command;
    if (!WriteByte(record, commandPort, TLM_CMD_READ(TLM_REG_FL))) {
        *writeFailed = true;
        return command;
    }
    ReadDataWord(record, axis, &flSpeed);
    if (!WriteByte(record, commandPort, TLM_CMD_READ(TLM_REG_SPEED))) {
        *writeFailed = true;
        return command;
    }
    if (ReadDataWord(record, axis, &currentSpeed)) currentSpeed &= TLM_SPEED_BITS;
    return flSpeed == currentSpeed ? TLM_CMD_IMMEDIATE_STOP : command;
}

static BOOL SendCommand(BoardRecord* record, WORD axis, BYTE command, WORD withData, DWORD data) {
    if (withData != 0) {
        if (!WriteWord(record, AxisPort(axis, TLM_PORT_DATA_LOW), (WORD)(data & 0xFFFF)) ||
            !WriteWord(record, AxisPort(axis, TLM_PORT_DATA_HIGH), (WORD)(data >> 16)))
            return FALSE;
    }
    if (command == TLM_CMD_DECEL_STOP) {
        bool writeFailed = false;
        command = StopCommandFor(record, axis, command, &writeFailed);
        if (writeFailed) return FALSE;
    }
    return WriteByte(record, AxisPort(axis, TLM_PORT_COMMAND), command);
}

BOOL WINAPI tlmio_CmdWrite(TLMIO_HANDLE board, WORD axis, BYTE command, WORD withData, DWORD data) {
    if (!ArgumentsValid(axis)) return FALSE;
    TableUse use;
    BoardRecord* record = BeginBoardUse(board, &use);
    BOOL ok = record != NULL && SendCommand(record, axis, command, withData, data);
    EndTableUse(use);
    return ok;
}

BOOL WINAPI tlmio_DousaWrite(TLMIO_HANDLE board, WORD axis, BYTE mode) {
    return WriteBytePort(board, axis, AxisPort(axis, TLM_PORT_MODE), mode);
}

BOOL WINAPI tlmio_SeigyoWrite(TLMIO_HANDLE board, WORD axis, BYTE control) {
    return WriteBytePort(board, axis, AxisPort(axis, TLM_PORT_CONTROL), control);
}

BOOL WINAPI tlmio_status1Read(TLMIO_HANDLE board, WORD axis, BYTE* status) {
    return ReadBytePort(board, axis, AxisPort(axis, TLM_PORT_STATUS1), status);
}

BOOL WINAPI tlmio_status2Read(TLMIO_HANDLE board, WORD axis, BYTE* status) {
    return ReadBytePort(board, axis, AxisPort(axis, TLM_PORT_STATUS2), status);
}

BOOL WINAPI tlmio_intstatusRead(TLMIO_HANDLE board, WORD axis, BYTE* status) {
    return ReadBytePort(board, axis, AxisPort(axis, TLM_PORT_INT_STATUS), status);
}

BOOL WINAPI tlmio_regRead(TLMIO_HANDLE board, WORD axis, BYTE command, DWORD* value) {
    if (!ArgumentsValid(axis, value != NULL)) return FALSE;
    TableUse use;
    BoardRecord* record = BeginBoardUse(board, &use);
    BOOL ok = record != NULL && WriteByte(record, AxisPort(axis, TLM_PORT_COMMAND), command) &&
              ReadDataWord(record, axis, value);
    EndTableUse(use);
    return ok;
}

BOOL WINAPI tlmio_ElstWrite(TLMIO_HANDLE board, BYTE value) {
    return WriteBytePort(board, NO_AXIS, TLM_PORT_ELS, value);
}

BOOL WINAPI tlmio_ElstRead(TLMIO_HANDLE board, BYTE* value) {
    return ReadBytePort(board, NO_AXIS, TLM_PORT_ELS, value);
}

BOOL WINAPI tlmio_CmpcWrite(TLMIO_HANDLE board, BYTE value) {
    return WriteBytePort(board, NO_AXIS, TLM_PORT_CMP, value);
}

BOOL WINAPI tlmio_CmpcRead(TLMIO_HANDLE board, BYTE* value) {
    return ReadBytePort(board, NO_AXIS, TLM_PORT_CMP, value);
}

BOOL WINAPI tlmio_boardIDRead(TLMIO_HANDLE board, BYTE* boardId) {
    BYTE value;
    if (!ReadBytePort(board, NO_AXIS, TLM_PORT_BOARD_ID, boardId != NULL ? &value : NULL)) return FALSE;
    *boardId = value & TLM_BOARD_ID_MASK;
    return TRUE;
}

// All eight bytes or nothing: a partial ID number would pass for another board's.
static bool ReadIdNumber(BoardRecord* record, BYTE* idNumber) {
    BYTE bytes[TLM_ID_NUMBER_BYTES];
    for (DWORD i = 0; i < TLM_ID_NUMBER_BYTES; ++i)
        if (!ReadByte(record, TLM_PORT_ID_NUMBER + 2 * i, &bytes[i])) return false;
    for (DWORD i = 0; i < TLM_ID_NUMBER_BYTES; ++i) idNumber[i] = bytes[i];
    return true;
}

BOOL WINAPI tlmio_IDNumberRead(TLMIO_HANDLE board, BYTE* idNumber) {
    if (!ArgumentsValid(NO_AXIS, idNumber != NULL)) return FALSE;
    TableUse use;
    BoardRecord* record = BeginBoardUse(board, &use);
    BOOL ok = record != NULL && ReadIdNumber(record, idNumber);
    EndTableUse(use);
    return ok;
}

BOOL WINAPI tlmio_INTRDRead(TLMIO_HANDLE board, BYTE* value) {
    return ReadBytePort(board, NO_AXIS, TLM_PORT_INTRD, value);
}

BOOL WINAPI tlmio_INTRst(TLMIO_HANDLE board) { return WriteBytePort(board, NO_AXIS, TLM_PORT_INTRST, TLM_INTRST_ALL); }

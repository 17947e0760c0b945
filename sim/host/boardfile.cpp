// Board files: one [board N] section per simulated board. What WriteBoardFile writes,
// ReadBoardFile reads back unchanged.
#include <stdarg.h>
#include <string.h>

#include "simhost.h"

#define LINE_SIZE 256

// Keys of a board section; the first six must be given.
enum {
    KEY_BUS,
    KEY_DEVICE,
    KEY_IO_ADDRESS,
    KEY_IRQ,
    KEY_BOARD_ID,
    KEY_AXES,
    KEY_BOARD_ID_HIGH,
    KEY_ID_NUMBER,
    KEY_COUNT,
    KEY_REQUIRED = KEY_BOARD_ID_HIGH,
};

static const char* const KEY_NAMES[KEY_COUNT] = {"bus",      "device", "io-address",    "irq",
                                                 "board-id", "axes",   "board-id-high", "id-number"};

static bool Fail(char* error, size_t room, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(error, room, format, args);
    va_end(args);
    return false;
}

static char* Trim(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r' || text[n - 1] == '\n'))
        text[--n] = 0;
    return text;
}

// A 32-bit field: signed decimal or hexadecimal up to 0xFFFFFFFF.
static bool ParseField(const char* text, int32_t* value) {
    int64_t v;
    if (!ParseInt64(text, INT32_MIN, UINT32_MAX, &v)) return false;
    *value = (int32_t)(uint32_t)(uint64_t)v;
    return true;
}

static bool ParseIdNumber(char* text, uint8_t* bytes) {
    int n = 0;
    for (char* item = strtok(text, " \t"); item != NULL; item = strtok(NULL, " \t")) {
        int64_t v;
        char hex[8];
        if (n == 8 || strlen(item) > 2) return false;
        snprintf(hex, sizeof hex, "0x%s", item);
        if (!ParseInt64(hex, 0, 255, &v)) return false;
        bytes[n++] = (uint8_t)v;
    }
    return n == 8;
}

// The section heading "[board N]": a new record, unless N is bad or taken.
static bool StartSection(char* text, const char* path, int number, TlmSimBoardConfig* boards, uint32_t* count,
                         char* error, size_t room) {
    int32_t mn;
    size_t n = strlen(text);
    if (n < 8 || !SameTextN(text, "[board ", 7) || text[n - 1] != ']')
        return Fail(error, room, "%s:%d: '%s' is not a section [board N]", path, number, text);
    text[n - 1] = 0;
    if (!ParseInt32(Trim(text + 7), 0, 9999, &mn))
        return Fail(error, room, "%s:%d: board '%s': not a management number (0 to 9999)", path, number, text + 7);
    for (uint32_t i = 0; i < *count; ++i)
        if (boards[i].info.ManagementNumber == mn)
            return Fail(error, room, "%s:%d: board %ld twice", path, number, (long)mn);
    if (*count == TLMSIM_MAX_BOARDS)
        return Fail(error, room, "%s:%d: more than %d boards", path, number, TLMSIM_MAX_BOARDS);
    TlmSimBoardConfig* board = &boards[(*count)++];
    memset(board, 0, sizeof *board);
    board->info.ManagementNumber = mn;
    return true;
}

static bool ReadKey(char* text, const char* path, int number, TlmSimBoardConfig* board, bool* seen, char* error,
                    size_t room) {
    char* eq = strchr(text, '=');
    if (board == NULL || eq == NULL)
        return Fail(error, room, "%s:%d: '%s' is not KEY = VALUE inside a [board N] section", path, number, text);
    *eq = 0;
    char* key = Trim(text);
    char* value = Trim(eq + 1);
    int k = 0;
    while (k < KEY_COUNT && !SameText(key, KEY_NAMES[k])) ++k;
    if (k == KEY_COUNT) return Fail(error, room, "%s:%d: unknown key '%s'", path, number, key);
    if (seen[k]) return Fail(error, room, "%s:%d: %s given twice", path, number, key);
    seen[k] = true;
    int32_t v = 0;
    bool ok = true;
    switch (k) {
        case KEY_BUS: ok = ParseField(value, &board->info.BusNumber); break;
        case KEY_DEVICE: ok = ParseField(value, &board->info.DeviceNumber); break;
        case KEY_IO_ADDRESS: ok = ParseField(value, &board->info.IoAddress); break;
        case KEY_IRQ: ok = ParseField(value, &board->info.IrqNumber); break;
        case KEY_BOARD_ID: ok = ParseField(value, &board->info.BoardId); break;
        case KEY_AXES:
            ok = ParseInt32(value, 4, 6, &v) && v != 5;
            board->axes = (uint8_t)v;
            break;
        case KEY_BOARD_ID_HIGH:
            ok = ParseInt32(value, 0, 255, &v);
            board->boardIdHigh = (uint8_t)v;
            break;
        case KEY_ID_NUMBER: ok = ParseIdNumber(value, board->idNumber); break;
    }
    if (ok) return true;
    const char* want = k == KEY_AXES            ? "4 or 6"
                       : k == KEY_BOARD_ID_HIGH ? "a byte"
                       : k == KEY_ID_NUMBER     ? "eight hexadecimal bytes"
                                                : "a 32-bit number";
    return Fail(error, room, "%s:%d: %s '%s': not %s", path, number, key, value, want);
}

static bool ReadSections(FILE* file, const char* path, TlmSimBoardConfig* boards, uint32_t* count, char* error,
                         size_t room) {
    char line[LINE_SIZE];
    int number = 0;
    bool seen[KEY_COUNT] = {};
    TlmSimBoardConfig* board = NULL;
    for (;;) {
        bool end = fgets(line, sizeof line, file) == NULL;
        ++number;
        if (!end && strlen(line) == sizeof line - 1 && line[sizeof line - 2] != '\n')
            return Fail(error, room, "%s:%d: line longer than %d characters", path, number, LINE_SIZE - 2);
        char* text = end ? line : Trim(line);
        if (!end) {
            char* comment = strchr(text, '#');
            if (comment != NULL) *comment = 0;
            text = Trim(text);
            if (*text == 0) continue;
        }
        // A new section or the end of the file closes the section before it.
        if (end || *text == '[') {
            if (board != NULL)
                for (int k = 0; k < KEY_REQUIRED; ++k)
                    if (!seen[k])
                        return Fail(error, room, "%s: board %ld has no %s", path, (long)board->info.ManagementNumber,
                                    KEY_NAMES[k]);
            if (end) return true;
            if (!StartSection(text, path, number, boards, count, error, room)) return false;
            board = &boards[*count - 1];
            memset(seen, 0, sizeof seen);
            continue;
        }
        if (!ReadKey(text, path, number, board, seen, error, room)) return false;
    }
}

bool ReadBoardFile(const char* path, TlmSimBoardConfig* boards, uint32_t* count, char* error, size_t errorRoom) {
    *count = 0;
    FILE* file = fopen(path, "rb");
    if (file == NULL) return Fail(error, errorRoom, "board file '%s': cannot be read", path);
    bool ok = ReadSections(file, path, boards, count, error, errorRoom);
    fclose(file);
    return ok;
}

bool WriteBoardFile(FILE* file, const TlmSimBoardConfig* boards, uint32_t count) {
    fprintf(file, "# Simulated Tellam boards (tlmsimctl boards save)\n");
    for (uint32_t i = 0; i < count; ++i) {
        const TlmSimBoardConfig& b = boards[i];
        fprintf(file,
                "\n[board %ld]\nbus = %ld\ndevice = %ld\nio-address = 0x%lX\nirq = %ld\nboard-id = %ld\n"
                "board-id-high = 0x%02X\naxes = %u\nid-number =",
                (long)b.info.ManagementNumber, (long)b.info.BusNumber, (long)b.info.DeviceNumber,
                (unsigned long)(uint32_t)b.info.IoAddress, (long)b.info.IrqNumber, (long)b.info.BoardId, b.boardIdHigh,
                b.axes);
        for (int j = 0; j < 8; ++j) fprintf(file, " %02X", b.idNumber[j]);
        fprintf(file, "\n");
    }
    return fflush(file) == 0 && !ferror(file);
}
